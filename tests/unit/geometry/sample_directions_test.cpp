// The sample directions: their exact values, the spiral from pole to pole,
// and the counts that get none.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "geometry/sample_directions.h"
#include "host_interface/memory.h"

namespace {

using namespace ostrand;

TEST(SampleDirections, OneAndTwoDirectionsHaveTheirExactValues) {
  Vec3* one = BuildSampleDirections(1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one[0].x, 1000000.0);
  EXPECT_EQ(one[0].y, 0.0);
  EXPECT_EQ(one[0].z, 0.0);
  FreeArray(one);

  Vec3* two = BuildSampleDirections(2);
  ASSERT_NE(two, nullptr);
  const double r = std::sqrt(0.75);
  EXPECT_EQ(two[0].x, r * 1000000.0);
  EXPECT_EQ(two[0].y, -500000.0);
  EXPECT_EQ(two[0].z, 0.0);
  EXPECT_EQ(two[1].x, std::cos(2.399963226986295) * r * 1000000.0);
  EXPECT_EQ(two[1].y, 500000.0);
  EXPECT_EQ(two[1].z, std::sin(2.399963226986295) * r * 1000000.0);
  FreeArray(two);
}

TEST(SampleDirections, SpiralRunsFromPoleToPoleAtFixedLength) {
  const int32_t n = 1000;
  Vec3* d = BuildSampleDirections(n);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d[0].z, 0.0);
  EXPECT_GT(d[0].x, 0.0);
  EXPECT_DOUBLE_EQ(d[0].y, (-1.0 + 1.0 / n) * 1e6);
  EXPECT_DOUBLE_EQ(d[n - 1].y, (1.0 - 1.0 / n) * 1e6);
  double meanY = 0;
  for (int32_t i = 0; i < n; ++i) {
    EXPECT_NEAR(std::sqrt(d[i].x * d[i].x + d[i].y * d[i].y + d[i].z * d[i].z), 1e6, 1e-6);
    if (i > 0) {
      EXPECT_GT(d[i].y, d[i - 1].y);
    }
    meanY += d[i].y / n;
  }
  EXPECT_NEAR(meanY, 0.0, 1e-6);
  FreeArray(d);
}

TEST(SampleDirections, NoneForCountsOutsideTheUsableRangeOrWithoutMemory) {
  EXPECT_EQ(BuildSampleDirections(0), nullptr);
  EXPECT_EQ(BuildSampleDirections(-1), nullptr);
  EXPECT_EQ(BuildSampleDirections(INT_MIN), nullptr);
  EXPECT_EQ(BuildSampleDirections(kMaxSampleDirections + 1), nullptr);
  EXPECT_EQ(BuildSampleDirections(INT_MAX), nullptr);

  SetAllocationFailure(0);
  EXPECT_EQ(BuildSampleDirections(64), nullptr);
  SetAllocationFailure(-1);
}

}  // namespace
