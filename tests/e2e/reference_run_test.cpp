// One fixed calculation through the loaded module, written to files that the
// run of another build (Linux and Windows) is compared with: the example
// target bound to the example cage (its weights file) and the target deformed
// by the squashed cage (an OBJ file).
//
// OSTRAND_REFERENCE_OUT names the folder for this run's files (a temporary one
// otherwise); OSTRAND_REFERENCE_IN the folder of another build's run.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include "loaded_module.h"

namespace {

using e2e::LoadedModuleTest;

struct PointWeights {
  int32_t point = 0;
  std::map<int32_t, float> byCagePoint;
};

struct TargetWeights {
  int32_t pointCount = 0, activeCount = 0, weightCount = 0;
  std::vector<PointWeights> points;
};

struct WeightsFile {
  int32_t mode = 0, cagePoints = 0, cagePolys = 0;
  std::vector<TargetWeights> targets;
};

// Reads a big-endian weights file; nullopt when it is missing, truncated or
// has trailing bytes.
std::optional<WeightsFile> ReadWeights(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = 0;
  bool ok = true;
  auto word = [&]() -> uint32_t {
    if (at + 4 > bytes.size()) {
      ok = false;
      return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at++]);
    return value;
  };
  WeightsFile weights;
  if (!in.is_open() || word() != 1) return std::nullopt;
  weights.mode = static_cast<int32_t>(word());
  weights.cagePoints = static_cast<int32_t>(word());
  weights.cagePolys = static_cast<int32_t>(word());
  const int32_t targetCount = static_cast<int32_t>(word());
  for (int32_t t = 0; ok && t < targetCount; ++t) {
    TargetWeights& target = weights.targets.emplace_back();
    target.pointCount = static_cast<int32_t>(word());
    target.activeCount = static_cast<int32_t>(word());
    target.weightCount = static_cast<int32_t>(word());
    for (int32_t p = 0; ok && weights.mode == 0 && p < target.activeCount; ++p) {
      PointWeights& point = target.points.emplace_back();
      point.point = static_cast<int32_t>(word());
      const uint32_t count = word();
      for (uint32_t k = 0; ok && k < count; ++k) {
        const auto cagePoint = static_cast<int32_t>(word());
        point.byCagePoint[cagePoint] = std::bit_cast<float>(word());
      }
    }
  }
  if (!ok || at != bytes.size()) return std::nullopt;
  return weights;
}

std::filesystem::path FolderFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::filesystem::path(value) : std::filesystem::path();
}

class ReferenceRun : public LoadedModuleTest {
 protected:
  static constexpr int kSamples = 64;

  // Binds the example target to the example cage with this worker count,
  // writing folder/weights.cw, then deforms it by the squashed cage into
  // folder/deformed.obj.
  void run(const std::filesystem::path& folder, int threads) {
    std::filesystem::create_directories(folder);
    for (const char* file : {"weights.cw", "deformed.obj", "agreement.txt"}) std::filesystem::remove(folder / file);
    host::Host& host = startModule();
    const std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
    const uint32_t cage = host.addObjectFromObj(examples + "cage.obj", "cage");
    const uint32_t target = host.addObjectFromObj(examples + "target.obj", "target");
    const uint32_t effect = host.createEffect({target});
    host.buildPanel(effect);
    ASSERT_EQ(host.setInt(host.controlByLabel("Threads")->id, effect, threads), 0);
    ASSERT_EQ(host.setObject(host.controlByLabel("Cage")->id, effect, cage), 0);
    ASSERT_EQ(host.setInt(host.controlByLabel("Samples")->id, effect, kSamples), 0);
    nameWeightsFile(effect, folder / "weights.cw");
    ASSERT_EQ(host.press(host.controlByLabel("Calculate")->id, effect), 0);
    host.setPoints(cage, host::ReadObj(examples + "cage_squash.obj").points);
    ASSERT_EQ(host.evaluate(effect), 0);
    host::WriteObj((folder / "deformed.obj").string(),
                   {host.evaluatedPoints(target), host.object(target)->mesh.polygons});
  }

  std::filesystem::path outputFolder() const {
    std::filesystem::path folder = FolderFromEnvironment("OSTRAND_REFERENCE_OUT");
    return folder.empty() ? root_ / "run" : folder;
  }

  static host::Mesh exampleMesh(const char* name) {
    return host::ReadObj(std::string(OSTRAND_SOURCE_DIR) + "/examples/" + name);
  }
};

TEST_F(ReferenceRun, WritesWeightsAndDeformedPoints) {
  const std::filesystem::path folder = outputFolder();
  ASSERT_NO_FATAL_FAILURE(run(folder, 4));

  std::optional<WeightsFile> weights = ReadWeights(folder / "weights.cw");
  ASSERT_TRUE(weights);
  const size_t targetPoints = exampleMesh("target.obj").points.size();
  EXPECT_EQ(weights->mode, 0);
  EXPECT_EQ(weights->cagePoints, 24);
  EXPECT_EQ(weights->cagePolys, 20);
  ASSERT_EQ(weights->targets.size(), 1u);
  const TargetWeights& target = weights->targets[0];
  EXPECT_EQ(static_cast<size_t>(target.pointCount), targetPoints);
  EXPECT_EQ(static_cast<size_t>(target.activeCount), targetPoints);
  size_t stored = 0;
  for (const PointWeights& point : target.points) {
    double sum = 0;
    for (auto [cagePoint, weight] : point.byCagePoint) {
      EXPECT_TRUE(cagePoint >= 0 && cagePoint < 24) << cagePoint;
      sum += weight;
    }
    EXPECT_NEAR(sum, 1.0, 1e-5) << "point " << point.point;
    stored += point.byCagePoint.size();
  }
  EXPECT_EQ(static_cast<size_t>(target.weightCount), stored);
  EXPECT_EQ(host::ReadObj((folder / "deformed.obj").string()).points.size(), targetPoints);

  // The same run on one worker thread writes the same bytes.
  ASSERT_NO_FATAL_FAILURE(run(root_ / "one-thread", 1));
  for (const char* file : {"weights.cw", "deformed.obj"})
    EXPECT_TRUE(read(folder / file) == read(root_ / "one-thread" / file)) << file;
}

// Every weight within 1e-5 and every deformed point within 1e-6 of the cage's
// size; the counts of bit-identical values are reported.
TEST_F(ReferenceRun, AgreesWithAnotherBuild) {
  const std::filesystem::path reference = FolderFromEnvironment("OSTRAND_REFERENCE_IN");
  if (reference.empty()) GTEST_SKIP() << "OSTRAND_REFERENCE_IN names no other build's run";
  const std::filesystem::path folder = outputFolder();
  ASSERT_NO_FATAL_FAILURE(run(folder, 4));

  std::optional<WeightsFile> ours = ReadWeights(folder / "weights.cw");
  std::optional<WeightsFile> theirs = ReadWeights(reference / "weights.cw");
  ASSERT_TRUE(ours);
  ASSERT_TRUE(theirs) << (reference / "weights.cw").string();
  EXPECT_EQ(ours->mode, theirs->mode);
  EXPECT_EQ(ours->cagePoints, theirs->cagePoints);
  EXPECT_EQ(ours->cagePolys, theirs->cagePolys);
  ASSERT_EQ(ours->targets.size(), theirs->targets.size());
  size_t weights = 0, identicalWeights = 0;
  double largestWeightDifference = 0;
  for (size_t t = 0; t < ours->targets.size(); ++t) {
    const TargetWeights &a = ours->targets[t], &b = theirs->targets[t];
    EXPECT_EQ(a.pointCount, b.pointCount);
    ASSERT_EQ(a.points.size(), b.points.size());
    for (size_t p = 0; p < a.points.size(); ++p) {
      ASSERT_EQ(a.points[p].point, b.points[p].point);
      // A weight that only one side stored counts as 0 on the other.
      std::map<int32_t, std::pair<float, float>> both;
      for (auto [cagePoint, weight] : a.points[p].byCagePoint) both[cagePoint].first = weight;
      for (auto [cagePoint, weight] : b.points[p].byCagePoint) both[cagePoint].second = weight;
      for (auto [cagePoint, pair] : both) {
        const double difference = std::fabs(double(pair.first) - double(pair.second));
        EXPECT_LE(difference, 1e-5) << "point " << a.points[p].point << ", cage point " << cagePoint;
        largestWeightDifference = std::max(largestWeightDifference, difference);
        ++weights;
        identicalWeights += std::bit_cast<uint32_t>(pair.first) == std::bit_cast<uint32_t>(pair.second);
      }
    }
  }

  const std::vector<Vec3> deformed = host::ReadObj((folder / "deformed.obj").string()).points;
  const std::vector<Vec3> deformedThere = host::ReadObj((reference / "deformed.obj").string()).points;
  ASSERT_EQ(deformed.size(), deformedThere.size());
  Vec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
  for (const Vec3& p : exampleMesh("cage.obj").points) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  const double cageSize = std::hypot(high.x - low.x, high.y - low.y, high.z - low.z);
  double largestMove = 0;
  size_t identicalPoints = 0;
  for (size_t i = 0; i < deformed.size(); ++i) {
    const Vec3 &a = deformed[i], &b = deformedThere[i];
    const double distance = std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
    EXPECT_LE(distance, 1e-6 * cageSize) << "point " << i;
    largestMove = std::max(largestMove, distance);
    identicalPoints += a.x == b.x && a.y == b.y && a.z == b.z;
  }

  std::ostringstream figures;
  figures << "weights: " << weights << ", bit-identical " << identicalWeights << ", largest difference "
          << largestWeightDifference << "\n"
          << "deformed points: " << deformed.size() << ", identical " << identicalPoints
          << ", largest distance " << largestMove << " (" << largestMove / cageSize << " of the cage's size "
          << cageSize << ")\n";
  std::cout << figures.str();
  std::ofstream(folder / "agreement.txt") << figures.str();
}

}  // namespace
