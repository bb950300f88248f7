// A run stopped at any moment, by a signal it can answer or by one it
// cannot, leaves its folder as the earlier run left it or as a complete run
// of its own: never a mix, never a hidden file. One run writes into a folder
// at a time.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

using Snapshot = std::map<std::string, std::string>;

class InterruptionTest : public OstrandTest {
 protected:
  // Every file below folder with its bytes, by name relative to it.
  Snapshot snapshot(const std::string& folder) const {
    Snapshot found;
    if (!fs::exists(file(folder))) return found;
    for (const auto& entry : fs::recursive_directory_iterator(file(folder)))
      found[fs::relative(entry.path(), file(folder)).string()] =
          entry.is_directory() ? "/" : read(fs::relative(entry.path(), root_).string());
    return found;
  }
  void restore(const std::string& folder, const Snapshot& content) const {
    fs::remove_all(file(folder));
    fs::create_directories(file(folder));
    for (const auto& [name, bytes] : content)
      if (bytes == "/")
        fs::create_directories(file(folder + "/" + name));
      else
        write(folder + "/" + name, bytes);
  }
  std::vector<std::string> bind(const std::string& samples, const std::string& folder) const {
    return {"bind", "--cage", example("cage.obj"), "--target", example("target.obj"), "--samples", samples, "-o", folder};
  }
  // 300 numbered posed cages, deformed into numbered files and a cache in folder.
  std::vector<std::string> deformFrames(const std::string& scene, const std::string& folder) const {
    if (!fs::exists(file("frames"))) {
      fs::create_directories(file("frames"));
      for (int i = 1; i <= 300; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frames/c.%04d.obj", i);
        fs::copy_file(example(i % 2 ? "cage_bend.obj" : "cage_twist.obj"), file(name));
      }
    }
    return {"deform", "--scene", scene, "frames/c.####.obj", "--out-pattern", "d.####.obj",
            "--cache", folder + "/anim.pc2", "-o", folder};
  }
  // Runs the arguments into folder, holding `before`, once per delay, sent
  // signal after the delay; after each the folder holds before or after in
  // full. Returns how many runs ended each way.
  std::map<std::string, int> interruptEach(const std::vector<std::string>& arguments, const std::string& folder,
                                           const Snapshot& before, const Snapshot& after, int signal,
                                           const std::vector<int>& delaysMs) {
    std::map<std::string, int> endings;
    for (int delay : delaysMs) {
      SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(delay) + " ms");
      restore(folder, before);
      const Running run = ostrandStart(arguments, "interrupted");
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      ::kill(run.pid, signal);
      const Outcome outcome = finish(run);
      const Snapshot left = snapshot(folder);
      if (signal == SIGKILL) {
        // What a run killed outright leaves, the next run into the folder
        // puts right before anything else (this one fails on its scene).
        write("broken.json", "{");
        const Outcome next = ostrand({"deform", "--scene", "broken.json", example("cage_bend.obj"), "-o", folder});
        EXPECT_EQ(next.status, 1) << next.err;
      }
      const Snapshot now = snapshot(folder);
      const bool old = now == before, complete = now == after;
      EXPECT_TRUE(old || complete) << outcome.err << listed(now);
      if (signal != SIGKILL) {
        EXPECT_EQ(now, left);  // nothing left for a later run to put right
        // -1: ended by the signal before it could answer it (still starting up).
        EXPECT_TRUE(outcome.status == 0 || outcome.status == 128 + signal || outcome.status == -1)
            << outcome.status << outcome.err;
        if (outcome.status == 128 + signal) {
          EXPECT_NE(outcome.err.find("ostrand: interrupted (SIG"), std::string::npos);
        }
      }
      ++endings[old ? "old" : "new"];
    }
    return endings;
  }
  static std::string listed(const Snapshot& content) {
    std::string names = "\nholds:";
    for (const auto& entry : content) names += " " + entry.first;
    return names;
  }
};

std::vector<int> Delays(int last, int step) {
  std::vector<int> delays;
  for (int delay = 0; delay <= last; delay += step) delays.push_back(delay);
  return delays;
}

TEST_F(InterruptionTest, ABindStoppedAtAnyMomentLeavesTheEarlierRunOrItsOwnInFull) {
  ASSERT_EQ(ostrand(bind("1000", "new")).status, 0);
  const Snapshot after = snapshot("new");
  ASSERT_EQ(ostrand(bind("8", "out")).status, 0);
  const Snapshot before = snapshot("out");
  ASSERT_NE(before, after);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    const std::map<std::string, int> endings =
        interruptEach(bind("1000", "out"), "out", before, after, signal, Delays(signal == SIGINT ? 900 : 500, 100));
    EXPECT_GT(endings.count("old"), 0u);
  }
  // A folder made for the run goes with it.
  const Running run = ostrandStart(bind("1000", "made/deep"), "made");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ::kill(run.pid, SIGTERM);
  const Outcome outcome = finish(run);
  if (outcome.status == 143) {
    EXPECT_FALSE(fs::exists(file("made"))) << outcome.err;
  }
}

TEST_F(InterruptionTest, ADeformOverFramesStoppedAtAnyMomentLeavesTheEarlierRunOrItsOwnInFull) {
  ASSERT_EQ(ostrand(bind("4", "bound")).status, 0);
  ASSERT_EQ(ostrand(deformFrames("bound/scene.json", "new")).status, 0);
  const Snapshot after = snapshot("new");
  ASSERT_EQ(after.size(), 301u);
  // The earlier run: other frames and cache, and a file of the user's.
  ASSERT_EQ(ostrand({"deform", "--scene", "bound/scene.json", example("cage_squash.obj"), example("cage_twist.obj"),
                     "--out-pattern", "d.####.obj", "--cache", "out/anim.pc2", "-o", "out"})
                .status,
            0);
  Snapshot before = snapshot("out");
  before["notes.txt"] = "the user's";
  Snapshot expected = after;
  expected["notes.txt"] = "the user's";
  for (int signal : {SIGTERM, SIGKILL}) interruptEach(deformFrames("bound/scene.json", "out"), "out", before, expected,
                                                      signal, Delays(450, 30));
}

TEST_F(InterruptionTest, ASecondRunIntoTheSameFolderWaitsOrWithNoWaitFailsNamingTheFirst) {
  const Running first = ostrandStart(bind("1000", "out"), "first");
  // Until the first holds the folder's lock.
  for (int i = 0; i < 200 && !fs::exists(file("out/.ostrand-lock")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const Outcome refused = ostrand({"bind", "--no-wait", "--cage", example("cage.obj"), "--target",
                                   example("target.obj"), "--samples", "4", "-o", "out"});
  const Outcome waited = ostrand(bind("4", "out"));
  const Outcome ended = finish(first);
  ASSERT_EQ(ended.status, 0) << ended.err;
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "ostrand: out: another ostrand run (process " + std::to_string(first.pid) +
                             ") is writing into this folder; wait for it to end, or write elsewhere with -o\n");
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_NE(waited.err.find("waiting for another ostrand run (process " + std::to_string(first.pid) + ")"),
            std::string::npos)
      << waited.err;
  // The second ran after the first: its weights are the folder's, with no lock left.
  ASSERT_EQ(ostrand(bind("4", "alone")).status, 0);
  EXPECT_EQ(read("out/weights.cw"), read("alone/weights.cw"));
  EXPECT_EQ(files().count("out/.ostrand-lock"), 0u);
}

TEST_F(InterruptionTest, LeftoversOfAKilledRunAreRecognisedByNameAndPutRight) {
  ASSERT_EQ(ostrand(bind("4", "out")).status, 0);
  const Snapshot finished = snapshot("out");
  // A run killed after it had put its files in place and aside, and begun
  // another: no journal, so the files in place are final.
  write("out/.weights.cw.ostrand-previous", "an earlier run's weights");
  write("out/.preview.png.ostrand-partial", "half a picture");
  write("out/.ostrand-probe-99999", "");
  // A file put aside with nothing in its place comes back.
  write("out/.notes.txt.ostrand-previous", "the user's");
  write("broken.json", "{");
  const Outcome next = ostrand({"deform", "--scene", "broken.json", example("cage_bend.obj"), "-o", "out"});
  EXPECT_EQ(next.status, 1);
  EXPECT_NE(next.err.find("ostrand: out: cleaned up after a run that was killed: 2 unfinished files removed; 1 replaced "
                          "file kept aside removed; 1 file put aside renamed back\n"),
            std::string::npos)
      << next.err;
  Snapshot expected = finished;
  expected["notes.txt"] = "the user's";
  EXPECT_EQ(snapshot("out"), expected);
}

TEST_F(InterruptionTest, ACountOfThreadsForOneRunNeverTouchesTheModulesSettingsFile) {
  const std::string settings = read(settingsFile());
  for (const char* threads : {"1", "3"}) {
    const Running run = ostrandStart({"bind", "--threads", threads, "--cage", example("cage.obj"), "--target",
                                      example("target.obj"), "--samples", "1000", "-o", "out"},
                                     threads);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(read(settingsFile()), settings);  // while it runs, too
    ::kill(run.pid, SIGKILL);
    finish(run);
    EXPECT_EQ(read(settingsFile()), settings);
  }
}

}  // namespace
}  // namespace cli_test
