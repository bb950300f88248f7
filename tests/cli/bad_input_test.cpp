// Every bad input: one line on stderr naming the file and the problem, exit
// status 1, and nothing written.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

struct BadCase {
  std::vector<std::string> arguments;
  std::string subject;  // what the line names, after "ostrand: "
  std::string problem;  // a part of what it says is wrong
};

class BadInputTest : public OstrandTest {
 protected:
  void SetUp() override {
    OstrandTest::SetUp();
    std::ifstream in(example("cage.obj"));
    std::stringstream text;
    text << in.rdbuf();
    cage_ = text.str();
  }
  // The example cage with its first line that starts with start replaced by
  // line ("" drops it).
  std::string cageWith(const std::string& start, const std::string& line) const {
    std::istringstream in(cage_);
    std::string edited, original;
    bool done = false;
    while (std::getline(in, original)) {
      const bool replace = !done && original.rfind(start, 0) == 0;
      done = done || replace;
      if (!replace)
        edited += original + "\n";
      else if (!line.empty())
        edited += line + "\n";
    }
    return edited;
  }
  // "run" on the examples with a few changes: each pair replaces an argument.
  std::vector<std::string> run(std::vector<std::pair<std::string, std::string>> changes = {},
                               std::vector<std::string> extra = {}) const {
    std::vector<std::string> arguments = {"run",      "--samples",           "2",  "--cage", example("cage.obj"),
                                          "--target", example("target.obj"), "-o", "out",    example("cage_twist.obj")};
    for (const auto& [option, value] : changes) {
      auto at = std::find(arguments.begin(), arguments.end(), option);
      if (at == arguments.end())
        arguments.insert(arguments.begin() + 1, {option, value});
      else
        *(at + 1) = value;
    }
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }
  std::vector<std::string> fromWeights(const std::string& weights, const std::string& target) const {
    return {"deform",   "--weights", weights, "--cage", example("cage.obj"),
            "--target", target,      "-o",    "out",    example("cage_twist.obj")};
  }
  std::string cage_;
};

TEST_F(BadInputTest, EachGivesOneLineNamingTheFileAndWritesNothing) {
  write("nan.obj", cageWith("v ", "v 1.25 nan 0"));
  write("huge.obj", cageWith("v ", "v 1.25 -1.5 1e999"));
  write("short-vertex.obj", cageWith("v ", "v 1.25 -1.5"));
  write("garbage.obj", "this is no mesh\n");
  write("range.obj", cage_ + "f 1 2 99\n");
  write("two-corners.obj", cage_ + "f 1 2\n");
  write("empty.obj", "");
  write("points-only.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
  write("extra-point.obj", cage_ + "v 0 0 0\n");
  write("fewer-polygons.obj", cageWith("f ", ""));
  write("folder/keep", "");
  write("short.txt", "1\n0.5\n");
  std::string notANumber, twoPerLine;
  for (int k = 0; k < 3138; ++k) {
    notANumber += k == 1 ? "abc\n" : "1\n";
    twoPerLine += k == 7 ? "0.5 0.5\n" : "1\n";
  }
  write("not-a-number.txt", notANumber);
  write("two-per-line.txt", twoPerLine);
  write("garbage.cw", std::string(64, '\x07'));
  write("notjson.json", "{\"orreryScene\": 1,");
  write("broken.json", "{\n  \"orreryScene\": 1,\n  \"objects\": [}\n");
  write("a-file", "");
  // Weights made for another target of the same cage.
  write("small.obj", "v 0 0 0\nv 0.2 0 0\nv 0 0.2 0\nf 1 2 3\n");
  for (const char* folder : {"small", "lost"}) {
    Outcome bound =
        ostrand({"-q", "bind", "--samples", "2", "--cage", example("cage.obj"), "--target", "small.obj", "-o", folder});
    ASSERT_EQ(bound.status, 0) << bound.err;
  }
  // A scene whose weights file is gone.
  std::filesystem::remove(file("lost/weights.cw"));

  const std::vector<BadCase> cases = {
      {run({{"--cage", "missing.obj"}}), "missing.obj", "no such file"},
      {run({{"--target", "folder"}}), "folder", "is a folder"},
      {run({{"--cage", "garbage.obj"}}), "garbage.obj:1", "not an OBJ statement"},
      {run({{"--cage", "range.obj"}}), "range.obj:46", "refers to vertex 99"},
      {run({{"--cage", "two-corners.obj"}}), "two-corners.obj:46", "at least three corners"},
      {run({{"--cage", "short-vertex.obj"}}), "short-vertex.obj:2", "three coordinates"},
      {run({{"--target", "empty.obj"}}), "empty.obj", "no points"},
      {run({{"--target", "points-only.obj"}}), "points-only.obj", "no polygons"},
      {run({{"--cage", "nan.obj"}}), "nan.obj:2", "\"nan\" is not a finite number"},
      {run({{"--cage", "huge.obj"}}), "huge.obj:2", "\"1e999\" is not a finite number"},
      {run({}, {"extra-point.obj"}), "extra-point.obj", "25 points and 20 polygons, the bound cage 24 and 20"},
      {run({}, {"fewer-polygons.obj"}), "fewer-polygons.obj", "24 points and 19 polygons"},
      {run({}, {"nan.obj"}), "nan.obj:2", "not a finite number"},
      // Fails once the output folders are made: they go again, the deeper one too.
      {run({{"--blend-weights", "short.txt"}, {"-o", "new/deep"}, {"--preview", "pictures/p.png"}}),
       "short.txt",
       "holds 2 values, but the target has 3138 points"},
      {run({{"--setup-weights", "not-a-number.txt"}}), "not-a-number.txt:2", "\"abc\" is not a number"},
      {run({{"--blend-weights", "two-per-line.txt"}}), "two-per-line.txt:8", "one value per line"},
      {run({{"--setup-weights", "missing.txt"}}), "missing.txt", "no such file"},
      {fromWeights("small/weights.cw", example("target.obj")), "small/weights.cw", "read no weights"},
      {fromWeights("garbage.cw", example("target.obj")), "garbage.cw", "read no weights"},
      {fromWeights("missing.cw", example("target.obj")), "missing.cw", "no such file"},
      {{"deform", "--scene", "missing.json", "-o", "out", example("cage_twist.obj")}, "missing.json", "no such file"},
      {{"deform", "--scene", "notjson.json", "-o", "out", example("cage_twist.obj")},
       "notjson.json:1",
       "not valid JSON: unexpected end of input"},
      {{"deform", "--scene", "broken.json", "-o", "out", example("cage_twist.obj")},
       "broken.json:3",
       "not valid JSON at column 15: unexpected \"}\""},
      {{"deform", "--scene", "lost/scene.json", "-o", "out", example("cage_squash.obj")},
       "lost/scene.json",
       "the weights file \"weights.cw\" is missing"},
      {run({{"-o", "a-file/out"}}), "a-file/out", "cannot be the output folder: a-file is not a folder"},
      {run({{"--preview", "a-file/p.png"}}), "a-file", "cannot be the preview's folder: it is not a folder"},
      // Passes a look at the permissions, fails when made.
      {run({{"-o", "/proc/ostrand-out"}}), "/proc/ostrand-out", "cannot be the output folder: making /proc/"},
  };
  const std::set<std::string> before = files();
  for (const BadCase& bad : cases) {
    SCOPED_TRACE(bad.subject + " / " + bad.problem);
    Outcome outcome = ostrand(bad.arguments);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.rfind("ostrand: " + bad.subject + ": ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(bad.problem), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.err.find("exception"), std::string::npos) << outcome.err;  // no library's words
    EXPECT_EQ(outcome.out, "");  // refused before any work, so no progress either
    EXPECT_EQ(files(), before);
  }
}

// Devices, FIFOs and sockets, named for any input, are refused before they
// are opened: /dev/zero would be read without end, and a FIFO's open waits
// for a writer that never comes. Each run is killed should it still be going
// after 20 s.
TEST_F(BadInputTest, InputsThatAreNoRegularFilesAreRefusedAtOnce) {
  for (const char* name : {"fifo.obj", "fifo.pc2", "fifo.txt", "fifo.cw", "fifo.json"})
    ASSERT_EQ(::mkfifo(file(name).c_str(), 0644), 0) << name;
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = file("socket.obj");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(listener);
  std::filesystem::create_symlink("/dev/zero", file("zero.obj"));
  std::filesystem::create_symlink(example("cage.obj"), file("link.obj"));

  const std::string device = "is not a regular file (a character device)", fifo = "is not a regular file (a FIFO)";
  // "run" with this one posed cage, or animation.
  auto posed = [&](const std::string& pose) {
    std::vector<std::string> arguments = run();
    arguments.back() = pose;
    return arguments;
  };
  const std::vector<BadCase> cases = {
      {{"check", "--cage", "/dev/zero"}, "/dev/zero", device},
      {{"check", "--cage", "fifo.obj"}, "fifo.obj", fifo},
      {{"check", "--cage", "zero.obj"}, "zero.obj", device},
      {{"check", "--cage", "socket.obj"}, "socket.obj", "is not a regular file (a socket)"},
      {{"check", "--cage", example("cage.obj"), "--target", "fifo.obj"}, "fifo.obj", fifo},
      {run({{"--target", "/dev/zero"}}), "/dev/zero", device},
      {run({{"--setup-weights", "fifo.txt"}}), "fifo.txt", fifo},
      {run({{"--blend-weights", "/dev/zero"}}), "/dev/zero", device},
      {posed("fifo.obj"), "fifo.obj", fifo},
      {posed("/dev/zero"), "/dev/zero", device},
      {posed("fifo.pc2"), "fifo.pc2", fifo},
      {fromWeights("fifo.cw", example("target.obj")), "fifo.cw", fifo},
      {{"deform", "--scene", "fifo.json", "-o", "out", example("cage_twist.obj")}, "fifo.json", fifo},
  };
  const std::set<std::string> before = files();
  for (const BadCase& bad : cases) {
    SCOPED_TRACE(bad.arguments.front() + " ... " + bad.subject);
    const Outcome outcome = ostrandWithin(std::chrono::seconds(20), bad.arguments);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "ostrand: " + bad.subject + ": " + bad.problem + "\n");
    EXPECT_EQ(files(), before);
  }
  // A link to a regular file is read as the file.
  const Outcome linked = ostrandWithin(std::chrono::seconds(20), {"check", "--cage", "link.obj"});
  EXPECT_EQ(linked.status, 0) << linked.err;
}

// Bad arguments: one line naming the option, or the argument nothing takes,
// in our words (not the argument library's), exit status 2, nothing written.
TEST_F(BadInputTest, BadArgumentsNameTheOptionInOurWords) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {run({{"--samples", "abc"}}), "--samples: \"abc\" is not a whole number (1 to 1000)"},
      {run({{"--samples", "1001"}}), "--samples: \"1001\" is out of range (1 to 1000)"},
      {run({{"--threads", "0x10"}}), "--threads: \"0x10\" is not a whole number (1 to 128)"},
      // NaN passes any comparison with the bounds.
      {run({{"--weight-floor", "nan"}}), "--weight-floor: \"nan\" is not a finite number (0 to 1)"},
      {run({}, {"--samples"}), "--samples: needs a value"},
      {run({}, {"--samples", "3"}), "--samples: given more than once"},
      {{"bind", "--cage", "c.obj"}, "--target: missing; bind needs it"},
      {{"deform", "--scene", "s.json", "--cage", "c.obj", "p.obj"}, "--scene: cannot be given with --cage"},
      {{"bind", "--cage", "c.obj", "--target", "t.obj", "--preview", "p.png"},
       "--preview: bind has no posed cage to show; add --preview-color error"},
      {{"frobnicate"}, "frobnicate: no such command; the commands are example, bind, deform, run and check"},
  };
  for (const auto& [arguments, line] : cases) {
    Outcome outcome = ostrand(arguments);
    EXPECT_EQ(outcome.status, 2) << line;
    EXPECT_EQ(outcome.err, "ostrand: " + line + "\n");
  }
  EXPECT_TRUE(files().empty());

  // What passed the check is what is used: "010" is ten, not octal eight.
  Outcome decimal = ostrand(run({{"--samples", "010"}}));
  EXPECT_EQ(decimal.status, 0) << decimal.err;
  EXPECT_NE(decimal.out.find("(10 samples,"), std::string::npos) << decimal.out;
}

TEST_F(BadInputTest, AMissingModuleIsNamedAndABareFileNameIsTheFileHere) {
  Outcome outcome = ostrandBare({"--module", "nowhere/libOstrand64.so", "example", "-o", "out"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "ostrand: nowhere/libOstrand64.so: no such module file\n");
  EXPECT_TRUE(files().empty());

  // Not a library for the system to search for: the file in this folder.
  std::filesystem::copy_file(std::filesystem::path(settingsFile()).parent_path() / "libOstrand64.so",
                             file("libOstrand64.so"));
  outcome = ostrandBare({"--module", "libOstrand64.so", "example", "--samples", "2", "-o", "out", "-q"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
}

TEST_F(BadInputTest, AFailedRunKeepsTheEarlierOutput) {
  ASSERT_EQ(ostrand({"-q", "example", "--samples", "2", "-o", "out"}).status, 0);
  const std::string before = read("out/deformed-cage_twist.obj");
  write("broken.obj", cage_ + "v 0 0 0\n");
  Outcome outcome =
      ostrand({"deform", "--scene", "out/scene.json", "-o", "out", example("cage_twist.obj"), "broken.obj"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(read("out/deformed-cage_twist.obj"), before);
  for (const std::string& name : files()) EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
}

}  // namespace
}  // namespace cli_test
