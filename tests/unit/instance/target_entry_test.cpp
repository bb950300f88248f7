// The target-list callbacks: a record made, copied and freed.
#include <gtest/gtest.h>

#include "host_interface/memory.h"
#include "instance/instance.h"
#include "instance_model_fixture.h"

namespace {

using test_support::InstanceModelTest;

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

}  // namespace
