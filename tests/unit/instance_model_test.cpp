// The effect instance and its target records: defaults, active points,
// compaction, release and the target-list callbacks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "host_interface/memory.h"
#include "instance/instance.h"
#include "shell/module_callback.h"
#include "support/dense_rows.h"
#include "support/module_fixture.h"

namespace {

using test_support::CubeMesh;
using test_support::ModuleTest;
using test_support::PointCloud;

std::vector<Vec3> Line(int n) {
  std::vector<Vec3> points;
  for (int i = 0; i < n; ++i) points.push_back({0.1 * i, 0.0, 0.0});
  return points;
}

class InstanceModelTest : public ModuleTest {
 protected:
  // A 4-point cage and a target of targetPoints points on one effect.
  EffectInstance* makeBound(int targetPoints, uint32_t* target = nullptr) {
    cage_ = host().addObject("cage", PointCloud({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
    uint32_t t = host().addObject("target", PointCloud(Line(targetPoints)));
    if (target) *target = t;
    effect_ = makeEffect({t});
    EffectInstance* instance = instanceOf(effect_);
    instance->Cage = cage_;
    return instance;
  }
  uint32_t cage_ = 0, effect_ = 0;
};

TEST_F(InstanceModelTest, NewInstanceHoldsTheDefaults) {
  uint32_t target = host().addObject("t", PointCloud(Line(3)));
  EffectInstance* instance = instanceOf(makeEffect({target}));
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->Mode, -1);
  EXPECT_EQ(instance->Samples, 32);
  EXPECT_EQ(instance->Tolerance, 0.0);
  EXPECT_EQ(instance->Cage, 0u);
  EXPECT_EQ(instance->SetupMask, 0u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(instance->Weight[i], 0);
    EXPECT_EQ(instance->ScaleWeight[i], 0);
  }
  EXPECT_EQ(instance->WeightsPath[0], '\0');
  EXPECT_EQ(instance->CagePoints, 0u);
  EXPECT_EQ(instance->CagePolys, 0);
  EXPECT_EQ(instance->CagePositions, nullptr);
  // Only the serial plain displacement is installed at creation.
  EXPECT_EQ(instance->PrepareEvaluation, nullptr);
  EXPECT_NE(instance->DisplacePlain, nullptr);
  EXPECT_EQ(instance->DisplaceWeighted, nullptr);
  ASSERT_NE(instance->Targets, nullptr);
  EXPECT_EQ(instance->Targets->count, 1);
  EXPECT_EQ(instance->Targets->records[0].ObjectId, target);
}

TEST_F(InstanceModelTest, ExistenceQueryAndMissingInstances) {
  uint32_t effect = makeEffect({});
  host().clearMessages();
  EXPECT_EQ(host().sendMessage(effect, ostrand::kMessageInstanceData, ostrand::kInstanceExists), 0);
  EXPECT_TRUE(host().messages().empty());

  host().setModuleCallback(nullptr);
  uint32_t bare = host().createEffect({});  // the module never heard of it
  host().setModuleCallback(ostrand::moduleCallback);
  for (uint64_t sub : {ostrand::kInstanceExists, ostrand::kInstanceDestroy, ostrand::kInstanceLoad,
                       ostrand::kInstanceSave, ostrand::kInstancePrepare}) {
    host().clearMessages();
    EXPECT_EQ(host().sendMessage(bare, ostrand::kMessageInstanceData, sub), 1) << sub;
    auto messages = host().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].effectId, bare);
    EXPECT_EQ(messages[0].heading, "Ostrand.mp");
    EXPECT_EQ(messages[0].kind, ostrand::kMessageKindError);
    EXPECT_EQ(messages[0].text, "Ostrand data not found!");
    EXPECT_EQ(messages[0].text2, "Error");
  }
  EXPECT_EQ(host().sendMessage(bare, ostrand::kMessageInstanceData, 0x2), 0);  // not a sub-message of ours
}

TEST_F(InstanceModelTest, DestroyFreesTheInstanceAndItsTable) {
  uint32_t target = 0;
  EffectInstance* instance = makeBound(5, &target);
  ostrand::PrepareTargets(instance);
  EXPECT_EQ(host().sendMessage(effect_, ostrand::kMessageInstanceData, ostrand::kInstanceDestroy), 0);
  EXPECT_EQ(instanceOf(effect_), nullptr);
  EXPECT_EQ(host().calls("useful_DeleteTargetList"), 1);
}

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

TEST_F(InstanceModelTest, TargetEntryCallbacks) {
  TargetEntry records[2];
  ostrand::InitTargetEntry(records, 0, 7);
  ostrand::InitTargetEntry(records, 1, 9);
  EXPECT_EQ(records[1].ObjectId, 9u);
  EXPECT_EQ(records[1].Reserved[0], 0u);
  ASSERT_TRUE(ostrand::AllocateArray(records[0].Weights, 3));
  records[0].WeightCount = 3;
  records[0].ActiveCount = 1;
  records[0].Reserved[1] = 42;
  ostrand::CopyTargetEntry(records, 0, records, 1);
  EXPECT_EQ(records[1].Weights, records[0].Weights);  // shared, not duplicated
  EXPECT_EQ(records[1].Reserved[1], 42u);
  ostrand::FreeTargetEntry(records, 1);
  EXPECT_EQ(records[1].Weights, nullptr);
  EXPECT_EQ(records[1].WeightCount, 3);  // kept
  EXPECT_EQ(records[1].ActiveCount, 0u);
  EXPECT_EQ(records[1].ObjectId, 0u);
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
