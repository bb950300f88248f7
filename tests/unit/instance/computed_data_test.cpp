// What an instance computes from its cage and targets: the active points,
// with and without a setup map, release, and what is left when the cage, the
// targets or memory are missing; beside them, the dense rows the test support
// adds (support/dense_rows.h) and their compaction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host_interface/memory.h"
#include "instance/instance.h"
#include "instance_model_fixture.h"
#include "support/dense_rows.h"

namespace {

using test_support::CubeMesh;
using test_support::InstanceModelTest;
using test_support::Line;
using test_support::PointCloud;

TEST_F(InstanceModelTest, EveryPointIsActiveWithoutASetupMap) {
  EffectInstance* instance = makeBound(5);
  for (bool dense : {false, true}) {
    if (dense)
      test_support::PrepareDenseTargets(instance);
    else
      ostrand::PrepareTargets(instance);
    const TargetEntry& t = instance->Targets->records[0];
    EXPECT_EQ(instance->CagePoints, 4u);
    ASSERT_EQ(t.ActiveCount, 5u);
    EXPECT_EQ(t.PointCount, 5);
    for (uint32_t i = 0; i < 5; ++i) {
      EXPECT_EQ(t.PointIndices[i], i);
      EXPECT_DOUBLE_EQ(t.SetupPositions[i].x, 0.1 * i);
      EXPECT_EQ(t.RestPositions[i].x, 0.0);
      EXPECT_EQ(t.OutPositions[i].x, 0.0);
    }
    // The weights come from the calculation; only the dense rows for
    // comparisons are there, zero, beforehand.
    if (!dense) {
      EXPECT_EQ(t.WeightCount, 0);
      EXPECT_EQ(t.Weights, nullptr);
      continue;
    }
    ASSERT_EQ(t.WeightCount, 20);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(t.Weights[k], 0.0);
  }
}

TEST_F(InstanceModelTest, SetupMapPicksPointsWithNonZeroOrNaNWeight) {
  uint32_t target = 0;
  EffectInstance* instance = makeBound(6, &target);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  instance->SetupMask = host().addWeightMap(target, "setup", {0.0f, 0.5f, -0.0f, 1.0f, 0.0f, nan});
  ostrand::PrepareTargets(instance);
  const TargetEntry& t = instance->Targets->records[0];
  ASSERT_EQ(t.ActiveCount, 3u);
  EXPECT_EQ(t.PointIndices[0], 1u);
  EXPECT_EQ(t.PointIndices[1], 3u);
  EXPECT_EQ(t.PointIndices[2], 5u);
  EXPECT_DOUBLE_EQ(t.SetupPositions[1].x, 0.3);
  EXPECT_EQ(t.WeightCount, 0);
}

TEST_F(InstanceModelTest, CompactionKeepsNonZeroWeightsWithTheirCagePoints) {
  EffectInstance* instance = makeBound(3);
  test_support::PrepareDenseTargets(instance);
  TargetEntry& t = instance->Targets->records[0];
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double rows[3][4] = {{0.5, 0, 0, 0.5}, {0, 0, 0, 0}, {-0.0, nan, 0.25, 0}};
  std::memcpy(t.Weights, rows, sizeof rows);
  test_support::CompactDenseWeights(instance);

  ASSERT_EQ(t.WeightCount, 4);
  EXPECT_EQ(t.WeightCounts[0], 2);
  EXPECT_EQ(t.WeightCounts[1], 0);
  EXPECT_EQ(t.WeightCounts[2], 2);  // -0.0 goes, NaN stays
  EXPECT_EQ(t.WeightOffsets[0], 0);
  EXPECT_EQ(t.WeightOffsets[1], 2);
  EXPECT_EQ(t.WeightOffsets[2], 2);
  const int expectedIndices[] = {0, 3, 1, 2};
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(t.CageIndices[j], expectedIndices[j]);
    EXPECT_EQ(t.CageRefs[j], &instance->CagePositions[expectedIndices[j]]);
  }
  EXPECT_EQ(t.Weights[0], 0.5);
  EXPECT_EQ(t.Weights[1], 0.5);
  EXPECT_TRUE(std::isnan(t.Weights[2]));
  EXPECT_EQ(t.Weights[3], 0.25);
}

TEST_F(InstanceModelTest, ReleaseEmptiesComputedDataAndKeepsSettings) {
  EffectInstance* instance = makeBound(4);
  ostrand::ReleaseComputedData(instance);  // fresh: only counts
  ostrand::PrepareTargets(instance);
  ostrand::CompactWeights(instance);
  instance->Mode = 0;
  std::strcpy(instance->WeightsPath, "/tmp/w.cw");
  ostrand::ReleaseComputedData(instance);
  ostrand::ReleaseComputedData(instance);
  EXPECT_EQ(instance->Mode, 0);
  EXPECT_STREQ(instance->WeightsPath, "/tmp/w.cw");
  EXPECT_EQ(instance->Cage, cage_);
  EXPECT_EQ(instance->CagePoints, 0u);
  EXPECT_EQ(instance->CagePositions, nullptr);
  const TargetEntry& t = instance->Targets->records[0];
  EXPECT_EQ(t.ActiveCount, 0u);
  EXPECT_EQ(t.WeightCount, 0);
  EXPECT_EQ(t.PointCount, 4);
  EXPECT_EQ(t.Weights, nullptr);
  EXPECT_EQ(t.PointIndices, nullptr);
}

TEST_F(InstanceModelTest, NoCageOrNoTargetsComputesNothing) {
  uint32_t effect = makeEffect({});
  EffectInstance* instance = instanceOf(effect);
  instance->Cage = host().addObject("cage", CubeMesh());
  ostrand::PrepareTargets(instance);
  ostrand::CompactWeights(instance);
  EXPECT_EQ(instance->CagePoints, 8u);
  EXPECT_EQ(instance->CagePolys, 6);

  EffectInstance* noCage = makeBound(3);
  noCage->Cage = 0;
  ostrand::PrepareTargets(noCage);
  EXPECT_EQ(noCage->Targets->records[0].ActiveCount, 0u);
  EXPECT_EQ(noCage->CagePositions, nullptr);
}

TEST_F(InstanceModelTest, AllocationFailuresLeaveTheTargetEmptyAndTellTheUser) {
  for (long n = 0;; ++n) {
    EffectInstance* instance = makeBound(6);
    host().clearMessages();
    ostrand::SetAllocationFailure(n);
    ostrand::PrepareTargets(instance);
    ostrand::CompactWeights(instance);
    long made = ostrand::SetAllocationFailure(-1);
    const TargetEntry& t = instance->Targets->records[0];
    if (n >= made) {  // every allocation succeeded: the operation is complete
      EXPECT_EQ(t.ActiveCount, 6u);
      EXPECT_TRUE(host().messages().empty());
      break;
    }
    // Counts never describe arrays that were not obtained.
    EXPECT_EQ(t.ActiveCount, 0u) << n;
    EXPECT_EQ(t.WeightCount, 0) << n;
    EXPECT_EQ(t.Weights, nullptr);
    EXPECT_EQ(t.PointIndices, nullptr);
    ASSERT_EQ(host().messages().size(), 1u) << n;
    EXPECT_EQ(host().messages()[0].kind, ostrand::kMessageKindError);
    EXPECT_EQ(host().messages()[0].text2, "Error");
    if (n > 0) {
      EXPECT_NE(host().messages()[0].text.find("\"target\""), std::string::npos) << host().messages()[0].text;
    }
  }
}

// 2^31 active points x cage points: only the dense rows kept for comparisons
// refuse it; the calculation's targets are prepared (and bound: see the
// calculation driver's tests).
TEST_F(InstanceModelTest, OnlyDenseRowsRefuse2To31Entries) {
  std::vector<Vec3> cagePoints(1 << 16), targetPoints(1 << 15);
  uint32_t cage = host().addObject("big cage", PointCloud(cagePoints));
  uint32_t target = host().addObject("big target", PointCloud(targetPoints));
  uint32_t small = host().addObject("small target", PointCloud(Line(2)));
  EffectInstance* instance = instanceOf(makeEffect({target, small}));
  instance->Cage = cage;
  host().clearMessages();
  ostrand::PrepareTargets(instance);
  EXPECT_EQ(instance->Targets->records[0].ActiveCount, 1u << 15);
  EXPECT_TRUE(host().messages().empty());

  ostrand::ReleaseComputedData(instance);
  test_support::PrepareDenseTargets(instance);
  EXPECT_EQ(instance->Targets->records[0].ActiveCount, 0u);
  EXPECT_EQ(instance->Targets->records[0].Weights, nullptr);
  EXPECT_EQ(instance->Targets->records[1].ActiveCount, 2u);  // the others go on
  ASSERT_EQ(host().messages().size(), 1u);
  EXPECT_NE(host().messages()[0].text.find("\"big target\" has too many points for this cage"), std::string::npos);
}

}  // namespace
