// Animated cages through the command: a frame of a cache, of numbered files,
// of a folder or of a wildcard pattern deforms exactly as the same posed cage
// given alone; caches are written with the deformed frames and their times;
// bad animations are refused before any work and leave the folders as they
// were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>

#include "host/obj_file.h"
#include "host/point_cache.h"
#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using host::PointCacheFormat;

class AnimationTest : public OstrandTest {
 protected:
  void SetUp() override {
    OstrandTest::SetUp();
    const Outcome bound = ostrand({"-q", "bind", "--samples", "6", "--cage", example("cage.obj"), "--target",
                                   example("target.obj"), "-o", "bound"});
    ASSERT_EQ(bound.status, 0) << bound.err;
    const host::ObjFile cage = host::ReadObjFile(example("cage.obj"));
    rest_ = cage.mesh.points;
    for (size_t j = 0; j < cage.mesh.polygons.size(); ++j) {
      faces_ += "f";
      for (int32_t point : cage.mesh.polygons[j]) faces_ += " " + std::to_string(point + 1);
      faces_ += "\n";
    }
  }
  // The rest cage swayed by amount, in float32 steps so that a cache holds it exactly.
  std::vector<Vec3> swayed(double amount) const {
    std::vector<Vec3> points;
    for (const Vec3& p : rest_) points.push_back({float(p.x + amount * p.y * p.y), float(p.y), float(p.z + amount)});
    return points;
  }
  void writeCage(const std::string& name, const std::vector<Vec3>& points) const {
    std::string text;
    for (const Vec3& p : points)
      text += "v " + host::NumberText(p.x) + " " + host::NumberText(p.y) + " " + host::NumberText(p.z) + "\n";
    write(name, text + faces_);
  }
  void writeCache(const std::string& name, PointCacheFormat format, const std::vector<std::vector<Vec3>>& frames) const {
    host::PointCacheHeader header;
    header.format = format;
    header.points = static_cast<uint32_t>(frames.at(0).size());
    header.frames = static_cast<uint32_t>(frames.size());
    header.startFrame = 1;
    for (size_t k = 0; k < frames.size() && format == PointCacheFormat::kMdd; ++k) header.times.push_back(float(k + 1) / 24);
    fs::create_directories(fs::path(file(name)).parent_path());
    host::PointCacheWriter writer(file(name), header);
    for (const auto& frame : frames) writer.writeFrame(frame);
    writer.close();
  }
  std::vector<std::string> deform(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"deform", "--scene", "bound/scene.json"});
    return arguments;
  }
  std::vector<Vec3> rest_;
  std::string faces_;
};

// The frames of a cache as read back.
std::vector<std::vector<Vec3>> CacheFrames(const std::string& path, PointCacheFormat format,
                                           host::PointCacheHeader* header = nullptr) {
  host::PointCacheReader reader(path, format);
  if (header) *header = reader.header();
  std::vector<std::vector<Vec3>> frames(reader.header().frames);
  for (uint32_t k = 0; k < frames.size(); ++k) reader.readFrame(k, frames[k]);
  return frames;
}

bool SameFloats(const std::vector<Vec3>& cached, const std::vector<Vec3>& exact) {
  if (cached.size() != exact.size()) return false;
  for (size_t i = 0; i < exact.size(); ++i) {
    const float want[3] = {float(exact[i].x), float(exact[i].y), float(exact[i].z)};
    const float got[3] = {float(cached[i].x), float(cached[i].y), float(cached[i].z)};
    if (std::memcmp(want, got, sizeof want) != 0) return false;
  }
  return true;
}

TEST_F(AnimationTest, CacheFramesDeformAsTheSamePosesGivenOneByOneWhateverTheThreads) {
  std::vector<std::vector<Vec3>> frames;
  std::vector<std::string> poses;
  for (int k = 1; k <= 4; ++k) {
    frames.push_back(swayed(0.05 * k));
    poses.push_back("poses/p" + std::to_string(k) + ".obj");
    writeCage(poses.back(), frames.back());
  }
  writeCache("cage.pc2", PointCacheFormat::kPc2, frames);
  writeCache("cage.mdd", PointCacheFormat::kMdd, frames);

  std::vector<std::string> single = deform({"-o", "single", "--threads", "1"});
  single.insert(single.end(), poses.begin(), poses.end());
  const Outcome one = ostrand(single);
  ASSERT_EQ(one.status, 0) << one.err;

  const Outcome fromPc2 = ostrand(deform({"cage.pc2", "--out-pattern", "d.####.obj", "--cache", "a.mdd", "-o", "a",
                                          "--threads", "2"}));
  ASSERT_EQ(fromPc2.status, 0) << fromPc2.err;
  EXPECT_NE(fromPc2.out.find("slowest"), std::string::npos) << fromPc2.out;
  EXPECT_NE(fromPc2.out.find("(4 frames, 2 threads)"), std::string::npos) << fromPc2.out;
  EXPECT_NE(fromPc2.out.find("  frame loop        "), std::string::npos) << fromPc2.out;
  host::PointCacheHeader header;
  const auto deformed = CacheFrames(file("a.mdd"), PointCacheFormat::kMdd, &header);
  ASSERT_EQ(deformed.size(), 4u);
  for (int k = 1; k <= 4; ++k) {
    SCOPED_TRACE(k);
    const std::string alone = read("single/deformed-p" + std::to_string(k) + ".obj");
    ASSERT_FALSE(alone.empty());
    EXPECT_EQ(read("a/d.000" + std::to_string(k) + ".obj"), alone);
    EXPECT_TRUE(SameFloats(deformed[k - 1], host::ParseObj(alone, "alone.obj").mesh.points));
    EXPECT_EQ(header.times[k - 1], float(k / 24.0));  // the PC2's frame k at the default 24 frames/s
  }

  // From the MDD, one thread: the same frames, bit for bit, and the MDD's times carried.
  const Outcome fromMdd = ostrand(deform({"cage.mdd", "--cache", "b.pc2", "--frames", "2-4:2", "--threads", "1",
                                          "-o", "b", "--preview", "b.png", "--preview-pose", "2"}));
  ASSERT_EQ(fromMdd.status, 0) << fromMdd.err;
  const auto some = CacheFrames(file("b.pc2"), PointCacheFormat::kPc2, &header);
  ASSERT_EQ(some.size(), 2u);
  EXPECT_TRUE(SameFloats(some[0], deformed[1]));
  EXPECT_TRUE(SameFloats(some[1], deformed[3]));
  EXPECT_NEAR(header.startFrame, 2.0, 1e-5);
  EXPECT_NEAR(header.sampleRate, 2.0, 1e-5);
  EXPECT_TRUE(fs::exists(file("b.png")));
  EXPECT_NE(fromMdd.out.find("frame 4 of cage.mdd"), std::string::npos) << fromMdd.out;
}

TEST_F(AnimationTest, SequencesAreTakenInNaturalOrderAndGapsAreNamedOrSkipped) {
  const std::vector<std::string> poses = {"cage_bend", "cage_twist", "cage_squash"};
  std::vector<std::string> single = deform({"-o", "single"});
  for (const std::string& pose : poses) single.push_back(example(pose + ".obj"));
  ASSERT_EQ(ostrand(single).status, 0);
  auto place = [&](const std::string& name) { fs::create_directories(fs::path(file(name)).parent_path()); return name; };
  for (const auto& [pose, name] : std::vector<std::pair<size_t, std::string>>{
           {0, "seq/c.1.obj"}, {1, "seq/c.2.obj"}, {2, "seq/c.10.obj"},          // numbered, 3 to 9 missing
           {0, "folder/c1.obj"}, {1, "folder/c2.obj"}, {2, "folder/c10.obj"},  // natural order
           {0, "shots/1/cage.obj"}, {1, "shots/2/cage.obj"}, {2, "shots/10/cage.obj"}}) {
    fs::copy_file(example(poses[pose] + ".obj"), file(place(name)));
  }

  for (const char* animation : {"folder", "shots/*/cage.obj"}) {
    SCOPED_TRACE(animation);
    const Outcome run = ostrand(deform({animation, "--out-pattern", "f.##.obj", "-o", "out"}));
    ASSERT_EQ(run.status, 0) << run.err;
    for (size_t k = 0; k < poses.size(); ++k)
      EXPECT_EQ(read("out/f.0" + std::to_string(k + 1) + ".obj"), read("single/deformed-" + poses[k] + ".obj")) << k;
    fs::remove_all(file("out"));
  }

  const Outcome gaps = ostrand(deform({"seq/c.%d.obj", "--out-pattern", "n.%d.obj", "-o", "out"}));
  EXPECT_EQ(gaps.status, 1);
  EXPECT_EQ(gaps.err, "ostrand: seq/c.%d.obj: 7 frames are missing: 3 (seq/c.3.obj), 4, 5, 6, 7, ...; --allow-gaps "
                      "skips missing frames\n");
  EXPECT_FALSE(fs::exists(file("out")));

  const Outcome skipped = ostrand(deform({"seq/c.%d.obj", "--allow-gaps", "--out-pattern", "n.%d.obj", "-o", "out"}));
  ASSERT_EQ(skipped.status, 0) << skipped.err;
  EXPECT_NE(skipped.err.find("ostrand: warning: seq/c.%d.obj: 7 missing frames skipped: 3, 4, 5, 6, 7, ...\n"),
            std::string::npos)
      << skipped.err;
  const std::vector<std::string> numbers = {"1", "2", "10"};
  for (size_t k = 0; k < poses.size(); ++k)
    EXPECT_EQ(read("out/n." + numbers[k] + ".obj"), read("single/deformed-" + poses[k] + ".obj")) << k;

  // A range whose step passes over the missing numbers has no gap.
  EXPECT_EQ(ostrand(deform({"seq/c.%d.obj", "--frames", "1-10:9", "--cache", "s.mdd", "-q"})).status, 0);
  EXPECT_EQ(CacheFrames(file("s.mdd"), PointCacheFormat::kMdd).size(), 2u);

  // Without --out-pattern, each frame is named after its file.
  const Outcome named = ostrand(deform({"seq/c.%d.obj", "--frames", "1-2", "-o", "named"}));
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(read("named/deformed-c.2.obj"), read("single/deformed-cage_twist.obj"));
}

TEST_F(AnimationTest, BadAnimationsAreRefusedBeforeAnyWorkAndWriteNothing) {
  std::vector<std::vector<Vec3>> frames = {swayed(0.1), swayed(0.2), swayed(0.3)};
  writeCache("good.pc2", PointCacheFormat::kPc2, frames);
  std::vector<std::vector<Vec3>> wide = frames;
  for (auto& frame : wide) frame.push_back({0, 0, 0});
  writeCache("wide.mdd", PointCacheFormat::kMdd, wide);
  const std::string good = read("good.pc2");
  write("cut.pc2", good.substr(0, good.size() - 5));
  std::string lying = good;
  lying[28] = '\x7f';  // the sample count's low byte: 127 samples claimed
  write("lying.pc2", lying);
  std::string nan = good;
  const float notANumber = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(&nan[32 + 2 * 24 * 12 + 12 + 4], &notANumber, 4);  // frame 3, point 2, y
  write("nan.pc2", nan);
  write("text.pc2", "v 0 0 0\n");
  for (int k = 1; k <= 3; ++k) writeCage("seq/c." + std::to_string(k) + ".obj", frames[k - 1]);
  write("seq/c.2.obj", read("seq/c.2.obj") + "f 1 2 3\n");  // one polygon more
  writeCage("faces/c.1.obj", frames[0]);
  writeCage("faces/c.2.obj", frames[1]);
  std::string swapped = read("faces/c.2.obj");  // its second face made the first's
  const size_t second = swapped.find("\nf ", swapped.find("\nf ") + 1) + 1;
  swapped.replace(second, swapped.find('\n', second) - second, "f 1 2 3 4 5 6");
  write("faces/c.2.obj", swapped);
  fs::create_directories(file("empty"));
  fs::create_directories(file("gaps"));
  writeCage("gaps/c.1.obj", frames[0]);
  writeCage("gaps/c.3.obj", frames[2]);
  writeCage("plain/c1.obj", frames[0]);
  writeCage("plain/c2.obj", frames[1]);

  struct Bad {
    std::vector<std::string> arguments;
    std::string line;  // the start of the message, after "ostrand: "
  };
  const std::vector<Bad> cases = {
      {{"wide.mdd"}, "wide.mdd: holds 25 points per frame, the bound cage 24"},
      {{"cut.pc2"}, "cut.pc2: the header gives 3 frames of 24 points, 896 bytes in all, but the file holds 891"},
      {{"lying.pc2"}, "lying.pc2: the header gives 127 frames of 24 points"},
      {{"nan.pc2"}, "nan.pc2: frame 3, point 2: a coordinate is not a finite number"},
      {{"text.pc2"}, "text.pc2: too short for a PC2 header: 8 bytes"},
      {{"good.pc2", "--frames", "2-5"}, "good.pc2: has frames 1 to 3; --frames 2-5 reaches beyond them"},
      {{"seq/c.#.obj"}, "seq/c.2.obj: the posed cage has 24 points and 21 polygons, the bound cage 24 and 20"},
      {{"faces/c.#.obj"}, "faces/c.2.obj:26: face 2 differs from the bound cage's"},
      {{"gaps/c.#.obj"}, "gaps/c.#.obj: frame 2 is missing (gaps/c.2.obj); --allow-gaps skips missing frames"},
      {{"none/c.####.obj"}, "none/c.####.obj: matches no file (such as none/c.0001.obj)"},
      {{"plain/c####.obj"}, "plain/c####.obj: matches no file; the frames there are numbered without padding "
                            "(plain/c1.obj ...): give 'plain/c%d.obj'"},
      {{"plain/c%03d.obj", "--frames", "2"}, "plain/c%03d.obj: matches no file of the frames --frames asks for; the "
                                             "frames there are numbered without padding (plain/c2.obj): give "
                                             "'plain/c%d.obj'"},
      {{"empty"}, "empty: a folder without .obj files"},
      {{"none/*/cage.obj"}, "none/*/cage.obj: matches no file"},
  };
  const std::set<std::string> before = files();
  for (const Bad& bad : cases) {
    std::vector<std::string> arguments = deform(bad.arguments);
    arguments.insert(arguments.end(), {"--cache", "out/anim.pc2", "--out-pattern", "d.####.obj", "-o", "out"});
    SCOPED_TRACE(arguments[3]);
    const Outcome outcome = ostrand(arguments);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.rfind("ostrand: " + bad.line, 0), 0u) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.out, "");  // checked before any work: not a frame deformed
    EXPECT_EQ(files(), before);
  }

  // Arguments that do not go together: exit status 2.
  const std::vector<Bad> arguments = {
      {{"good.pc2", example("cage_bend.obj")}, "good.pc2: an animation (numbered files, a folder, a wildcard pattern "
                                               "or a point cache) is given alone, not with other posed cages"},
      {{"good.pc2"}, "good.pc2: its frames have no file names to write deformed-<name>.obj under; give --out-pattern"},
      {{"good.pc2", "--cache", "anim.obj"}, "--cache: \"anim.obj\" is not named .pc2 or .mdd"},
      {{"good.pc2", "--out-pattern", "d.obj"}, "--out-pattern: \"d.obj\" has no frame number; give #### or %04d"},
      {{"good.pc2", "--frames", "5-2"}, "--frames: \"5-2\" is not A-B[:STEP]"},
      {{"good.pc2", "--fps", "0"}, "--fps: \"0\" is out of range"},
      {{"seq/c.#.#.obj"}, "seq/c.#.#.obj: holds two frame numbers"},
  };
  for (const Bad& bad : arguments) {
    const Outcome outcome = ostrand(deform(bad.arguments));
    EXPECT_EQ(outcome.status, 2) << bad.line;
    EXPECT_EQ(outcome.err.rfind("ostrand: " + bad.line, 0), 0u) << outcome.err;
    EXPECT_EQ(files(), before);
  }
}

// The header fields as the files hold them: a PC2's little-endian start frame
// and sample rate, an MDD's big-endian times.
float Pc2Field(const std::string& bytes, size_t offset) {
  float value = 0;
  std::memcpy(&value, bytes.data() + offset, 4);  // the tests run on little-endian machines
  return value;
}
std::vector<float> MddTimes(const std::string& bytes) {
  auto word = [&](size_t at) {
    uint32_t w = 0;
    for (size_t k = 0; k < 4; ++k) w = (w << 8) | static_cast<unsigned char>(bytes.at(at + k));
    return w;
  };
  std::vector<float> times(word(0));
  for (size_t k = 0; k < times.size(); ++k) {
    const uint32_t w = word(8 + 4 * k);
    std::memcpy(&times[k], &w, 4);
  }
  return times;
}

TEST_F(AnimationTest, AStartFrameNumbersEveryOutputFromItKeepingTheFramesApart) {
  for (int k = 3; k <= 7; ++k) writeCage("seq/c." + std::to_string(k) + ".obj", swayed(0.03 * k));
  auto run = [&](const std::string& folder, const std::vector<std::string>& more) {
    std::vector<std::string> arguments =
        deform({"seq/c.%d.obj", "--frames", "3-7:2", "--out-pattern", "d.####.obj", "--cache", folder + "/a.pc2",
                "--cache", folder + "/a.mdd", "-o", folder, "-q"});
    arguments.insert(arguments.end(), more.begin(), more.end());
    return ostrand(arguments);
  };
  const Outcome own = run("own", {});
  ASSERT_EQ(own.status, 0) << own.err;
  const Outcome moved = run("moved", {"--start-frame", "1"});
  ASSERT_EQ(moved.status, 0) << moved.err;
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const std::string frame = read("own/d.000" + std::to_string(3 + 2 * k) + ".obj");
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(read("moved/d.000" + std::to_string(1 + 2 * k) + ".obj"), frame);
  }
  EXPECT_FALSE(fs::exists(file("moved/d.0007.obj")));

  // Only the headers' times differ: the PC2 starts at 1 instead of 3, every
  // second frame still; the MDD's times two frames earlier each.
  const std::string ownPc2 = read("own/a.pc2"), movedPc2 = read("moved/a.pc2");
  ASSERT_EQ(movedPc2.size(), ownPc2.size());
  EXPECT_EQ(Pc2Field(ownPc2, 20), 3.0f);
  EXPECT_EQ(Pc2Field(movedPc2, 20), 1.0f);
  EXPECT_EQ(Pc2Field(movedPc2, 24), 2.0f);
  EXPECT_EQ(movedPc2.substr(0, 20), ownPc2.substr(0, 20));
  EXPECT_EQ(movedPc2.substr(24), ownPc2.substr(24));
  const std::string ownMdd = read("own/a.mdd"), movedMdd = read("moved/a.mdd");
  EXPECT_EQ(MddTimes(ownMdd), (std::vector<float>{float(3 / 24.0), float(5 / 24.0), float(7 / 24.0)}));
  EXPECT_EQ(MddTimes(movedMdd), (std::vector<float>{float(1 / 24.0), float(3 / 24.0), float(5 / 24.0)}));
  EXPECT_EQ(movedMdd.substr(20), ownMdd.substr(20));

  // An MDD whose first time is 0 gives a PC2 starting at frame 0; with
  // --start-frame 1 at frame 1, and an MDD whose times are one frame later.
  host::PointCacheHeader header;
  header.format = PointCacheFormat::kMdd;
  header.points = static_cast<uint32_t>(rest_.size());
  header.frames = 3;
  header.times = {0.0f, float(1 / 24.0), float(2 / 24.0)};
  {
    host::PointCacheWriter writer(file("zero.mdd"), header);
    for (int k = 1; k <= 3; ++k) writer.writeFrame(swayed(0.05 * k));
    writer.close();
  }
  ASSERT_EQ(ostrand(deform({"zero.mdd", "--cache", "z0.pc2", "-q"})).status, 0);
  EXPECT_EQ(Pc2Field(read("z0.pc2"), 20), 0.0f);
  const Outcome one = ostrand(deform({"zero.mdd", "--cache", "z1.pc2", "--cache", "z1.mdd", "--start-frame", "1", "-q"}));
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(Pc2Field(read("z1.pc2"), 20), 1.0f);
  EXPECT_NEAR(Pc2Field(read("z1.pc2"), 24), 1.0, 1e-6);
  const std::vector<float> times = MddTimes(read("z1.mdd"));
  ASSERT_EQ(times.size(), 3u);
  EXPECT_EQ(times[0], float(1 / 24.0));
  EXPECT_FLOAT_EQ(times[1], 2 / 24.0f);
  EXPECT_FLOAT_EQ(times[2], 3 / 24.0f);

  // Refused before any work, with status 2.
  const std::set<std::string> before = files();
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"zero.mdd", "--cache", "r.pc2", "--start-frame", "-1"}, "--start-frame: \"-1\" is out of range"},
      {{"zero.mdd", "--cache", "r.pc2", "--start-frame", "1.5"}, "--start-frame: \"1.5\" is not a whole number"},
      {{"zero.mdd", "--cache", "r.pc2", "--start-frame", "999999998"},
       "--start-frame: 999999998 numbers the last frame 1000000000, beyond 999999999"},
      {{example("cage_bend.obj"), "--start-frame", "1"},
       "--start-frame: numbers the frames of --out-pattern and --cache; give one of them"},
  };
  for (const auto& [arguments, line] : refused) {
    const Outcome outcome = ostrand(deform(arguments));
    EXPECT_EQ(outcome.status, 2) << line;
    EXPECT_EQ(outcome.err.rfind("ostrand: " + line, 0), 0u) << outcome.err;
    EXPECT_EQ(files(), before);
  }
}

// Several caches come from one pass over the frames, each byte for byte what
// a run of its own writes, each in its own folder if need be, each told of.
TEST_F(AnimationTest, SeveralCachesInOneRunAreThoseOfSeparateRunsByteForByte) {
  for (int k : {1, 2, 4, 5}) writeCage("seq/c." + std::to_string(k) + ".obj", swayed(0.04 * k));
  const std::vector<std::string> caches = {"a.pc2", "b.mdd", "c.pc2"};
  std::vector<std::string> arguments = deform({"seq/c.%d.obj", "--allow-gaps", "-o", "all"});
  for (const std::string& cache : caches) arguments.insert(arguments.end(), {"--cache", "side/" + cache});
  const Outcome all = ostrand(arguments);
  ASSERT_EQ(all.status, 0) << all.err;
  for (const std::string& cache : caches) {
    SCOPED_TRACE(cache);
    const Outcome alone =
        ostrand(deform({"seq/c.%d.obj", "--allow-gaps", "-q", "-o", "one", "--cache", "one/" + cache}));
    ASSERT_EQ(alone.status, 0) << alone.err;
    ASSERT_FALSE(read("one/" + cache).empty());
    EXPECT_EQ(read("side/" + cache), read("one/" + cache));
    const std::string format = cache.substr(2) == "pc2" ? "PC2" : "MDD";
    EXPECT_NE(all.out.find("\n  side/" + cache + ": " + format + ", 4 frames of "), std::string::npos) << all.out;
    // The gap's warning for each PC2 alone.
    EXPECT_EQ(all.err.find("warning: side/" + cache + ": a PC2 cache's samples are evenly spaced") !=
                  std::string::npos,
              format == "PC2")
        << all.err;
  }

  // The same file twice would be written twice: refused before any work.
  const std::set<std::string> before = files();
  const Outcome twice =
      ostrand(deform({"seq/c.%d.obj", "--allow-gaps", "--cache", "x/a.pc2", "--cache", "x/../x/a.pc2", "-o", "x"}));
  EXPECT_EQ(twice.status, 2);
  EXPECT_EQ(twice.err, "ostrand: --cache: \"x/../x/a.pc2\" is given twice\n");
  EXPECT_EQ(files(), before);
}

// A run that fails while writing frames (a folder stands where a file goes)
// takes out the frames it put in place and its unfinished caches, and puts
// back the earlier run's files.
TEST_F(AnimationTest, AFailureInTheFrameLoopLeavesTheFoldersAsTheyWere) {
  std::vector<std::vector<Vec3>> frames;
  for (int k = 1; k <= 4; ++k) frames.push_back(swayed(0.04 * k));
  writeCache("first.mdd", PointCacheFormat::kMdd, frames);
  for (auto& frame : frames)
    for (Vec3& p : frame) p.x = float(p.x * 1.1);
  writeCache("second.mdd", PointCacheFormat::kMdd, frames);
  const std::vector<std::string> outputs = {"--out-pattern", "d.#.obj", "--cache", "out/anim.mdd",
                                            "--cache",       "out/anim.pc2", "-o", "out"};
  std::vector<std::string> first = deform({"first.mdd"});
  first.insert(first.end(), outputs.begin(), outputs.end());
  ASSERT_EQ(ostrand(first).status, 0);
  std::map<std::string, std::string> was;
  for (const std::string& name : files()) was[name] = name.back() == '/' ? "" : read(name);

  const std::vector<std::pair<std::string, std::string>> blockers = {
      {"out/.anim.mdd.ostrand-partial", "out/anim.mdd"},  // before the first frame
      {"out/.anim.pc2.ostrand-partial", "out/anim.pc2"},  // the first cache begun
      {"out/.d.4.obj.ostrand-partial", "out/d.4.obj"},    // at the last frame, three put in place
  };
  for (const auto& [blocker, subject] : blockers) {
    SCOPED_TRACE(blocker);
    fs::create_directory(file(blocker));
    std::vector<std::string> second = deform({"second.mdd", "-q"});
    second.insert(second.end(), outputs.begin(), outputs.end());
    const Outcome failed = ostrand(second);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err.rfind("ostrand: " + subject + ": ", 0), 0u) << failed.err;
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
    fs::remove(file(blocker));
    std::map<std::string, std::string> is;
    for (const std::string& name : files()) is[name] = name.back() == '/' ? "" : read(name);
    EXPECT_EQ(is, was);
  }
}

}  // namespace
}  // namespace cli_test
