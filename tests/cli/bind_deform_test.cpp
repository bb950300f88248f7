// Binding, saving and deforming: the saved weights and scene give what one
// run gives, the rest pose comes back within the printed figure, and the
// setup and blend weight maps reach the module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

class BindDeformTest : public OstrandTest {
 protected:
  std::vector<std::string> bindArguments(const std::string& command, const std::string& output) const {
    return {command, "--samples", "6", "--cage", example("cage.obj"), "--target", example("target.obj"), "-o", output};
  }
  // A weight map file: value(k) for each target point k.
  template <typename F>
  void writeWeights(const std::string& name, F value) const {
    std::string text = "# one value per target point\n";
    for (int k = 0; k < 3138; ++k) text += std::to_string(value(k)) + "\n";
    write(name, text);
  }
};

// The figure after "rest-pose error   largest ".
double PrintedLargestError(const std::string& out) {
  std::smatch match;
  EXPECT_TRUE(std::regex_search(out, match, std::regex("rest-pose error +largest ([0-9.e+-]+),"))) << out;
  return match.empty() ? -1.0 : std::stod(match[1]);
}

TEST_F(BindDeformTest, SavedWeightsAndSceneDeformLikeOneRunWhateverTheThreads) {
  std::vector<std::string> oneGo = bindArguments("run", "together");
  for (const char* pose : {"cage_twist.obj", "cage_squash.obj"}) oneGo.push_back(example(pose));
  oneGo.insert(oneGo.end(), {"--threads", "2"});
  Outcome together = ostrand(oneGo);
  ASSERT_EQ(together.status, 0) << together.err;

  std::vector<std::string> bindOnly = bindArguments("bind", "bound");
  bindOnly.insert(bindOnly.end(), {"--threads", "1"});
  Outcome bound = ostrand(bindOnly);
  ASSERT_EQ(bound.status, 0) << bound.err;
  EXPECT_EQ(read("bound/weights.cw"), read("together/weights.cw"));

  // The bound folder may move: the scene finds its weights file beside it.
  std::filesystem::rename(file("bound"), file("moved"));
  const std::vector<std::string> poses = {example("cage_twist.obj"), example("cage_squash.obj")};
  const std::vector<std::pair<std::string, std::vector<std::string>>> reruns = {
      {"from-weights",
       {"deform", "--weights", "moved/weights.cw", "--cage", example("cage.obj"), "--target", example("target.obj")}},
      {"from-scene", {"deform", "--scene", "moved/scene.json"}},
  };
  for (auto [folder, arguments] : reruns) {
    arguments.insert(arguments.end(), {"-o", folder});
    arguments.insert(arguments.end(), poses.begin(), poses.end());
    Outcome deformed = ostrand(arguments);
    ASSERT_EQ(deformed.status, 0) << folder << ": " << deformed.err;
    EXPECT_NE(deformed.out.find("bind time         none, weights read from moved/weights.cw"), std::string::npos)
        << deformed.out;
    for (const std::string name : {"deformed-cage_twist.obj", "deformed-cage_squash.obj"}) {
      const std::string expected = read("together/" + name);
      ASSERT_FALSE(expected.empty()) << name;
      EXPECT_EQ(read(folder + "/" + name), expected) << folder << "/" << name;
    }
  }
}

TEST_F(BindDeformTest, RestCageGivesBackTheTargetWithinThePrintedFigure) {
  std::vector<std::string> arguments = bindArguments("run", "rest");
  arguments.push_back(example("cage.obj"));
  Outcome run = ostrand(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  const double printed = PrintedLargestError(run.out);
  EXPECT_GT(printed, 0.0);
  EXPECT_LT(printed, 0.01);  // a bind worth the name

  const auto rest = ReadObjMesh(example("target.obj")).points;
  const ObjMesh deformed = ReadObjMesh(file("rest/deformed-cage.obj"));
  ASSERT_EQ(deformed.points.size(), rest.size());
  double largest = 0;
  for (size_t i = 0; i < rest.size(); ++i) largest = std::max(largest, Distance(deformed.points[i], rest[i]));
  const double cageSize = Diagonal(ReadObjMesh(example("cage.obj")).points);
  EXPECT_LE(largest / cageSize, printed);
  EXPECT_GT(largest / cageSize, printed * 0.9);  // and the figure is that error, not a loose bound
}

TEST_F(BindDeformTest, SetupWeightsBindSomePointsAndTheWeightsNeedThemAgain) {
  writeWeights("setup.txt", [](int k) { return k < 1000 ? 1.0 : 0.0; });
  std::vector<std::string> arguments = bindArguments("run", "part");
  arguments.insert(arguments.end(), {"--setup-weights", "setup.txt", example("cage_twist.obj")});
  Outcome run = ostrand(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("points bound      1000 of 3138\n"), std::string::npos) << run.out;

  const auto rest = ReadObjMesh(example("target.obj")).points;
  const ObjMesh deformed = ReadObjMesh(file("part/deformed-cage_twist.obj"));
  ASSERT_EQ(deformed.points.size(), rest.size());
  double boundMove = 0, unboundMove = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    double& move = i < 1000 ? boundMove : unboundMove;
    move = std::max(move, Distance(deformed.points[i], rest[i]));
  }
  EXPECT_LT(unboundMove, 1e-6);
  EXPECT_GT(boundMove, 0.05);

  // The weights file holds the bound points only: with the same setup map it
  // deforms alike; without it the program says the file does not fit.
  std::vector<std::string> again = {"deform",
                                    "--weights",
                                    "part/weights.cw",
                                    "--cage",
                                    example("cage.obj"),
                                    "--target",
                                    example("target.obj"),
                                    "--setup-weights",
                                    "setup.txt",
                                    "-o",
                                    "again",
                                    example("cage_twist.obj")};
  Outcome same = ostrand(again);
  ASSERT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(read("again/deformed-cage_twist.obj"), read("part/deformed-cage_twist.obj"));
  again.erase(again.begin() + 7, again.begin() + 9);
  again[again.size() - 2] = "without";
  Outcome without = ostrand(again);
  EXPECT_EQ(without.status, 1);
  EXPECT_NE(without.err.find("ostrand: part/weights.cw: "), std::string::npos) << without.err;
  EXPECT_FALSE(std::filesystem::exists(file("without")));
}

TEST_F(BindDeformTest, BlendWeightsMixRestAndDeformedPositions) {
  std::vector<std::string> plain = bindArguments("run", "plain");
  plain.push_back(example("cage_bend.obj"));
  ASSERT_EQ(ostrand(plain).status, 0);
  writeWeights("blend.txt", [](int k) { return k % 3 == 0 ? 0.0 : k % 3 == 1 ? 1.0 : 0.5; });
  std::vector<std::string> blended = bindArguments("run", "blended");
  blended.insert(blended.end(), {"--blend-weights", "blend.txt", example("cage_bend.obj")});
  Outcome run = ostrand(blended);
  ASSERT_EQ(run.status, 0) << run.err;

  const auto rest = ReadObjMesh(example("target.obj")).points;
  const ObjMesh full = ReadObjMesh(file("plain/deformed-cage_bend.obj"));
  const ObjMesh mixed = ReadObjMesh(file("blended/deformed-cage_bend.obj"));
  ASSERT_EQ(mixed.points.size(), rest.size());
  ASSERT_EQ(full.points.size(), rest.size());
  double worst[3] = {0, 0, 0};
  for (size_t i = 0; i < rest.size(); ++i) {
    std::array<double, 3> expected = i % 3 == 0 ? rest[i] : full.points[i];
    if (i % 3 == 2)
      for (int k = 0; k < 3; ++k) expected[k] = (rest[i][k] + full.points[i][k]) / 2;
    worst[i % 3] = std::max(worst[i % 3], Distance(mixed.points[i], expected));
  }
  EXPECT_LT(worst[0], 1e-6);
  EXPECT_LT(worst[1], 1e-6);
  EXPECT_LT(worst[2], 1e-6);
  // The scene keeps the blend: deforming from it blends alike.
  Outcome again = ostrand({"deform", "--scene", "blended/scene.json", "-o", "again", example("cage_bend.obj")});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(read("again/deformed-cage_bend.obj"), read("blended/deformed-cage_bend.obj"));
}

// --threads holds for its run only: the module's settings file, which the
// "Threads" control writes, is as it was afterwards, unless --save-threads.
TEST_F(BindDeformTest, ThreadsForOneRunLeaveTheModuleSettingAsItWas) {
  ASSERT_EQ(ostrand({"bind", "--cage", example("cage.obj"), "--target", example("target.obj"), "-o", "first"}).status,
            0);  // the module has made its settings file
  std::ifstream in(settingsFile(), std::ios::binary);
  const std::string settings((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(settings.empty());

  std::vector<std::string> once = bindArguments("bind", "once");
  once.insert(once.end(), {"--threads", "7"});
  const Outcome run = ostrand(once);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("7 threads"), std::string::npos) << run.out;
  std::ifstream after(settingsFile(), std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), settings);

  std::vector<std::string> lasting = bindArguments("bind", "lasting");
  lasting.insert(lasting.end(), {"--threads", "7", "--save-threads"});
  ASSERT_EQ(ostrand(lasting).status, 0);
  std::ifstream saved(settingsFile(), std::ios::binary);
  const std::string kept((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
  EXPECT_NE(kept, settings);
  EXPECT_NE(kept.find('7'), std::string::npos) << kept;
  const Outcome later = ostrand(bindArguments("bind", "later"));
  EXPECT_NE(later.out.find("7 threads"), std::string::npos) << later.out;
}

// --keep-rest: the rest cage gives back the target exactly, blended or not,
// and the scene written keeps the blend map, so that deforming from it
// without --keep-rest blends as a run without it does.
TEST_F(BindDeformTest, KeepRestGivesBackTheRestPoseExactlyAndTheSceneItsBlend) {
  writeWeights("blend.txt", [](int k) { return k % 2 == 0 ? 0.25 : 1.0; });
  std::vector<std::string> kept = bindArguments("run", "kept");
  kept.insert(kept.end(), {"--keep-rest", "--blend-weights", "blend.txt", example("cage.obj")});
  Outcome run = ostrand(kept);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("with --keep-rest  largest 0 of the cage's size"), std::string::npos) << run.out;
  EXPECT_EQ(ReadObjMesh(file("kept/deformed-cage.obj")).points, ReadObjMesh(example("target.obj")).points);

  std::vector<std::string> plain = bindArguments("run", "plain");
  plain.insert(plain.end(), {"--blend-weights", "blend.txt", example("cage_bend.obj")});
  ASSERT_EQ(ostrand(plain).status, 0);
  Outcome again = ostrand({"deform", "--scene", "kept/scene.json", "-o", "again", example("cage_bend.obj")});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(read("again/deformed-cage_bend.obj"), read("plain/deformed-cage_bend.obj"));
}

// The offset form with the weights renormalised in double precision: a
// translated cage moves every point by the translation, to within rounding
// of the translation itself (the file's single-precision weights add up to 1
// only within about 4e-8, 4e-4 at a translation of 10,000 without it).
TEST_F(BindDeformTest, KeepRestFollowsATranslationExactlyAtAnyScale) {
  ASSERT_EQ(ostrand(bindArguments("bind", "bound")).status, 0);
  const ObjMesh cage = ReadObjMesh(example("cage.obj"));
  const ObjMesh target = ReadObjMesh(example("target.obj"));
  const double size = Diagonal(cage.points);
  for (const double move : {1.0, 100.0, 10000.0}) {
    SCOPED_TRACE(move);
    std::string moved;
    char line[128];
    for (const auto& p : cage.points) {
      std::snprintf(line, sizeof line, "v %.17g %.17g %.17g\n", p[0] + move, p[1] - 0.5 * move, p[2] + 0.25 * move);
      moved += line;
    }
    for (const auto& polygon : cage.polygons) {
      moved += "f";
      for (int corner : polygon) moved += " " + std::to_string(corner + 1);
      moved += "\n";
    }
    write("moved.obj", moved);
    Outcome outcome = ostrand({"-q", "deform", "--scene", "bound/scene.json", "--keep-rest", "-o", "out", "moved.obj"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const ObjMesh deformed = ReadObjMesh(file("out/deformed-moved.obj"));
    ASSERT_EQ(deformed.points.size(), target.points.size());
    double largest = 0.0;
    for (size_t i = 0; i < target.points.size(); ++i) {
      const auto& p = target.points[i];
      largest = std::max(largest, Distance(deformed.points[i], {p[0] + move, p[1] - 0.5 * move, p[2] + 0.25 * move}));
    }
    EXPECT_LE(largest, 1e-12 * size * move) << largest;
  }
}

}  // namespace
}  // namespace cli_test
