// Posed cages in other axes than the bound cage through the command: a cache
// turned from one up axis to another is warned of, naming the turn and the
// --pose-axis value that turns it back; with that value the run writes what
// the untouched cache gives, byte for byte; with --strict it writes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "host/obj_file.h"
#include "host/point_cache.h"
#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using host::PointCacheFormat;

constexpr const char* kTurnWarning =
    " of the cage's size from the bound cage; it is the bound cage turned 90° about x, as an up-axis conversion "
    "between Y-up and Z-up makes: --pose-axis x-90 turns it back\n";

class PoseAxisTest : public OstrandTest {
 protected:
  void SetUp() override {
    OstrandTest::SetUp();
    const Outcome bound = ostrand({"-q", "bind", "--samples", "6", "--cage", example("cage.obj"), "--target",
                                   example("target.obj"), "-o", "bound"});
    ASSERT_EQ(bound.status, 0) << bound.err;
    cage_ = host::ReadObjFile(example("cage.obj")).mesh;
  }
  // Frames that sway the example cage, in float32 steps so that a cache holds them exactly.
  std::vector<std::vector<Vec3>> frames() const {
    std::vector<std::vector<Vec3>> frames;
    for (int k = 0; k < 3; ++k) {
      std::vector<Vec3> points;
      for (const Vec3& p : cage_.points)
        points.push_back({float(p.x + 0.05 * k * p.y * p.y), float(p.y), float(p.z + 0.05 * k)});
      frames.push_back(points);
    }
    return frames;
  }
  // As a Y-up exporter writes a Z-up scene: turned 90° about x, (x, y, z) to (x, -z, y).
  static std::vector<std::vector<Vec3>> turned(std::vector<std::vector<Vec3>> frames) {
    for (auto& frame : frames)
      for (Vec3& p : frame) p = {p.x, -p.z, p.y};
    return frames;
  }
  void writeCache(const std::string& name, const std::vector<std::vector<Vec3>>& frames) const {
    host::PointCacheHeader header;
    header.format = PointCacheFormat::kPc2;
    header.points = static_cast<uint32_t>(frames.at(0).size());
    header.frames = static_cast<uint32_t>(frames.size());
    header.startFrame = 1;
    host::PointCacheWriter writer(file(name), header);
    for (const auto& frame : frames) writer.writeFrame(frame);
    writer.close();
  }
  void writeCage(const std::string& name, const std::vector<Vec3>& points) const {
    std::string text;
    for (const Vec3& p : points)
      text += "v " + host::NumberText(p.x) + " " + host::NumberText(p.y) + " " + host::NumberText(p.z) + "\n";
    for (const auto& polygon : cage_.polygons) {
      text += "f";
      for (int32_t point : polygon) text += " " + std::to_string(point + 1);
      text += "\n";
    }
    write(name, text);
  }
  // deform with the scene bound in SetUp, writing numbered OBJ files and a cache into folder.
  Outcome deform(const std::string& poses, const std::string& folder, std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments = {"deform", "--scene", "bound/scene.json", poses, "--out-pattern",
                                          "d.####.obj", "--cache", folder + "/d.pc2", "-o", folder};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return ostrand(arguments);
  }
  host::Mesh cage_;
};

TEST_F(PoseAxisTest, ATurnedCacheIsNamedAndPoseAxisTurnsItBackExactly) {
  writeCache("upright.pc2", frames());
  writeCache("turned.pc2", turned(frames()));

  const Outcome upright = deform("upright.pc2", "upright");
  ASSERT_EQ(upright.status, 0) << upright.err;
  EXPECT_EQ(upright.err, "");

  // Written as given, turned, with a warning that says what to do.
  const Outcome warned = deform("turned.pc2", "warned");
  ASSERT_EQ(warned.status, 0) << warned.err;
  EXPECT_EQ(warned.err.rfind("ostrand: warning: turned.pc2: frame 1 is ", 0), 0u) << warned.err;
  EXPECT_NE(warned.err.find(kTurnWarning), std::string::npos) << warned.err;
  EXPECT_EQ(std::count(warned.err.begin(), warned.err.end(), '\n'), 1) << warned.err;
  EXPECT_NE(read("warned/d.0001.obj"), read("upright/d.0001.obj"));

  // Turned back as read: every frame as the untouched cache gives it, and no warning.
  const Outcome back = deform("turned.pc2", "back", {"--pose-axis", "x-90", "--frames", "2-3"});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.err, "");
  const Outcome uprightPart = deform("upright.pc2", "part", {"--frames", "2-3"});
  ASSERT_EQ(uprightPart.status, 0) << uprightPart.err;
  for (const std::string name : {"d.0002.obj", "d.0003.obj", "d.pc2"}) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(read("part/" + name).empty());
    EXPECT_EQ(read("back/" + name), read("part/" + name));
  }
  // The alias, over every frame.
  ASSERT_EQ(deform("turned.pc2", "alias", {"--pose-axis", "z-up-to-y-up", "-q"}).status, 0);
  for (const std::string name : {"d.0001.obj", "d.0002.obj", "d.0003.obj", "d.pc2"})
    EXPECT_EQ(read("alias/" + name), read("upright/" + name)) << name;

  // Under --strict: refused at once, nothing written.
  const Outcome strict = deform("turned.pc2", "strict", {"--strict"});
  EXPECT_EQ(strict.status, 1);
  EXPECT_EQ(strict.err.rfind("ostrand: warning: turned.pc2: frame 1 is ", 0), 0u) << strict.err;
  EXPECT_NE(strict.err.find(std::string(kTurnWarning) + "ostrand: --strict: 1 warning; nothing written\n"),
            std::string::npos)
      << strict.err;
  EXPECT_FALSE(fs::exists(file("strict")));
  EXPECT_FALSE(fs::exists(file("strict/d.pc2")));
}

TEST_F(PoseAxisTest, PosedCagesGivenOneByOneAreCheckedEachAndBadNamesRefused) {
  writeCage("upright.obj", frames()[1]);
  writeCage("turned.obj", turned(frames())[2]);
  const Outcome run = ostrand({"deform", "--scene", "bound/scene.json", "upright.obj", "turned.obj",
                               example("cage_twist.obj"), "-o", "out"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.rfind("ostrand: warning: turned.obj is ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(kTurnWarning), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;

  // The conversion is for every posed cage: the upright ones come out turned now.
  const Outcome both = ostrand({"-q", "deform", "--scene", "bound/scene.json", "upright.obj", "turned.obj",
                                "--pose-axis", "x-90", "-o", "both"});
  ASSERT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.err.rfind("ostrand: warning: upright.obj is ", 0), 0u) << both.err;
  EXPECT_NE(both.err.find("it is the bound cage turned -90° about x, as an up-axis conversion between Y-up and Z-up "
                          "makes: --pose-axis x90 turns it back\n"),
            std::string::npos)
      << both.err;

  for (const std::string bad : {"x45", ""}) {
    const Outcome refused = ostrand({"deform", "--scene", "bound/scene.json", "upright.obj", "--pose-axis", bad});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "ostrand: --pose-axis: \"" + bad +
                               "\" is not one of x90, x-90, x180, y90, y-90, y180, z90, z-90, z180, mirror-x, "
                               "mirror-y, mirror-z, y-up-to-z-up, z-up-to-y-up\n");
  }
}

}  // namespace
}  // namespace cli_test
