// Mean value weights on a polygon: at corners, on edges, inside, on
// degenerate polygons, and the same bits whatever number of corners the
// processor takes at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "geometry/polygon_weights.h"
#include "support/coordinate_fixture.h"

namespace {

using namespace ostrand;
using test_support::SameBits;
using test_support::Sum;

const std::vector<Vec3> kUnitSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

std::vector<double> Weights(const std::vector<Vec3>& polygon, Vec3 x, double s = 1.0) {
  const auto n = static_cast<int32_t>(polygon.size());
  // Whatever the working arrays held before must not matter.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<PolygonCorner> corners(polygon.size() + 2, PolygonCorner{{nan, nan, nan}, nan, nan, nan});
  std::vector<double> w(polygon.size(), nan);
  PolygonWeights(n, polygon.data(), x, s, corners.data(), w.data());
  return w;
}

TEST(PolygonWeights, PointAtACornerGivesItTheWholeShare) {
  EXPECT_EQ(Weights(kUnitSquare, {1 + 5e-7, 1, 0}, 2.0), (std::vector<double>{0, 0, 2.0, 0}));
  // Near the first corner and on the first edge: the corner is decided first.
  EXPECT_EQ(Weights(kUnitSquare, {5e-7, 0, 0}), (std::vector<double>{1, 0, 0, 0}));
  EXPECT_EQ(Weights(kUnitSquare, {0, 0, 0}), (std::vector<double>{1, 0, 0, 0}));
}

TEST(PolygonWeights, PointOnAnEdgeSplitsBetweenItsEndsNearerEndMore) {
  EXPECT_EQ(Weights(kUnitSquare, {0.25, 0, 0}), (std::vector<double>{0.75, 0.25, 0, 0}));
  // The closing edge, from the last corner back to the first.
  EXPECT_EQ(Weights(kUnitSquare, {0, 0.25, 0}), (std::vector<double>{0.75, 0, 0, 0.25}));
  // Within the area threshold of the edge still counts as on it.
  const std::vector<double> w = Weights(kUnitSquare, {0.5, 1e-7, 0}, 4.0);
  EXPECT_DOUBLE_EQ(w[0], 2.0);
  EXPECT_DOUBLE_EQ(w[1], 2.0);
  EXPECT_EQ(w[2], 0.0);
  EXPECT_EQ(w[3], 0.0);
}

TEST(PolygonWeights, InteriorPointGetsPositiveWeightsThatReproduceIt) {
  const Vec3 x{0.2, 0.3, 0};
  const std::vector<double> w = Weights(kUnitSquare, x);
  Vec3 back{0, 0, 0};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_GT(w[i], 0.0);
    back.x += w[i] * kUnitSquare[i].x;
    back.y += w[i] * kUnitSquare[i].y;
  }
  EXPECT_NEAR(Sum(w), 1.0, 1e-15);
  EXPECT_NEAR(back.x, 0.2, 1e-15);
  EXPECT_NEAR(back.y, 0.3, 1e-15);
  EXPECT_GT(w[0], w[1]);
  EXPECT_GT(w[0], w[2]);
  EXPECT_GT(w[0], w[3]);

  for (double v : Weights(kUnitSquare, {0.5, 0.5, 0}, 2.0)) EXPECT_DOUBLE_EQ(v, 0.5);
}

TEST(PolygonWeights, DegeneratePolygonsGiveNoShareRatherThanNaN) {
  EXPECT_EQ(Weights({{1, 2, 3}}, {0, 0, 0}), (std::vector<double>{0}));
  EXPECT_EQ(Weights({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {5, 0, 0}), (std::vector<double>{0, 0, 0}));
  PolygonWeights(0, nullptr, Vec3{0, 0, 0}, 1.0, nullptr, nullptr);  // nothing to do, nothing touched
}

// Polygons of three corners and more go two or four corners at a time, as
// the processor allows: every width it offers gives the same bits as one at
// a time, with odd and even corner counts up to a 250-gon, in every case:
// random planar and warped polygons, points at corners, on and just off
// edges, in line with them, on degenerate polygons and with NaN or infinite
// coordinates.
TEST(PolygonWeights, EveryWidthGivesTheSameBitsAsOneByOne) {
  std::vector<CornerLanes> widths = {CornerLanes::kTwo, CornerLanes::kFour};
  while (!widths.empty() && widths.back() > WidestCornerLanes()) widths.pop_back();
  if (WidestCornerLanes() != CornerLanes::kFour)
    std::printf("This processor offers no four-lane weights: those were not compared.\n");
  std::mt19937_64 random(17);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  long compared = 0;
  for (int32_t n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 31, 250})
    for (int round = 0; round < 400; ++round) {
      std::vector<Vec3> polygon(n);
      for (int32_t i = 0; i < n; ++i) {
        const double angle = 6.283185307179586 * i / n;
        const double warp = round % 3 == 0 ? 0.3 * unit(random) : 0.0;
        polygon[i] = round % 5 == 4 ? Vec3{unit(random), unit(random), unit(random)}
                                    : Vec3{std::cos(angle), std::sin(angle), warp};
      }
      Vec3 x{0.5 * unit(random), 0.5 * unit(random), 0.1 * unit(random)};
      const int32_t a = round % n, b = (round + 1) % n;
      switch (round % 8) {
        case 1: x = polygon[a]; break;                                                    // a corner
        case 2: x = Vec3{polygon[a].x + 4e-7, polygon[a].y, polygon[a].z}; break;         // near it
        case 3: x = Vec3{0.5 * (polygon[a].x + polygon[b].x), 0.5 * (polygon[a].y + polygon[b].y),
                         0.5 * (polygon[a].z + polygon[b].z) + 1e-8}; break;              // on an edge
        case 4: x = Vec3{3 * polygon[a].x, 3 * polygon[a].y, 3 * polygon[a].z}; break;  // in line, outside
        case 5: polygon[b] = polygon[a]; break;                                           // a repeated corner
        case 6: polygon[a].y = round % 16 == 6 ? nan : inf; break;
        case 7: for (Vec3& p : polygon) p.z = 0, p.y = p.x; break;                        // all in a line
        default: break;
      }
      const double s = 1e-3 + unit(random) * unit(random);
      std::vector<PolygonCorner> corners(n + 2);
      std::vector<double> oneByOne(n, nan);
      PolygonWeightsOneByOne(n, polygon.data(), x, s, corners.data(), oneByOne.data());
      for (CornerLanes lanes : widths) {
        std::vector<double> wide(n, nan);
        PolygonWeightsIn(lanes, n, polygon.data(), x, s, corners.data(), wide.data());
        ASSERT_TRUE(SameBits(wide, oneByOne))
            << n << " corners, round " << round << ", " << (1 << static_cast<int>(lanes)) << " at a time";
        ++compared;
      }
      std::vector<double> chosen(n, nan);
      PolygonWeights(n, polygon.data(), x, s, corners.data(), chosen.data());
      ASSERT_TRUE(SameBits(chosen, oneByOne)) << n << " corners, round " << round;
    }
  EXPECT_EQ(compared, 12 * 400 * static_cast<long>(widths.size()));
}

}  // namespace
