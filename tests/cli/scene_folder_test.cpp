// A scene folder stands on its own: copied or moved, its scene reads the
// weights beside it, not those of the folder it was written in. A scene
// written before scenes named their folder relatively still works, and says
// whose weights it read.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class SceneFolderTest : public OstrandTest {
 protected:
  std::vector<std::string> bind(const std::string& folder, const std::string& samples = "32") const {
    return {"-q", "bind", "--cage", example("cage.obj"), "--target", example("target.obj"), "--samples", samples,
            "-o", folder};
  }
  // Deforms by the posed cage with the scene into folder; returns the deformed target.
  std::string deformScene(const std::string& scene, const std::string& folder, Outcome& outcome) const {
    outcome = ostrand({"deform", "--scene", scene, example("cage_bend.obj"), "-o", folder});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return read(folder + "/deformed-cage_bend.obj");
  }
  // The same with a weights file and the example's meshes.
  std::string deformWeights(const std::string& weights, const std::string& folder) const {
    EXPECT_EQ(ostrand({"-q", "deform", "--weights", weights, "--cage", example("cage.obj"), "--target",
                       example("target.obj"), example("cage_bend.obj"), "-o", folder})
                  .status,
              0);
    return read(folder + "/deformed-cage_bend.obj");
  }
};

// The summary's line for weights read from a file.
std::string BindTimeLine(const std::string& weights) {
  return "  bind time         none, weights read from " + weights + "\n";
}

// The lines of text that hold both parts.
std::string LinesWith(const std::string& text, const std::string& one, const std::string& other) {
  std::istringstream lines(text);
  std::string found;
  for (std::string line; std::getline(lines, line);)
    if (line.find(one) != std::string::npos && line.find(other) != std::string::npos) found += line + "\n";
  return found;
}

TEST_F(SceneFolderTest, ACopiedFolderReadsItsOwnWeightsAndAnOlderSceneSaysWhoseItRead) {
  ASSERT_EQ(ostrand(bind("A")).status, 0);
  EXPECT_NE(read("A/scene.json").find("\"baseDirectory\": \".\""), std::string::npos);
  fs::copy(file("A"), file("B"), fs::copy_options::recursive);
  ASSERT_EQ(ostrand(bind("A", "4")).status, 0);
  const std::string withB = deformWeights("B/weights.cw", "byB"), withA = deformWeights("A/weights.cw", "byA");
  ASSERT_NE(withA, withB);

  Outcome copied;
  EXPECT_EQ(deformScene("B/scene.json", "outB", copied), withB);
  EXPECT_NE(copied.out.find(BindTimeLine("B/weights.cw")), std::string::npos) << copied.out;
  EXPECT_EQ(copied.err, "");

  // As an earlier version wrote it: the folder it was written in, absolute.
  std::string scene = read("A/scene.json");
  const std::string relative = "\"baseDirectory\": \".\"";
  ASSERT_NE(scene.find(relative), std::string::npos);
  scene.replace(scene.find(relative), relative.size(),
                "\"baseDirectory\": \"" + fs::absolute(file("A")).lexically_normal().string() + "\"");
  write("B/scene.json", scene);
  Outcome older;
  EXPECT_EQ(deformScene("B/scene.json", "outOld", older), withA);
  EXPECT_NE(older.out.find(BindTimeLine("A/weights.cw")), std::string::npos) << older.out;
  EXPECT_NE(LinesWith(older.err, "B/scene.json: its weights were read from A/weights.cw", "outside the scene's folder"),
            "")
      << older.err;
}

TEST_F(SceneFolderTest, AMovedFolderKeepsWorking) {
  ASSERT_EQ(ostrand(bind("A")).status, 0);
  Outcome before, after;
  const std::string deformed = deformScene("A/scene.json", "outA", before);
  fs::rename(file("A"), file("C"));
  EXPECT_EQ(deformScene("C/scene.json", "outC", after), deformed);
  EXPECT_NE(after.out.find(BindTimeLine("C/weights.cw")), std::string::npos) << after.out;
  EXPECT_EQ(after.err, "");
}

}  // namespace
}  // namespace cli_test
