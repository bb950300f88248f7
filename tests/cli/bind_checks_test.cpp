// The checks around a bind, as the user meets them: points that get no
// weights fail the run or stay where they are (never at the origin), rest-pose
// errors and a weight floor that costs the rest pose are warned of, and
// --strict makes any warning a failure that writes nothing.
#include <gtest/gtest.h>

#include <cmath>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

// A flat quad at z = 0 (a cage nobody should use, but users do) and a target
// with two points just above it, which bind to it, and two far to the side,
// whose sample rays all miss it.
constexpr const char* kQuadCage = "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nf 1 2 3 4\n";
constexpr const char* kRaisedQuad = "v -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\nf 1 2 3 4\n";
constexpr const char* kTarget = "v 0 0 0.5\nv 0.2 0.1 0.3\nv 50 0 0.5\nv 0 60 1\nf 1 2 3\nf 2 3 4\n";

class BindChecksTest : public OstrandTest {
 protected:
  void SetUp() override {
    OstrandTest::SetUp();
    write("quad.obj", kQuadCage);
    write("raised.obj", kRaisedQuad);
    write("target.obj", kTarget);
  }
  Outcome runQuad(std::vector<std::string> extra) const {
    std::vector<std::string> arguments = {"run", "--cage", "quad.obj", "--target", "target.obj", "raised.obj"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return ostrand(arguments);
  }
  // The bundled example's cage scaled about its centre by factor and written
  // under name.
  void writeScaledCage(const std::string& name, double factor) const {
    const ObjMesh cage = ReadObjMesh(example("cage.obj"));
    std::array<double, 3> centre{};
    for (const auto& p : cage.points)
      for (int a = 0; a < 3; ++a) centre[a] += p[a] / static_cast<double>(cage.points.size());
    std::string text;
    for (const auto& p : cage.points) {
      text += "v";
      for (int a = 0; a < 3; ++a) text += " " + std::to_string(centre[a] + factor * (p[a] - centre[a]));
      text += "\n";
    }
    for (const auto& face : cage.polygons) {
      text += "f";
      for (int corner : face) text += " " + std::to_string(corner + 1);
      text += "\n";
    }
    write(name, text);
  }
};

TEST_F(BindChecksTest, PointsWithoutWeightsFailTheRunAndWriteNothing) {
  const std::set<std::string> before = files();
  const Outcome outcome = runQuad({});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("target.obj: 2 of 4 points got no weights: 3, 4 (likely cause: "), std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("; --allow-unbound keeps them where they are"), std::string::npos) << outcome.err;
  EXPECT_EQ(files(), before);
}

TEST_F(BindChecksTest, AllowUnboundKeepsThosePointsWhereTheyAreInEveryOutput) {
  const Outcome outcome = runQuad({"--allow-unbound", "-o", "kept"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("points bound      2 of 4 (2 without weights kept where they are)"), std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.err.find("ostrand: warning: 2 of 4 points got no weights: 3, 4"), std::string::npos)
      << outcome.err;

  // The scene holds weights without those points: deforming from it keeps
  // them in place too, and gives what the run gave.
  const Outcome again = ostrand({"deform", "--scene", "kept/scene.json", "raised.obj", "-o", "again"});
  ASSERT_EQ(again.status, 0) << again.err;
  const ObjMesh rest = ReadObjMesh(file("target.obj"));
  for (const char* output : {"kept/deformed-raised.obj", "again/deformed-raised.obj"}) {
    SCOPED_TRACE(output);
    const ObjMesh deformed = ReadObjMesh(file(output));
    ASSERT_EQ(deformed.points.size(), 4u);
    EXPECT_EQ(deformed.points[2], rest.points[2]);
    EXPECT_EQ(deformed.points[3], rest.points[3]);
    // Weights on a flat quad give back the points in its plane, which rises by 1.
    for (int i : {0, 1}) EXPECT_NEAR(deformed.points[i][2], 1.0, 1e-6);
  }
  EXPECT_EQ(read("kept/deformed-raised.obj"), read("again/deformed-raised.obj"));
}

TEST_F(BindChecksTest, StrictTurnsAWarningIntoAFailureThatWritesNothing) {
  // A pose near the rest, so that the warning is the points' alone.
  write("nudged.obj", "v -1 -1 0.1\nv 1 -1 0.1\nv 1 1 0.1\nv -1 1 0.1\nf 1 2 3 4\n");
  const std::set<std::string> before = files();
  const Outcome outcome = ostrand(
      {"run", "--cage", "quad.obj", "--target", "target.obj", "nudged.obj", "--allow-unbound", "--strict"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("ostrand: warning: 2 of 4 points got no weights"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("ostrand: --strict: "), std::string::npos) << outcome.err;
  EXPECT_EQ(files(), before);
}

TEST_F(BindChecksTest, RestPoseErrorsAboveTheThresholdAreNamed) {
  writeScaledCage("small.obj", 0.7);
  const std::vector<std::string> bind = {"bind", "--cage", "small.obj", "--target", example("target.obj")};
  Outcome warned = ostrand(bind);
  ASSERT_EQ(warned.status, 0) << warned.err;
  EXPECT_NE(warned.err.find("ostrand: warning: rest-pose error above 0.01 of the cage's size at "), std::string::npos)
      << warned.err;
  EXPECT_NE(warned.err.find("ostrand: warning: target: "), std::string::npos) << warned.err;  // points outside

  std::vector<std::string> lenient = bind;
  lenient.insert(lenient.end(), {"--warn-rest-error", "0.5", "-o", "lenient"});
  const Outcome quiet = ostrand(lenient);
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find("rest-pose error above"), std::string::npos) << quiet.err;
}

TEST_F(BindChecksTest, AWeightFloorThatCostsTheRestPoseIsWarnedOfAndOneAboveEveryWeightIsCounted) {
  const std::vector<std::string> bind = {"bind", "--cage", example("cage.obj"), "--target", example("target.obj")};
  std::vector<std::string> high = bind;
  high.insert(high.end(), {"--weight-floor", "0.3", "-o", "high"});
  const Outcome floored = ostrand(high);
  ASSERT_EQ(floored.status, 0) << floored.err;
  EXPECT_NE(floored.err.find("ostrand: warning: weight floor 0.3 takes the rest-pose error above 0.01 of the "
                             "cage's size at "),
            std::string::npos)
      << floored.err;

  std::vector<std::string> top = bind;
  top.insert(top.end(), {"--weight-floor", "1", "-o", "top"});
  const Outcome ignored = ostrand(top);
  ASSERT_EQ(ignored.status, 0) << ignored.err;
  EXPECT_NE(ignored.out.find("weight floor      above every weight of 3138 points"), std::string::npos)
      << ignored.out;
  EXPECT_EQ(ignored.err, "");  // the weights are those of no floor: nothing to warn of
}

TEST_F(BindChecksTest, CheckCommandReportsACleanCageOnOneLineAndFindingsUnderStrict) {
  const Outcome clean = ostrand({"check", "--cage", example("cage.obj"), "--target", example("target.obj")});
  ASSERT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(std::count(clean.out.begin(), clean.out.end(), '\n'), 1) << clean.out;

  write("open.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                    "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\n");
  const Outcome open = ostrand({"check", "--cage", "open.obj"});
  EXPECT_EQ(open.status, 0) << open.err;
  EXPECT_NE(open.out.find("4 boundary edges"), std::string::npos) << open.out;
  const Outcome strict = ostrand({"check", "--cage", "open.obj", "--strict"});
  EXPECT_EQ(strict.status, 1);
  EXPECT_NE(strict.err.find("ostrand: --strict: "), std::string::npos) << strict.err;
}

}  // namespace
}  // namespace cli_test
