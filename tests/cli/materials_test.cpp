// The materials of deformed OBJ files: found from wherever the files are
// written, or copied along with their textures.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class MaterialsTest : public OstrandTest {
 protected:
  // A target in in/ naming two libraries (one with a space in its name, one
  // in a folder below); the first names a texture below it, one outside its
  // folder (with options before its name) and one that is not there.
  void SetUp() override {
    OstrandTest::SetUp();
    fs::create_directories(root_ / "in" / "lib" / "maps");
    fs::create_directories(root_ / "shared");
    write("in/target.obj", "mtllib wood grain.mtl\nmtllib lib/metal.mtl\nusemtl wood\n" + read(example("target.obj")));
    write("in/wood grain.mtl",
          "newmtl wood\nmap_Kd lib/maps/wood.png\nmap_Bump -bm 0.5 -s 1 1 1 ../shared/bump.png\nmap_Ks gone.png\n");
    write("in/lib/metal.mtl", "newmtl metal\nmap_Kd maps/metal.png\n");
    write("in/lib/maps/wood.png", "wood");
    write("in/lib/maps/metal.png", "metal");
    write("shared/bump.png", "bump");
  }

  Outcome run(const std::string& output, const std::vector<std::string>& more = {}) const {
    std::vector<std::string> arguments = {"run",   "--samples", "8",  "--cage", example("cage.obj"), "--target",
                                          "in/target.obj", example("cage_bend.obj"), "-o", output};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return ostrand(arguments);
  }

  std::string firstLines(const std::string& path, int count) const {
    std::string text = read(path), lines;
    for (size_t at = 0; count-- > 0 && at < text.size(); at = text.find('\n', at) + 1)
      lines += text.substr(at, text.find('\n', at) - at + 1);
    return lines;
  }
};

TEST_F(MaterialsTest, DeformedFilesNameTheTargetsLibrariesFromWhereTheyAre) {
  const Outcome elsewhere = run("out/deep");
  ASSERT_EQ(elsewhere.status, 0) << elsewhere.err;
  EXPECT_EQ(firstLines("out/deep/deformed-cage_bend.obj", 2),
            "mtllib ../../in/wood grain.mtl\nmtllib ../../in/lib/metal.mtl\n");
  EXPECT_TRUE(fs::equivalent(root_ / "out/deep/../../in/wood grain.mtl", root_ / "in/wood grain.mtl"));
  EXPECT_FALSE(fs::exists(root_ / "out/deep/lib"));

  const Outcome beside = run("in");
  ASSERT_EQ(beside.status, 0) << beside.err;
  EXPECT_EQ(firstLines("in/deformed-cage_bend.obj", 2), "mtllib wood grain.mtl\nmtllib lib/metal.mtl\n");
}

TEST_F(MaterialsTest, CopiedLibrariesAndTexturesTravelWithTheFiles) {
  const Outcome copied = run("out", {"--copy-materials"});
  ASSERT_EQ(copied.status, 0) << copied.err;
  EXPECT_EQ(firstLines("out/deformed-cage_bend.obj", 2), "mtllib wood grain.mtl\nmtllib lib/metal.mtl\n");
  EXPECT_EQ(read("out/lib/maps/wood.png"), "wood");
  EXPECT_EQ(read("out/lib/maps/metal.png"), "metal");
  EXPECT_EQ(read("out/lib/metal.mtl"), read("in/lib/metal.mtl"));
  // The texture outside the library's folder comes beside it, named so.
  EXPECT_EQ(read("out/bump.png"), "bump");
  EXPECT_EQ(read("out/wood grain.mtl"),
            "newmtl wood\nmap_Kd lib/maps/wood.png\nmap_Bump -bm 0.5 -s 1 1 1 bump.png\nmap_Ks gone.png\n");
  EXPECT_NE(copied.err.find("the texture \"gone.png\" is not there"), std::string::npos) << copied.err;

  // Copied into the folder they are in, nothing is copied or changed.
  const Outcome beside = run("in", {"--copy-materials"});
  ASSERT_EQ(beside.status, 0) << beside.err;
  EXPECT_EQ(read("in/lib/metal.mtl"), "newmtl metal\nmap_Kd maps/metal.png\n");

  // Under --strict the missing texture fails the run and nothing is written.
  const Outcome strict = run("strict", {"--copy-materials", "--strict"});
  EXPECT_EQ(strict.status, 1);
  EXPECT_FALSE(fs::exists(root_ / "strict")) << strict.err;
}

}  // namespace
}  // namespace cli_test
