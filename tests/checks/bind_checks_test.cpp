// The checks around a bind, with the module loaded through a driver session,
// as both front ends call them: points left without weights fail the bind
// with an error that names them and the front end's way to keep them, or are
// left out through a setup map of their own; a bind that binds nothing fails
// even so; setup weights that pick no point are refused; and the warnings
// read as the command prints them. The errors keep their parts and kind,
// which decide how each front end tells them.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "checks/bind_checks.h"
#include "driver/bind_statistics.h"
#include "driver/session.h"
#include "driver/user_error.h"
#include "support/cages.h"

namespace checks {
namespace {

// A flat quad at z = 0: the two points above it bind to it, every sample ray
// of the two far beside it misses it.
host::Mesh Quad() {
  host::Mesh quad;
  quad.points = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  quad.polygons = {{0, 1, 2, 3}};
  return quad;
}

host::Mesh Target(std::vector<Vec3> points) {
  host::Mesh target;
  target.points = std::move(points);
  target.polygons = {{0, 1, 2}};
  return target;
}

class BindChecksTest : public testing::Test {
 protected:
  BindChecksTest() : session_(OSTRAND_MODULE_PATH, [](const host::Progress&) {}) {}

  driver::BindStatistics measure() const {
    return driver::MeasureBinding(session_.instance(), session_.cageRest(), session_.targetRest(), 0.0);
  }

  driver::Session session_;
  Warnings warnings_;
  BindCheckSettings settings_{.subject = "target_points", .allowUnboundOption = "allow_unbound=True"};
};

TEST_F(BindChecksTest, PointsWithoutWeightsAreAnErrorNamingThemAndTheWayToKeepThem) {
  session_.addObjects(Quad(), "quad", Target({{0, 0, 0.5}, {0.2, 0.1, 0.3}, {50, 0, 0.5}, {0, 60, 1}}), "target");
  try {
    BindChecked(session_, settings_, 0, [] { return "the cage is flat"; }, warnings_);
    FAIL() << "points without weights were accepted";
  } catch (const UnboundPointsError& e) {
    EXPECT_STREQ(e.what(), "target_points: 2 of 4 points got no weights: 3, 4 (likely cause: the cage is flat); "
                           "allow_unbound=True keeps them where they are");
    EXPECT_EQ(e.subject(), "target_points");
    EXPECT_EQ(e.problem(), "2 of 4 points got no weights: 3, 4 (likely cause: the cage is flat); "
                           "allow_unbound=True keeps them where they are");
    EXPECT_EQ(e.kind(), driver::ErrorKind::kRefused);
    EXPECT_EQ(e.points(), (std::vector<uint32_t>{2, 3}));
  }
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(BindChecksTest, AllowedPointsWithoutWeightsAreLeftOutAndWarnedOf) {
  session_.addObjects(Quad(), "quad", Target({{0, 0, 0.5}, {50, 0, 0.5}, {0.2, 0.1, 0.3}, {0, 60, 1}}), "target");
  settings_.allowUnbound = true;
  const std::vector<uint32_t> kept = BindChecked(session_, settings_, 0, [] { return ""; }, warnings_);
  EXPECT_EQ(kept, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(warnings_.lines(),
            std::vector<std::string>{"2 of 4 points got no weights: 2, 4; they are kept where they are"});
  // Bound again without them: the module holds no row that would take them
  // to the origin, and the others keep their weights.
  const driver::BindStatistics stats = measure();
  EXPECT_TRUE(stats.unbound.empty());
  EXPECT_EQ(stats.pointsBound, 2u);
  EXPECT_EQ(session_.instance().Targets->records[0].ActiveCount, 2u);
  std::vector<Vec3> out(4);
  const std::vector<Vec3> raised = {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}};
  session_.deform(raised.data(), out.data(), "raised");
  EXPECT_NEAR(out[0].z, 1.0, 1e-6);
  EXPECT_EQ(out[1].x, 50.0);
  EXPECT_EQ(out[3].y, 60.0);
}

// Points without weights, which the module would move to the origin, are
// put back where they are at rest, as both front ends deform them.
TEST(UnboundPoints, AreKeptAtRestInADeformedFrame) {
  const std::vector<Vec3> rest = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  std::vector<Vec3> frame = {{0, 0, 1}, {0, 0, 0}, {0, 0, 0}};
  driver::KeepUnboundAtRest({1, 2}, rest, frame.data());
  EXPECT_EQ(frame[0].z, 1.0);
  EXPECT_EQ(frame[1].x, 4.0);
  EXPECT_EQ(frame[2].z, 9.0);
  EXPECT_THROW(driver::KeepUnboundAtRest({3}, rest, frame.data()), std::out_of_range);
}

TEST_F(BindChecksTest, NothingBoundFailsEvenWhenPointsWithoutWeightsAreAllowed) {
  session_.addObjects(test_support::Cube(), "cube", Target({{1000, 300, 200}, {-400, 1000, 70}, {90, -200, 1000}}),
                      "target");
  settings_.allowUnbound = true;
  try {
    BindChecked(session_, settings_, 0, [] { return "3 points lie outside the cage"; }, warnings_);
    FAIL() << "a bind that binds nothing was accepted";
  } catch (const UnboundPointsError& e) {
    EXPECT_STREQ(e.what(), "target_points: 3 of 3 points got no weights: 1, 2, 3 (likely cause: 3 points lie "
                           "outside the cage)");
    EXPECT_EQ(e.points().size(), 3u);
  }
}

TEST(SetupWeights, ThatPickNoPointAreBadInputNamingWhereTheyCameFrom) {
  try {
    CheckSetupWeights({0.0f, -0.0f, 0.0f}, "setup_weights");
    FAIL() << "setup weights that pick no point were accepted";
  } catch (const driver::UserError& e) {
    EXPECT_STREQ(e.what(), "setup_weights: every value is 0, so no point would be bound");
    EXPECT_EQ(e.kind(), driver::ErrorKind::kInput);
  }
  CheckSetupWeights({0.0f, 0.5f, 0.0f}, "setup_weights");
}

// The host stand-in's error about a file, told of the file the user named:
// without the host's prefix, a line of the file at fault made the subject's.
TEST(HostFileErrors, NameTheFileAndTheLineAtFault) {
  const driver::UserError atLine = driver::HostFileError(
      driver::ErrorKind::kInput, "s.json", "scene file s.json: line 12: no value\nhere", "scene file s.json: ");
  EXPECT_STREQ(atLine.what(), "s.json:12: no value; here");
  EXPECT_EQ(atLine.subject(), "s.json:12");
  EXPECT_EQ(atLine.problem(), "no value; here");
  EXPECT_EQ(atLine.kind(), driver::ErrorKind::kInput);
  const driver::UserError whole = driver::HostFileError(driver::ErrorKind::kOutput, "o.obj",
                                                        "OBJ file o.obj: cannot be created", "OBJ file o.obj: ");
  EXPECT_STREQ(whole.what(), "o.obj: cannot be created");
  EXPECT_EQ(whole.kind(), driver::ErrorKind::kOutput);
  const driver::UserError line(driver::ErrorKind::kInput, "w.txt", 3, "not a number");
  EXPECT_STREQ(line.what(), "w.txt:3: not a number");
}

TEST(RestErrorWarning, NamesThePointsAboveTheThresholdAndTheLargestRoundedUp) {
  driver::BindStatistics stats;
  stats.pointErrors = {0.001, 0.05012, NAN, 0.02, 0.01};
  Warnings warnings;
  WarnRestErrors(stats, 0.01, warnings);
  EXPECT_EQ(warnings.lines(), std::vector<std::string>{"rest-pose error above 0.01 of the cage's size at 2 points, "
                                                       "largest 0.0502 at point 2: 2, 4"});
  Warnings none;
  WarnRestErrors(stats, 0.1, none);
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace checks
