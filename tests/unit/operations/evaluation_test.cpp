// Evaluation: targets follow the cage, plain or blended by a weight map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "instance/instance.h"
#include "operations/evaluation.h"
#include "operations/threads.h"
#include "support/dense_rows.h"
#include "support/module_fixture.h"

namespace {

using test_support::CubeMesh;
using test_support::ModuleTest;
using test_support::PointCloud;

bool SameBits(const Vec3& a, const Vec3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class EvaluationTest : public ModuleTest {
 protected:
  // A cube cage and a target of n points; point i gets the dense row rows[i]
  // (8 cage weights), so the instance ends up with compact weights, Mode 0.
  EffectInstance* bind(const std::vector<Vec3>& points, const std::vector<std::array<double, 8>>& rows,
                       uint32_t setupMask = 0) {
    cage_ = host().addObject("cage", CubeMesh());
    target_ = host().addObject("target", PointCloud(points));
    effect_ = makeEffect({target_});
    EffectInstance* instance = instanceOf(effect_);
    instance->Cage = cage_;
    if (setupMask) instance->SetupMask = setupMask;
    test_support::PrepareDenseTargets(instance);
    TargetEntry& t = instance->Targets->records[0];
    for (uint32_t i = 0; i < t.ActiveCount; ++i) std::memcpy(&t.Weights[8 * i], rows[i].data(), sizeof(double) * 8);
    test_support::CompactDenseWeights(instance);
    instance->Mode = 0;
    return instance;
  }
  std::vector<Vec3> cagePoints() { return host().object(cage_)->mesh.points; }
  uint32_t cage_ = 0, target_ = 0, effect_ = 0;
};

const std::array<double, 8> kCorner0 = {1, 0, 0, 0, 0, 0, 0, 0};
const std::array<double, 8> kNone = {0, 0, 0, 0, 0, 0, 0, 0};
const std::array<double, 8> kMix = {0.25, 0, 0, 0.25, 0, 0.25, 0, 0.25};

TEST_F(EvaluationTest, OnlyTheEvaluationArgumentOfAnInstanceWithWeightsActs) {
  EffectInstance* instance = bind({{0, 0, 0}}, {kCorner0});
  host().resetCalls();
  EXPECT_EQ(ostrand::EvaluateInstance(effect_, 0x800), 0);  // not kEvaluateDisplace
  EXPECT_EQ(host().calls("fxDataGet"), 0);
  EXPECT_EQ(host().calls("fxMeshPoint"), 0);
  instance->Mode = -1;
  EXPECT_EQ(ostrand::EvaluateInstance(effect_, ostrand::kEvaluateDisplace), 0);
  EXPECT_EQ(host().calls("fxMeshPoint"), 0);
  EXPECT_EQ(host().calls("fxDisplaceBegin"), 0);
  instance->Mode = 3;
  EXPECT_EQ(ostrand::EvaluateInstance(effect_, ostrand::kEvaluateDisplace), 0);
  EXPECT_EQ(host().calls("fxDisplaceBegin"), 0);
}

TEST_F(EvaluationTest, PointsFollowTheCage) {
  bind({{0, 0, 0}, {5, 5, 5}, {0.5, 0.5, 0.5}}, {kCorner0, kNone, kMix});
  ASSERT_EQ(host().evaluate(effect_), 0);
  auto cage = cagePoints();
  auto out = host().evaluatedPoints(target_);
  EXPECT_TRUE(SameBits(out[0], cage[0]));
  EXPECT_TRUE(SameBits(out[1], Vec3{0, 0, 0}));  // no weights: the origin
  EXPECT_DOUBLE_EQ(out[2].x, 0.25 * (cage[0].x + cage[3].x + cage[5].x + cage[7].x));

  for (auto& p : cage) p = Vec3{p.x * 2 + 1, p.y - 3, p.z * 0.5};
  host().setPoints(cage_, cage);
  ASSERT_EQ(host().evaluate(effect_), 0);
  out = host().evaluatedPoints(target_);
  EXPECT_TRUE(SameBits(out[0], cage[0]));
  EXPECT_DOUBLE_EQ(out[2].y, 0.25 * (cage[0].y + cage[3].y + cage[5].y + cage[7].y));
  EXPECT_EQ(host().displaceOutsideBracket(), 0);
}

TEST_F(EvaluationTest, FirstEvaluationBeforeThePrepareMessageIsAlreadyRight) {
  bind({{0, 0, 0}, {0.5, 0.5, 0.5}}, {kCorner0, kMix});
  // No prepare message yet.
  EXPECT_EQ(host().sendMessage(effect_, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace), 0);
  auto first = host().evaluatedPoints(target_);
  ASSERT_EQ(host().evaluate(effect_), 0);
  auto second = host().evaluatedPoints(target_);
  for (size_t i = 0; i < first.size(); ++i) EXPECT_TRUE(SameBits(first[i], second[i]));
  EXPECT_TRUE(SameBits(first[0], cagePoints()[0]));
}

TEST_F(EvaluationTest, InactivePointsAreNeverDisplaced) {
  std::vector<Vec3> points = {{9, 9, 9}, {8, 8, 8}, {7, 7, 7}};
  cage_ = host().addObject("cage", CubeMesh());
  uint32_t target = host().addObject("target", PointCloud(points));
  uint32_t mask = host().addWeightMap(target, "setup", {0.0f, 1.0f, 0.0f});
  effect_ = makeEffect({target});
  EffectInstance* instance = instanceOf(effect_);
  instance->Cage = cage_;
  instance->SetupMask = mask;
  test_support::PrepareDenseTargets(instance);
  instance->Targets->records[0].Weights[0] = 1.0;
  test_support::CompactDenseWeights(instance);
  instance->Mode = 0;
  host().resetCalls();
  ASSERT_EQ(host().evaluate(effect_), 0);
  EXPECT_EQ(host().calls("fxDisplacePoint"), 1);
  auto out = host().evaluatedPoints(target);
  EXPECT_TRUE(SameBits(out[0], points[0]));
  EXPECT_TRUE(SameBits(out[1], cagePoints()[0]));
  EXPECT_TRUE(SameBits(out[2], points[2]));
}

TEST_F(EvaluationTest, TargetWithoutActivePointsOnlyGetsTheBracket) {
  EffectInstance* instance = bind({{0, 0, 0}}, {kCorner0});
  ostrand::ReleaseComputedData(instance);  // keeps Mode 0, empties the targets
  instance->Cage = 0;
  host().resetCalls();
  ASSERT_EQ(host().evaluate(effect_), 0);
  EXPECT_EQ(host().calls("fxDisplaceBegin"), 1);
  EXPECT_EQ(host().calls("fxDisplaceEnd"), 1);
  EXPECT_EQ(host().calls("fxDisplacePoint"), 0);
  EXPECT_EQ(host().calls("fxMeshPoint"), 0);
  EXPECT_EQ(host().calls("fxMeshPointWeight"), 0);

  instance->Weight[0] = static_cast<int32_t>(host().addWeightMap(target_, "blend", {1.0f}));
  host().resetCalls();
  ASSERT_EQ(host().evaluate(effect_), 0);
  EXPECT_EQ(host().calls("fxMeshPointWeight"), 1);  // the single leading query
  EXPECT_EQ(host().calls("fxDisplaceBegin"), 1);
  EXPECT_EQ(host().calls("fxDisplaceEnd"), 1);
  EXPECT_EQ(host().calls("fxDisplacePoint"), 0);
}

TEST_F(EvaluationTest, WeightMapBlendsBetweenCageSumAndRestPosition) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<Vec3> points = {{0.1, 0.2, 0.3}, {0.4, 0.5, 0.6}, {0.7, 0.8, 0.9}, {1, 2, 3}, {4, 5, 6}, {-1, -2, -3}};
  std::vector<float> blend = {1.0f, 0.0f, -0.0f, 0.5f, nan, 0.25f};
  EffectInstance* instance = bind(points, {kCorner0, kCorner0, kCorner0, kCorner0, kCorner0, kNone});
  instance->Weight[0] = static_cast<int32_t>(host().addWeightMap(target_, "blend", blend));
  host().resetCalls();
  ASSERT_EQ(host().evaluate(effect_), 0);
  EXPECT_EQ(host().calls("fxDisplacePoint"), 4);  // 0 and -0 are skipped
  EXPECT_EQ(host().calls("fxMeshPointWeight"), 7);
  auto c = cagePoints()[0];
  auto out = host().evaluatedPoints(target_);
  EXPECT_TRUE(SameBits(out[0], c));
  EXPECT_TRUE(SameBits(out[1], points[1]));
  EXPECT_TRUE(SameBits(out[2], points[2]));
  EXPECT_DOUBLE_EQ(out[3].x, 0.5 * c.x + 0.5 * points[3].x);
  EXPECT_DOUBLE_EQ(out[3].z, 0.5 * c.z + 0.5 * points[3].z);
  EXPECT_TRUE(std::isnan(out[4].x));
  // No weights: (1 - w) x rest, with 1 - w formed in single precision.
  EXPECT_EQ(out[5].y, -2.0 * static_cast<double>(1.0f - 0.25f));

  // The first weight-map value of zero selects the plain form whatever the rest.
  instance->Weight[0] = 0;
  instance->Weight[1] = 5;
  instance->Weight[2] = 7;
  host().resetCalls();
  ASSERT_EQ(host().evaluate(effect_), 0);
  EXPECT_EQ(host().calls("fxMeshPointWeight"), 0);
  EXPECT_EQ(host().calls("fxDisplacePoint"), 6);
}

TEST_F(EvaluationTest, ResultsDoNotDependOnTheThreadCount) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = 2500;
  std::vector<Vec3> points(n);
  std::vector<std::array<double, 8>> rows(n);
  std::vector<float> blend(n);
  for (int i = 0; i < n; ++i) {
    points[i] = {u(random), u(random), u(random)};
    double sum = 0;
    for (auto& w : rows[i]) sum += (w = u(random) < 0.4 ? 0.0 : u(random));
    for (auto& w : rows[i]) w = sum > 0 ? w / sum : 0;
    blend[i] = static_cast<float>(u(random));
  }
  bind(points, rows);
  uint32_t map = host().addWeightMap(target_, "blend", blend);
  auto cage = cagePoints();
  for (auto& p : cage) p = Vec3{p.x + 0.3 * p.y, p.y * 1.7, p.z - 0.2 * p.x};
  host().setPoints(cage_, cage);

  // The stored weights are the evaluation's work: at the small-work threshold
  // it runs on threads, just below it on the caller alone.
  const TargetEntry& entry = instanceOf(effect_)->Targets->records[0];
  const int64_t work = int64_t{entry.WeightOffsets[n - 1]} + entry.WeightCounts[n - 1];
  const std::pair<int, int64_t> runs[] = {{1, 0}, {2, 0}, {5, 0}, {5, work}, {5, work + 1}};
  for (int weighted = 0; weighted < 2; ++weighted) {
    instanceOf(effect_)->Weight[0] = weighted ? static_cast<int32_t>(map) : 0;
    std::vector<std::vector<Vec3>> results;
    for (auto [threads, threshold] : runs) {
      ostrand::SetThreadCount(threads);
      ostrand::SetSmallWorkThresholds({threshold, 0});
      ASSERT_EQ(host().evaluate(effect_), 0);
      results.push_back(host().evaluatedPoints(target_));
    }
    for (size_t r = 1; r < results.size(); ++r)
      for (int i = 0; i < n; ++i) ASSERT_TRUE(SameBits(results[0][i], results[r][i])) << weighted << " " << i;
  }
  EXPECT_EQ(host().displaceOutsideBracket(), 0);
}

}  // namespace
