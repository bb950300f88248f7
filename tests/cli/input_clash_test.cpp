// No run writes over one of its own inputs, under whatever name the output
// reaches it: such a run is refused as bad arguments before it changes
// anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class InputClashTest : public OstrandTest {
 protected:
  // Every entry below root_: a folder as "/", a symbolic link as where it
  // points, a file as its bytes.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      const std::string name = fs::relative(entry.path(), root_).string();
      found[name] = entry.is_symlink()     ? "-> " + fs::read_symlink(entry.path()).string()
                    : entry.is_directory() ? "/"
                                           : read(name);
    }
    return found;
  }
  // A PC2 cache of two samples of the posed cage.
  void writeCageCache(const std::string& relative) const {
    std::string bytes("POINTCACHE2\0", 12);
    auto add = [&bytes](const auto value) { bytes.append(reinterpret_cast<const char*>(&value), sizeof value); };
    const ObjMesh pose = ReadObjMesh(example("cage_bend.obj"));
    add(int32_t{1});
    add(static_cast<int32_t>(pose.points.size()));
    add(1.0f);
    add(1.0f);
    add(int32_t{2});
    for (int sample = 0; sample < 2; ++sample)
      for (const auto& point : pose.points)
        for (double coordinate : point) add(static_cast<float>(coordinate));
    write(relative, bytes);
  }
  // Refused with exactly one line starting with line; nothing changed.
  void expectRefused(const std::vector<std::string>& arguments, const std::string& line) const {
    std::string command;
    for (const std::string& word : arguments) command += " " + word;
    SCOPED_TRACE(command);
    const std::map<std::string, std::string> before = snapshot();
    const Outcome outcome = ostrand(arguments);
    EXPECT_EQ(outcome.status, 2) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("ostrand: " + line, 0), 0u) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    const std::map<std::string, std::string> after = snapshot();
    for (const auto& [name, content] : after) EXPECT_TRUE(before.count(name) && before.at(name) == content) << name;
    EXPECT_EQ(after.size(), before.size());
  }
};

TEST_F(InputClashTest, AnOutputThatIsAnInputIsRefusedAndNothingChanges) {
  fs::copy_file(example("cage.obj"), file("c.obj"));
  fs::copy_file(example("target.obj"), file("t.obj"));
  fs::copy_file(example("cage_bend.obj"), file("cage_bend.obj"));
  ASSERT_EQ(ostrand({"-q", "bind", "--cage", "c.obj", "--target", "t.obj", "--samples", "4", "-o", "b"}).status, 0);
  writeCageCache("anim.pc2");
  fs::create_directories(file("fr"));
  fs::copy_file(example("cage_bend.obj"), file("fr/c.0001.obj"));
  fs::copy_file(example("cage_twist.obj"), file("fr/c.0002.obj"));
  fs::create_directories(file("r"));
  fs::copy_file(example("target.obj"), file("r/deformed-cage_bend.obj"));
  fs::create_hard_link(file("c.obj"), file("hard.obj"));
  fs::create_symlink("c.obj", file("soft.obj"));
  fs::create_directories(file("w"));
  fs::create_symlink("../t.obj", file("w/weights.cw"));
  fs::create_directories(file("s"));
  fs::create_hard_link(file("c.obj"), file("s/scene.json"));

  const std::vector<std::string> bind = {"bind", "--cage", "c.obj", "--target", "t.obj"};
  auto with = [](std::vector<std::string> first, const std::vector<std::string>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
  };
  // -o out is not there: no run may leave it behind.
  expectRefused({"deform", "--scene", "b/scene.json", "cage_bend.obj", "--preview", "b/weights.cw", "-o", "b"},
                "--preview b/weights.cw is an input of this run: the scene's weights");
  expectRefused(with(bind, {"--preview", "t.obj", "--preview-color", "error", "-o", "out"}),
                "--preview t.obj is an input of this run: the target (--target)");
  expectRefused({"deform", "--scene", "b/scene.json", "anim.pc2", "--cache", "anim.pc2", "-o", "out"},
                "--cache anim.pc2 is an input of this run: the posed cage cache");
  expectRefused({"deform", "--scene", "b/scene.json", "fr/c.####.obj", "--out-pattern", "c.####.obj", "-o", "fr"},
                "--out-pattern c.####.obj (fr/c.0001.obj) is an input of this run: a posed cage");
  expectRefused({"run", "--cage", "c.obj", "--target", "r/deformed-cage_bend.obj", "cage_bend.obj", "-o", "r"},
                "-o r (r/deformed-cage_bend.obj) is an input of this run: the target (--target)");
  // Other names of an input: the message names the file under the input's name too.
  expectRefused(with(bind, {"--preview", "hard.obj", "--preview-color", "error", "-o", "out"}),
                "--preview hard.obj is an input of this run: the cage (--cage) (c.obj)");
  expectRefused(with(bind, {"--preview", "soft.obj", "--preview-color", "error", "-o", "out"}),
                "--preview soft.obj is an input of this run: the cage (--cage) (c.obj)");
  expectRefused(with(bind, {"-o", "w"}), "-o w (w/weights.cw) is an input of this run: the target (--target) (t.obj)");
  expectRefused(with(bind, {"-o", "s"}), "-o s (s/scene.json) is an input of this run: the cage (--cage) (c.obj)");
  // A frame pattern never leads out of the output folder.
  for (const std::string& pattern : {std::string("../x.####.obj"), file("x.####.obj")})
    expectRefused({"deform", "--scene", "b/scene.json", "fr/c.####.obj", "--out-pattern", pattern, "-o", "out"},
                  "--out-pattern: ");
  // Nor through a link inside it.
  std::filesystem::create_directories(file("o"));
  std::filesystem::create_directory_symlink("..", file("o/up"));
  expectRefused({"deform", "--scene", "b/scene.json", "fr/c.####.obj", "--out-pattern", "up/x.####.obj", "-o", "o"},
                "--out-pattern: ");

  // A deform writes neither weights nor scene, so reading them from its
  // output folder is fine, and leaves them as they were.
  const std::string weights = read("b/weights.cw"), scene = read("b/scene.json");
  EXPECT_EQ(ostrand({"-q", "deform", "--weights", "b/weights.cw", "--cage", "c.obj", "--target", "t.obj",
                     "cage_bend.obj", "-o", "b"})
                .status,
            0);
  EXPECT_EQ(ostrand({"-q", "deform", "--scene", "b/scene.json", "cage_bend.obj", "-o", "b"}).status, 0);
  EXPECT_TRUE(read("b/weights.cw") == weights && read("b/scene.json") == scene);
  EXPECT_TRUE(fs::exists(file("b/deformed-cage_bend.obj")));
}

// A deform from a scene copies the target's OBJ file the scene names for
// each deformed target: that file is read by the run, so it is an input.
TEST_F(InputClashTest, TheTargetFileAScenesTargetWasReadFromIsAnInput) {
  fs::create_directories(file("q"));
  fs::copy_file(example("target.obj"), file("q/deformed-cage_bend.obj"));
  ASSERT_EQ(ostrand({"-q", "bind", "--cage", example("cage.obj"), "--target", "q/deformed-cage_bend.obj", "--samples",
                     "4", "-o", "s"})
                .status,
            0);
  expectRefused({"deform", "--scene", "s/scene.json", example("cage_bend.obj"), "-o", "q"},
                "-o q (q/deformed-cage_bend.obj) is an input of this run: ");
}

}  // namespace
}  // namespace cli_test
