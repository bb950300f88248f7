// The heap failing: for each action, the n-th allocation of the module fails,
// for n = 0, 1, 2, ... until the action completes. Every run leaves the
// instance consistent and either complete or the user told; LeakSanitizer
// (the asan preset) checks that nothing is lost on the way.
#include <gtest/gtest.h>

#include <functional>

#include "host_interface/memory.h"
#include "operations/weights_file.h"
#include "support/hostile_fixture.h"

namespace {

using test_support::ExpectInstanceConsistent;
using test_support::Snapshot;
using test_support::Take;

class HostileMemory : public test_support::HostileTest {
 protected:
  // Runs action with the n-th allocation failing, n = 0, 1, ..., calling
  // check(complete) after each run; returns the number of runs that failed
  // an allocation.
  long failEachAllocation(const std::function<void()>& action, const std::function<void(bool)>& check) {
    for (long n = 0;; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
      ostrand::SetAllocationFailure(n);
      action();
      const long made = ostrand::SetAllocationFailure(-1);
      const bool complete = n >= made;
      check(complete);
      host().clearMessages();
      if (complete) return n;
      ++test_support::AllocationsFailed();
      if (n > 10000 || ::testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "no end in sight";
        return n;
      }
    }
  }
};

TEST_F(HostileMemory, CreateTellsWhenTheRecordCannotBeHad) {
  bind();
  const long failed = failEachAllocation(
      [&] { effects_.push_back(host().createEffect({a_})); },
      [&](bool complete) {
        EffectInstance* made = instanceOf(effects_.back());
        if (complete) {
          ASSERT_NE(made, nullptr);
          expectSilence();
          return;
        }
        EXPECT_EQ(made, nullptr);
        expectOneError("Not enough memory for the effect's data");
        // The host learns it is missing.
        EXPECT_EQ(host().sendMessage(effects_.back(), ostrand::kMessageInstanceData, ostrand::kInstanceExists), 1);
      });
  EXPECT_EQ(failed, 1);
}

TEST_F(HostileMemory, CalculateIsCompleteOrTellsAndKeepsNothingHalfDone) {
  bind();
  const Snapshot clean = Take(instance());
  const long failed = failEachAllocation([&] { press("Calculate"); }, [&](bool complete) {
    ExpectInstanceConsistent(instance());
    EXPECT_EQ(instance().Mode, 0);
    // Without a message the result is the clean one, bit for bit: the
    // ray-search hierarchy and candidate lists fall back to the full search.
    if (complete || host().messages().empty()) {
      expectSilence();
      EXPECT_TRUE(Take(instance()) == clean);
      return;
    }
    for (const std::string& text : errors()) EXPECT_NE(text.find("memory"), std::string::npos) << text;
    // A target the failure touched keeps nothing; the other is whole.
    const Snapshot now = Take(instance());
    for (size_t t = 0; t < now.targets.size(); ++t)
      EXPECT_TRUE(now.targets[t].active == 0 || now.targets[t] == clean.targets[t]) << "target " << t;
  });
  EXPECT_GT(failed, 5);
}

TEST_F(HostileMemory, WeightsFileReadIsAllOrNothing) {
  bind();
  nameWeightsFile(file("w.cw"));
  ostrand::WriteWeightsFile(&instance());
  // Other weights in the instance (calculated without a weights file, which
  // would be rewritten), so that a read shows.
  nameWeightsFile("");
  ASSERT_EQ(host().setDouble(control("Weight floor"), effect_, 0.3), 0);
  ASSERT_EQ(press("Calculate"), 0);
  nameWeightsFile(file("w.cw"));  // as "Load" leaves it, read or not
  const Snapshot before = Take(instance());

  const long failed = failEachAllocation(
      [&] {
        host().dialogs().answers.push_back(file("w.cw"));
        press("Load");
      },
      [&](bool complete) {
        ExpectInstanceConsistent(instance());
        if (complete) {
          expectSilence();
          EXPECT_FALSE(Take(instance()) == before);
          return;
        }
        expectOneError("Not enough memory to read the weights file");
        EXPECT_TRUE(Take(instance()) == before);
      });
  EXPECT_GT(failed, 10);
}

TEST_F(HostileMemory, SceneLoadIsConsistentAndTells) {
  bind();
  nameWeightsFile(file("w.cw"));
  ASSERT_EQ(press("Calculate"), 0);  // writes the weights file
  ASSERT_EQ(item(ostrand::kInstanceSave), 0);
  ASSERT_EQ(item(ostrand::kInstanceLoad), 0);
  const Snapshot loaded = Take(instance());
  ASSERT_EQ(loaded.targets.at(0).active, 12u);

  const long failed = failEachAllocation([&] { item(ostrand::kInstanceLoad); }, [&](bool complete) {
    ExpectInstanceConsistent(instance());
    if (complete) {
      expectSilence();
      EXPECT_TRUE(Take(instance()) == loaded);
      return;
    }
    // The cage's positions, or the weights file: either way no weights stay
    // from before the load.
    expectOneError("Not enough memory");
    for (const Snapshot::Target& target : Take(instance()).targets) EXPECT_EQ(target.active, 0u);
  });
  EXPECT_GT(failed, 10);
}

TEST_F(HostileMemory, PanelBuildingNeedsNoHeap) {
  bind();
  const size_t before = host().controls().size();
  const long failed = failEachAllocation([&] { host().buildPanel(effect_); }, [&](bool complete) {
    EXPECT_TRUE(complete);
    expectSilence();
  });
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(host().controls().size(), before + 11);  // nine controls in two blocks
}

}  // namespace
