// The pose check, linked in: the axis conversions are the turns and mirrors
// their names say and give points back bit for bit; a posed cage that is the
// bound cage turned, mirrored or moved is named as such with the conversion
// that undoes it, a real deformation is let through, and a far pose that is
// no rigid motion of the bound cage is told as one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "checks/pose_check.h"
#include "driver/bind_statistics.h"
#include "support/cages.h"

namespace checks {
namespace {

constexpr double kPi = 3.14159265358979323846;

// An L-shaped prism away from the origin, its coordinates of the awkward
// kind a cache holds (single precision, fractions with no exact binary
// form), with a -0 among them.
std::vector<Vec3> Rest() {
  std::vector<Vec3> points = test_support::Prism(test_support::LShape(), 0.75).points;
  for (size_t i = 0; i < points.size(); ++i) {
    Vec3& p = points[i];
    p = {float(p.x + 0.1 * double(i % 3)), float(p.y * 1.1), p.z == 0.0 ? -0.0 : float(p.z + 0.07)};
  }
  return points;
}

std::vector<Vec3> ConvertedBy(const std::string& name, std::vector<Vec3> points) {
  const AxisConversion* conversion = FindAxisConversion(name);
  EXPECT_NE(conversion, nullptr) << name;
  if (conversion) Convert(*conversion, points);
  return points;
}

std::vector<Vec3> Moved(std::vector<Vec3> points, const Vec3& by) {
  for (Vec3& p : points) p = {p.x + by.x, p.y + by.y, p.z + by.z};
  return points;
}

bool SameBits(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vec3)) == 0;
}

// The option value a warning names, as in "--pose-axis x-90 turns it back".
std::string NamedValue(const std::string& line) {
  const size_t at = line.find("--pose-axis ");
  if (at == std::string::npos) return "";
  const size_t from = at + std::strlen("--pose-axis ");
  return line.substr(from, line.find(' ', from) - from);
}

// Turned by degrees about a coordinate axis by the right-hand rule, in floating point.
Vec3 Turned(const Vec3& p, char axis, double degrees) {
  const double c = std::cos(degrees * kPi / 180.0), s = std::sin(degrees * kPi / 180.0);
  if (axis == 'x') return {p.x, c * p.y - s * p.z, s * p.y + c * p.z};
  if (axis == 'y') return {c * p.x + s * p.z, p.y, -s * p.x + c * p.z};
  return {c * p.x - s * p.y, s * p.x + c * p.y, p.z};
}

TEST(AxisConversions, AreTheTurnsByTheRightHandRuleAndTheMirrorsTheirNamesSay) {
  const Vec3 p{1.5, -2.25, 3.0};
  for (const AxisConversion& conversion : AxisConversions()) {
    const std::string name = conversion.name;
    SCOPED_TRACE(name);
    const Vec3 got = Converted(conversion, p);
    Vec3 want;
    if (name.rfind("mirror-", 0) == 0) {
      want = p;
      (name == "mirror-x" ? want.x : name == "mirror-y" ? want.y : want.z) *= -1.0;
    } else {
      want = Turned(p, name[0], std::stod(name.substr(1)));
    }
    EXPECT_NEAR(got.x, want.x, 1e-12);
    EXPECT_NEAR(got.y, want.y, 1e-12);
    EXPECT_NEAR(got.z, want.z, 1e-12);
    for (int i = 0; i < 3; ++i) {  // the matrix is the one applied
      const double row = conversion.entry(i, 0) * p.x + conversion.entry(i, 1) * p.y + conversion.entry(i, 2) * p.z;
      EXPECT_EQ(row, i == 0 ? got.x : i == 1 ? got.y : got.z);
    }
  }
  // Y-up to Z-up: up (0, 1, 0) becomes (0, 0, 1), and back.
  const Vec3 up = Converted(*FindAxisConversion("y-up-to-z-up"), {0, 1, 0});
  EXPECT_EQ(up.x, 0.0);
  EXPECT_EQ(up.y, 0.0);
  EXPECT_EQ(up.z, 1.0);
  EXPECT_EQ(FindAxisConversion("y-up-to-z-up"), FindAxisConversion("x90"));
  EXPECT_EQ(FindAxisConversion("z-up-to-y-up"), FindAxisConversion("x-90"));
  for (const std::string bad : {"", "x45", "X90", "x90 ", "mirror", "identity"})
    EXPECT_EQ(FindAxisConversion(bad), nullptr) << bad;
  EXPECT_EQ(AxisConversionNames(),
            "x90, x-90, x180, y90, y-90, y180, z90, z-90, z180, mirror-x, mirror-y, mirror-z, y-up-to-z-up, "
            "z-up-to-y-up");
}

TEST(AxisConversions, EachInverseGivesEveryCoordinateBackBitForBit) {
  const std::vector<Vec3> rest = Rest();
  for (const AxisConversion& conversion : AxisConversions()) {
    SCOPED_TRACE(conversion.name);
    const AxisConversion& inverse = Inverse(conversion);
    EXPECT_EQ(&Inverse(inverse), &conversion);
    const std::string name = conversion.name;
    // Only the quarter turns differ from their inverses.
    EXPECT_EQ(&inverse == &conversion, name.find("90") == std::string::npos);
    std::vector<Vec3> points = rest;
    Convert(conversion, points);
    EXPECT_FALSE(SameBits(points, rest));
    Convert(inverse, points);
    EXPECT_TRUE(SameBits(points, rest));
  }
}

TEST(PoseCheck, NamesEachTurnAndMirrorWithItsCauseAndTheConversionThatTurnsItBack) {
  const std::vector<Vec3> rest = Rest();
  for (const AxisConversion& conversion : AxisConversions()) {
    const std::string name = conversion.name;
    SCOPED_TRACE(name);
    const std::vector<Vec3> posed = ConvertedBy(name, rest);
    const std::string line = CheckPose(rest, posed, "cage.pc2: frame 1");
    ASSERT_EQ(line.rfind("cage.pc2: frame 1 is ", 0), 0u) << line;
    EXPECT_NE(line.find(" of the cage's size from the bound cage; it is the bound cage "), std::string::npos) << line;
    const bool mirror = name.rfind("mirror-", 0) == 0;
    const std::string axis = mirror ? name.substr(7) : name.substr(0, 1);
    const std::string what = mirror ? "mirrored in " + axis + " (" + axis + " negated), as a handedness conversion"
                                    : "turned " + name.substr(1) + "° about " + axis;
    EXPECT_NE(line.find(what), std::string::npos) << line;
    EXPECT_EQ(line.find("up-axis conversion") != std::string::npos, name == "x90" || name == "x-90") << line;
    EXPECT_EQ(line.find("moved"), std::string::npos) << line;
    const std::string undo = NamedValue(line);
    EXPECT_EQ(undo, Inverse(conversion).name) << line;
    EXPECT_NE(line.find(undo + (mirror ? " mirrors it back" : " turns it back")), std::string::npos) << line;
    // What the line names, applied to the posed cage, gives the rest back exactly.
    ASSERT_NE(FindAxisConversion(undo), nullptr) << line;
    EXPECT_TRUE(SameBits(ConvertedBy(undo, posed), rest));
    EXPECT_EQ(CheckPose(rest, ConvertedBy(undo, posed), "cage.pc2: frame 1"), "");
  }
  // The line as the command gives it, and as the Python module names its keyword.
  EXPECT_NE(CheckPose(rest, ConvertedBy("x90", rest), "a")
                .find("; it is the bound cage turned 90° about x, as an up-axis conversion between Y-up and Z-up "
                      "makes: --pose-axis x-90 turns it back"),
            std::string::npos);
  const std::string told =
      CheckPose(rest, ConvertedBy("z-up-to-y-up", rest), "posed_cage_points", {"pose_axis", "=", "'"});
  EXPECT_NE(told.find("turned -90° about x, as an up-axis conversion between Y-up and Z-up makes: pose_axis='x90' "
                      "turns it back"),
            std::string::npos)
      << told;
}

TEST(PoseCheck, TellsAMoveOfTheBoundCageByHowMuch) {
  const std::vector<Vec3> cube = test_support::Cube().points;  // size 2√3
  EXPECT_EQ(CheckPose(cube, Moved(cube, {3, 0, 0}), "cage.obj"),
            "cage.obj is 0.87 of the cage's size from the bound cage; it is the bound cage moved by (3, 0, 0), as a "
            "cache written in world space may be");
  const std::vector<Vec3> rest = Rest();
  const std::string moved = CheckPose(rest, Moved(rest, {1.0, -0.5, 120.0}), "m");
  EXPECT_NE(moved.find("moved by (1, -0.5, 120),"), std::string::npos) << moved;
  // Turned and moved: both told, and that the option leaves the move.
  const std::string both = CheckPose(rest, Moved(ConvertedBy("x90", rest), {0, 0, 3}), "m");
  EXPECT_NE(both.find("turned 90° about x, as an up-axis conversion between Y-up and Z-up makes, and moved by (0, 0, "
                      "3): --pose-axis x-90 turns it back, the move aside"),
            std::string::npos)
      << both;
}

// An animation exported into other axes need not start at rest: a pose
// turned is named as one, with the value that turns it back.
TEST(PoseCheck, NamesAPoseTurnedMirroredOrMovedByWhatUndoingItLeaves) {
  const std::vector<Vec3> rest = Rest();
  std::vector<Vec3> posed = rest;  // stretched and squashed about its middle: no rigid motion
  for (Vec3& p : posed) p = {1.1 + 1.3 * (p.x - 1.1), 0.8 * p.y, p.z};
  ASSERT_GT(FitRigid(rest, posed).residual, 1.4 * kRigidFitResidual * 3.4);  // the cage's size is about 3.4
  ASSERT_EQ(CheckPose(rest, posed, "t"), "");
  for (const char* name : {"x90", "y-90", "z180", "mirror-y"}) {
    SCOPED_TRACE(name);
    const std::string line = CheckPose(rest, ConvertedBy(name, posed), "t");
    EXPECT_NE(line.find("; it is a pose of the bound cage "), std::string::npos) << line;
    EXPECT_EQ(NamedValue(line), Inverse(*FindAxisConversion(name)).name) << line;
  }
  EXPECT_NE(CheckPose(rest, Moved(ConvertedBy("x-90", posed), {4, 0, 0}), "t")
                .find("it is a pose of the bound cage turned -90° about x, as an up-axis conversion between Y-up and "
                      "Z-up makes, and moved by (4, 0, 0): --pose-axis x90 turns it back, the move aside"),
            std::string::npos);
  EXPECT_NE(CheckPose(rest, Moved(posed, {0, -5, 0}), "t").find("it is a pose of the bound cage moved by (0, -5, 0), "
                                                                  "as a cache written in world space may be"),
            std::string::npos);
}

TEST(PoseCheck, LetsTheRestAndRealDeformationsThrough) {
  const std::vector<Vec3> rest = Rest();
  EXPECT_EQ(CheckPose(rest, rest, "rest"), "");
  // A bend: each point sways with the square of its height, the top a third of the cage's height.
  std::vector<Vec3> bent = rest;
  for (Vec3& p : bent) p.x += 0.3 * p.y * p.y;
  EXPECT_EQ(CheckPose(rest, bent, "bent"), "");
  EXPECT_EQ(CheckPose(rest, Moved(rest, {0.3, 0.0, -0.2}), "nudged"), "");
  std::vector<Vec3> tilted = rest;
  for (Vec3& p : tilted) p = Turned(p, 'z', 8.0);
  EXPECT_EQ(CheckPose(rest, tilted, "tilted"), "");
  // A quarter-turn twist is far, but a pose of this cage, not another's.
  std::vector<Vec3> twisted = rest;
  for (Vec3& p : twisted) {
    const double angle = 1.5707963267948966 * (p.z + 0.75) / 1.5, c = std::cos(angle), s = std::sin(angle);
    p = {1.0 + c * (p.x - 1.0) - s * (p.y - 1.0), 1.0 + s * (p.x - 1.0) + c * (p.y - 1.0), p.z};
  }
  double squares = 0.0;
  for (size_t i = 0; i < rest.size(); ++i)
    squares += std::pow(twisted[i].x - rest[i].x, 2) + std::pow(twisted[i].y - rest[i].y, 2);
  ASSERT_GT(std::sqrt(squares / double(rest.size())), checks::kPoseFarDistance * driver::BoundingDiagonal(rest));
  EXPECT_EQ(CheckPose(rest, twisted, "twisted"), "");
  // Nothing to measure against: no warning, no failure.
  EXPECT_EQ(CheckPose({}, {}, "empty"), "");
  const std::vector<Vec3> point(4, Vec3{1, 2, 3});
  EXPECT_EQ(CheckPose(point, Moved(point, {5, 5, 5}), "point"), "");
}

TEST(PoseCheck, AFarPoseThatIsNoRigidMotionOfTheBoundCageIsToldAsSuch) {
  const std::vector<Vec3> rest = Rest();
  std::vector<Vec3> scaled = rest;
  for (Vec3& p : scaled) p = {3 * p.x, 3 * p.y, 3 * p.z};
  std::vector<Vec3> shuffled(rest.rbegin(), rest.rend());  // another cage's order
  for (const auto& posed : {scaled, shuffled}) {
    const std::string line = CheckPose(rest, posed, "other.pc2: frame 1");
    EXPECT_NE(line.find(" of the cage's size from the bound cage; it is not a turn or mirror of the bound cage: check "
                        "that the animation is of this cage"),
              std::string::npos)
        << line;
    EXPECT_EQ(NamedValue(line), "");
  }
  // Rigid, but no conversion of axes gives it.
  std::vector<Vec3> turned = rest;
  for (Vec3& p : turned) p = Turned(p, 'z', 45.0);
  EXPECT_NE(CheckPose(rest, turned, "t").find("it is the bound cage turned 45° about (0, 0, 1), which no --pose-axis "
                                              "value turns back"),
            std::string::npos)
      << CheckPose(rest, turned, "t");
  std::vector<Vec3> mirrored = ConvertedBy("mirror-x", turned);
  EXPECT_NE(CheckPose(rest, mirrored, "t").find("mirrored and turned, which no --pose-axis value turns back"),
            std::string::npos)
      << CheckPose(rest, mirrored, "t");
}

TEST(RigidFit, FindsTheMotionAndWhatItLeaves) {
  const std::vector<Vec3> rest = Rest();
  std::vector<Vec3> posed = Moved(ConvertedBy("y-90", rest), {2, 0, -1});
  const RigidFit fit = FitRigid(rest, posed);
  const AxisConversion& y90 = *FindAxisConversion("y-90");
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(fit.linear[i][j], y90.entry(i, j), 1e-9);
  EXPECT_NEAR(fit.move.x, 2.0, 1e-9);
  EXPECT_NEAR(fit.move.z, -1.0, 1e-9);
  EXPECT_LT(fit.residual, 1e-9);
  posed[0].x += 1.0;  // one point off by 1: what is left is about 1/sqrt(n)
  EXPECT_NEAR(FitRigid(rest, posed).residual, 1.0 / std::sqrt(double(rest.size())), 0.1);
}

}  // namespace
}  // namespace checks
