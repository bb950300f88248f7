// What the module allocates for an effect goes with the effect: after each
// destroy the module's allocator holds exactly the blocks it held before the
// effect was made, whatever was done with the effect in between, so that a
// host session that makes and removes effects for ever keeps flat memory.
#include <gtest/gtest.h>

#include <functional>

#include "host_interface/memory.h"
#include "instance/instance.h"
#include "support/dense_rows.h"
#include "support/hostile_fixture.h"

namespace {

using ostrand::HeapUse;
using ostrand::LiveBlocks;

class InstanceMemory : public test_support::HostileTest {
 protected:
  void SetUp() override {
    HostileTest::SetUp();
    baseline_ = LiveBlocks();
  }

  // Destroys the effect; the module holds what it held before it was made.
  void expectAllGivenBack(const char* after) {
    ASSERT_EQ(host().destroyEffect(effect_), 0);
    const HeapUse now = LiveBlocks();
    EXPECT_EQ(now.blocks, baseline_.blocks) << "after " << after;
    EXPECT_EQ(now.bytes, baseline_.bytes) << "after " << after;
  }

  int32_t pressWithAnswer(const std::string& label, const std::string& path) {
    host().dialogs().answers.push_back(path);
    return press(label);
  }

  HeapUse baseline_;
};

TEST_F(InstanceMemory, EveryActionOnAnEffectIsGivenBackAtDestroy) {
  const std::vector<std::pair<const char*, std::function<void()>>> actions = {
      {"Calculate", [] {}},
      {"Calculate with a weights file", [&] {
         nameWeightsFile(file("w.cw"));
         ASSERT_EQ(press("Calculate"), 0);
       }},
      {"Save and Load", [&] {
         ASSERT_EQ(pressWithAnswer("Save", file("s.cw")), 0);
         ASSERT_EQ(pressWithAnswer("Load", file("s.cw")), 0);
         ASSERT_GT(instance().Targets->records[0].WeightCount, 0);
       }},
      {"evaluation, plain and blended", [&] {
         ASSERT_EQ(host().evaluate(effect_), 0);
         const uint32_t map = host().addWeightMap(a_, "blend", std::vector<float>(12, 0.5f));
         const int32_t weight[3] = {static_cast<int32_t>(map), 0, 0};
         ASSERT_EQ(host().setVeci3(control("Weight"), effect_, weight), 0);
         ASSERT_EQ(host().evaluate(effect_), 0);
       }},
      {"scene save and load messages", [&] {
         nameWeightsFile(file("w.cw"));
         ASSERT_EQ(press("Calculate"), 0);
         ASSERT_EQ(item(ostrand::kInstanceSave), 0);
         ASSERT_EQ(item(ostrand::kInstanceLoad), 0);
         ASSERT_GT(instance().Targets->records[0].WeightCount, 0);
       }},
      {"a target dropped and another calculation", [&] {
         host().setTargets(effect_, {a_});
         ASSERT_EQ(item(ostrand::kInstancePrepare), 0);
         ASSERT_EQ(press("Calculate"), 0);
       }},
      {"another cage picked", [&] {
         const uint32_t other = host().addObject("other cage", test_support::CubeMesh(1.5));
         ASSERT_EQ(host().setObject(control("Cage"), effect_, other), 0);
       }},
      {"dense rows compacted", [&] {
         ostrand::ReleaseComputedData(&instance());
         test_support::PrepareDenseTargets(&instance());
         test_support::CompactDenseWeights(&instance());
       }},
  };
  // Twice over, so that a block kept from one effect to the next shows too.
  for (int round = 0; round < 2; ++round)
    for (const auto& [name, action] : actions) {
      SCOPED_TRACE(name);
      bind();
      ASSERT_GT(LiveBlocks().blocks, baseline_.blocks);
      action();
      ASSERT_FALSE(HasFatalFailure());
      expectAllGivenBack(name);
    }
}

TEST_F(InstanceMemory, SceneFilesLoadedOverAndOverKeepNothingOfEarlierEffects) {
  bind();
  nameWeightsFile(file("w.cw"));
  ASSERT_EQ(press("Calculate"), 0);
  host().saveScene(file("scene.json"));
  // Loading a scene destroys the effects there are and makes the file's.
  host().loadScene(file("scene.json"));
  const HeapUse loaded = LiveBlocks();
  ASSERT_GT(instance().Targets->records[0].WeightCount, 0);
  // Blocks alone: a block resized in place may keep a few more bytes one
  // time than another.
  for (int round = 0; round < 3; ++round) {
    host().loadScene(file("scene.json"));
    EXPECT_EQ(LiveBlocks().blocks, loaded.blocks) << "load " << round;
  }
  expectAllGivenBack("the scene's effect");
}

TEST_F(InstanceMemory, AHostWithoutTheListDeletionStillGetsEveryBlockBack) {
  bind();
  host().missName("useful_DeleteTargetList");
  ASSERT_EQ(host().sendMessage(0, ostrand::kMessageServices, ostrand::kServicesGeometry), 0);
  expectAllGivenBack("a destroy that leaves the target list with the host");
}

TEST_F(InstanceMemory, FailedAllocationsLeaveNothingBehind) {
  const std::vector<std::pair<const char*, std::function<void()>>> actions = {
      {"Calculate", [&] { press("Calculate"); }},
      {"Load", [&] { pressWithAnswer("Load", file("w.cw")); }},
      {"scene load message", [&] { item(ostrand::kInstanceLoad); }},
  };
  for (const auto& [name, action] : actions)
    for (long n = 0;; ++n) {
      SCOPED_TRACE(std::string(name) + ", allocation " + std::to_string(n) + " fails");
      bind();
      nameWeightsFile(file("w.cw"));
      ASSERT_EQ(press("Calculate"), 0);  // writes the weights file
      ASSERT_EQ(item(ostrand::kInstanceSave), 0);
      ostrand::SetAllocationFailure(n);
      action();
      const long made = ostrand::SetAllocationFailure(-1);
      expectAllGivenBack(name);
      if (n >= made || HasFailure()) break;
      ASSERT_LT(n, 10000) << "no end in sight";
    }
}

}  // namespace
