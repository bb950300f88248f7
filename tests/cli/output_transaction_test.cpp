// One run's outputs land together or not at all: a run that fails after it
// has started writing leaves its folders exactly as they were, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

// The names whose entries differ between two snapshots, one a line ("" when
// none do), so that a failure says which file a run left behind or changed.
std::string Differences(const std::map<std::string, std::string>& was, const std::map<std::string, std::string>& is) {
  std::string found;
  for (const auto& [name, bytes] : was)
    if (is.count(name) == 0 || is.at(name) != bytes) found += name + (is.count(name) ? " changed\n" : " gone\n");
  for (const auto& [name, bytes] : is)
    if (was.count(name) == 0) found += name + " new\n";
  return found;
}

class OutputTransactionTest : public OstrandTest {
 protected:
  // Every entry below root_ with its bytes ("" for a folder).
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> found;
    for (const std::string& name : files()) found[name] = name.back() == '/' ? "" : read(name);
    return found;
  }
  // "run" writing every kind of output: weights, scene, two deformed targets
  // (the second fails after the first is in place) and the preview.
  std::vector<std::string> run(const std::string& samples, const std::string& output,
                               const std::string& preview) const {
    return {"-q",     "run",   "--samples", samples, "--cage",    example("cage.obj"),    "--target",
            example("target.obj"), "-o", output,  "--preview", preview, example("cage_twist.obj"),
            example("cage_bend.obj")};
  }
};

// A folder where the command puts a file (its temporary name, or the name the
// file it replaces is kept under) lets every check before the run pass and
// stops the run when it reaches that file.
TEST_F(OutputTransactionTest, AFailureAtAnyOutputLeavesTheFolderAsItWas) {
  ASSERT_EQ(ostrand(run("2", "out", "out/preview.png")).status, 0);
  const std::map<std::string, std::string> first = snapshot();
  ASSERT_EQ(first.size(), 6u);  // the folder and its five files

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"out/.weights.cw.ostrand-partial", "out/weights.cw"},
      {"out/.weights.cw.ostrand-previous", "out/weights.cw"},  // moving the earlier file aside fails
      {"out/.deformed-cage_twist.obj.ostrand-partial", "out/deformed-cage_twist.obj"},
      {"out/.deformed-cage_bend.obj.ostrand-partial", "out/deformed-cage_bend.obj"},
      {"out/.preview.png.ostrand-partial", "out/preview.png"},
      {"out/.scene.json.ostrand-partial", "out/scene.json"},  // the last file written
  };
  for (const auto& [blocker, subject] : cases) {
    SCOPED_TRACE(blocker);
    std::filesystem::create_directory(file(blocker));
    const std::map<std::string, std::string> before = snapshot();
    Outcome outcome = ostrand(run("3", "out", "out/preview.png"));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.rfind("ostrand: " + subject + ": ", 0), 0u) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.err.find("ostrand-partial"), std::string::npos) << outcome.err;  // the user's names only
    EXPECT_EQ(Differences(before, snapshot()), "");
    std::filesystem::remove(file(blocker));
  }
  EXPECT_EQ(Differences(first, snapshot()), "");

  // Folders the failed run made are gone again, though files were written into them.
  std::filesystem::create_directories(file("pictures/.p.png.ostrand-partial"));
  Outcome fresh = ostrand(run("3", "new/deep", "pictures/p.png"));
  EXPECT_EQ(fresh.status, 1);
  EXPECT_EQ(fresh.err.rfind("ostrand: pictures/p.png: ", 0), 0u) << fresh.err;
  EXPECT_FALSE(std::filesystem::exists(file("new")));
  std::filesystem::remove_all(file("pictures"));

  // What the failed runs would have written differs, so the checks above see
  // a file left by them; a run that succeeds replaces every file and leaves
  // nothing of its own beside them.
  ASSERT_EQ(ostrand(run("3", "out", "out/preview.png")).status, 0);
  const std::map<std::string, std::string> second = snapshot();
  ASSERT_EQ(second.size(), first.size());
  for (const auto& [name, bytes] : first) {
    EXPECT_EQ(second.count(name), 1u) << name;
    if (name != "out/" && name != "out/preview.png") {  // the picture may look the same
      EXPECT_NE(second.at(name), bytes) << name;
    }
  }
}

// Outputs that could never be put in place are refused before any work.
TEST_F(OutputTransactionTest, OutputsThatCannotBeWrittenAreRefusedFirst) {
  write("out/keep.txt", "kept\n");
  std::filesystem::create_directory(file("a-folder.png"));
  const std::map<std::string, std::string> before = snapshot();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a-folder.png", "a-folder.png: cannot be written: a folder of that name is there"},
      {"out/deformed-cage_bend.obj", "out/deformed-cage_bend.obj: is written twice in one run"},
      {"out/./weights.cw", "out/./weights.cw: is written twice in one run"},
  };
  for (const auto& [preview, message] : cases) {
    std::vector<std::string> arguments = run("2", "out", preview);
    arguments.erase(arguments.begin());  // not quiet: no progress shows that no work started
    Outcome outcome = ostrand(arguments);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.rfind("ostrand: " + message, 0), 0u) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(Differences(before, snapshot()), "");
  }
}

}  // namespace
}  // namespace cli_test
