// The effect instance: its defaults, the question whether it exists, items
// the module has no instance for, and destruction.
#include <gtest/gtest.h>

#include "instance/instance.h"
#include "instance_model_fixture.h"
#include "shell/module_callback.h"

namespace {

using test_support::InstanceModelTest;
using test_support::Line;
using test_support::PointCloud;

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

}  // namespace
