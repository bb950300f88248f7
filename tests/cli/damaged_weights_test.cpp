// Weights files that no bind writes: weights patched to NaN, an infinity or
// an absurd size are refused by deform from the scene and from the file,
// naming the file and the points, with nothing written; a file bound with a
// setup weight map and read without one says so; the unscaled weights of a
// cage too large to bind are no damage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class DamagedWeightsTest : public OstrandTest {
 protected:
  Outcome bind(const std::string& output, const std::vector<std::string>& more = {}) const {
    std::vector<std::string> arguments = {"bind",  "--samples", "6", "--cage", example("cage.obj"), "--target",
                                          example("target.obj"), "-o", output};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return ostrand(arguments);
  }
  Outcome deformWeights(const std::string& weights, const std::string& output,
                        const std::vector<std::string>& more = {}) const {
    std::vector<std::string> arguments = {"deform", "--weights", weights, "--cage", example("cage.obj"), "--target",
                                          example("target.obj"), example("cage_bend.obj"), "-o", output};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return ostrand(arguments);
  }
  // Sets the first weight of the given point (from 1) in a weights file:
  // header of 5 words, the target's 3, then per point its number, its count
  // and count pairs of cage point and weight, every word 32-bit big-endian.
  void patchWeight(const std::string& relative, uint32_t point, float value) const {
    std::string bytes = read(relative);
    const auto word = [&](size_t at) {
      return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
             uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
    };
    size_t at = 32;
    for (uint32_t row = 0; row < word(24) && word(at) != point - 1; ++row) at += 8 + 8 * size_t{word(at + 4)};
    ASSERT_LT(at, bytes.size()) << "point " << point << " holds no weights";
    ASSERT_GT(word(at + 4), 0u);
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    for (int k = 0; k < 4; ++k) bytes[at + 12 + k] = char(bits >> (24 - 8 * k));
    std::ofstream(file(relative), std::ios::binary | std::ios::trunc) << bytes;
  }
};

TEST_F(DamagedWeightsTest, DeformRefusesThemFromTheSceneAndTheFileWritingNothing) {
  ASSERT_EQ(bind("bound").status, 0);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* folder;
    std::vector<std::pair<uint32_t, float>> patches;
    const char* problem;
  } cases[] = {
      {"nan", {{17, nan}, {240, nan}}, "2 points hold weights that are not finite numbers: 17, 240"},
      {"inf", {{5, -inf}}, "1 point holds weights that are not finite numbers: 5"},
      {"huge", {{3138, 1e37f}}, "1 point holds weights that do not add up to 1: 3138 (sum 1e+37)"},
  };
  for (const auto& c : cases) {
    fs::copy(file("bound"), file(c.folder));
    for (const auto& [point, value] : c.patches) patchWeight(std::string(c.folder) + "/weights.cw", point, value);
    const std::string expected =
        "ostrand: " + std::string(c.folder) + "/weights.cw: " + c.problem + "; the file is damaged\n";
    const Outcome fromScene =
        ostrand({"deform", "--scene", std::string(c.folder) + "/scene.json", example("cage_bend.obj"), "-o", "out"});
    EXPECT_EQ(fromScene.status, 1) << c.folder;
    EXPECT_EQ(fromScene.err, expected);
    const Outcome fromFile = deformWeights(std::string(c.folder) + "/weights.cw", "out");
    EXPECT_EQ(fromFile.status, 1) << c.folder;
    EXPECT_EQ(fromFile.err, expected);
    EXPECT_FALSE(fs::exists(file("out"))) << c.folder;
  }
  // The file as bound deforms.
  EXPECT_EQ(deformWeights("bound/weights.cw", "out").status, 0);
}

TEST_F(DamagedWeightsTest, AFileBoundWithASetupWeightMapAndReadWithoutOneSaysSo) {
  std::string setup, other;
  for (int k = 0; k < 3138; ++k) {
    setup += k < 812 ? "1\n" : "0\n";
    other += k < 500 ? "1\n" : "0\n";
  }
  write("setup.txt", setup);
  write("other.txt", other);
  ASSERT_EQ(bind("part", {"--setup-weights", "setup.txt"}).status, 0);
  const Outcome without = deformWeights("part/weights.cw", "out");
  EXPECT_EQ(without.status, 1);
  EXPECT_EQ(without.err,
            "ostrand: part/weights.cw: the module read no weights from it: it holds weights for 812 of the target's "
            "3138 points, so it was likely bound with a setup weight map; give the same --setup-weights\n");
  // Another map is not the hint's case.
  const Outcome another = deformWeights("part/weights.cw", "out", {"--setup-weights", "other.txt"});
  EXPECT_EQ(another.status, 1);
  EXPECT_EQ(another.err,
            "ostrand: part/weights.cw: the module read no weights from it: it was not made for this cage and target "
            "with this setup weight map, or is damaged\n");
  EXPECT_FALSE(fs::exists(file("out")));
}

// On a cage some 3e7 across and more, the module leaves each point's weights
// unscaled (they add up to 1e-6 or less): deforming still reads them.
TEST_F(DamagedWeightsTest, TheUnscaledWeightsOfAVeryLargeCageAreNoDamage) {
  for (const char* name : {"cage.obj", "target.obj"}) {
    std::string text;
    const ObjMesh mesh = ReadObjMesh(example(name));
    for (const auto& p : mesh.points)
      text += "v " + std::to_string(p[0] * 1e8) + " " + std::to_string(p[1] * 1e8) + " " + std::to_string(p[2] * 1e8) +
              "\n";
    for (const auto& polygon : mesh.polygons) {
      text += "f";
      for (int corner : polygon) text += " " + std::to_string(corner + 1);
      text += "\n";
    }
    write(std::string("large-") + name, text);
  }
  const std::vector<std::string> meshes = {"--cage", "large-cage.obj", "--target", "large-target.obj"};
  std::vector<std::string> arguments = {"bind", "--samples", "6", "-q", "-o", "large"};
  arguments.insert(arguments.end(), meshes.begin(), meshes.end());
  const Outcome bound = ostrand(arguments);
  ASSERT_EQ(bound.status, 0) << bound.err;
  arguments = {"deform", "-q", "--weights", "large/weights.cw", "-o", "out", "large-cage.obj"};
  arguments.insert(arguments.end(), meshes.begin(), meshes.end());
  const Outcome deformed = ostrand(arguments);
  EXPECT_EQ(deformed.status, 0) << deformed.err;
  EXPECT_EQ(deformed.err.find("damaged"), std::string::npos) << deformed.err;
}

}  // namespace
}  // namespace cli_test
