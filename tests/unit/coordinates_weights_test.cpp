// Mean value weights on a polygon, the normalisation with its floor, and the
// coordinates of single points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "geometry/point_coordinates.h"
#include "geometry/polygon_weights.h"
#include "geometry/sample_directions.h"
#include "host/host_functions.h"
#include "host_interface/memory.h"
#include "support/coordinate_fixture.h"

namespace {

using namespace ostrand;
using test_support::AllZero;
using test_support::SameBits;
using test_support::Row;
using test_support::Rows;
using test_support::Sum;

// --- PolygonWeights -------------------------------------------------------------

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

// --- NormaliseRow ---------------------------------------------------------------

std::vector<double> Normalised(std::vector<double> row, double tolerance) {
  NormaliseRow(row.data(), static_cast<uint32_t>(row.size()), Sum(row), tolerance);
  return row;
}

TEST(NormaliseRow, FloorZeroKeepsEveryWeight) {
  const std::vector<double> w = Normalised({1e-9, 2.0, 0.0, 2.0}, 0.0);
  EXPECT_GT(w[0], 0.0);
  EXPECT_EQ(w[2], 0.0);
  EXPECT_NEAR(Sum(w), 1.0, 1e-15);
}

TEST(NormaliseRow, FloorRemovesSmallerWeightsAndScalesTheRestUp) {
  // After the first normalisation: 0.009, 0.491, 0.5.
  std::vector<double> w = Normalised({0.9, 49.1, 50.0}, 0.01);
  EXPECT_EQ(w[0], 0.0);
  EXPECT_NEAR(w[1], 0.491 / (1 - 0.009), 1e-15);
  EXPECT_NEAR(w[2], 0.5 / (1 - 0.009), 1e-15);

  // Two removed entries; one exactly at the floor stays. (Fractions of 256
  // keep every step exact.)
  w = Normalised({1, 2, 8, 245}, 8.0 / 256);
  EXPECT_EQ(w[0], 0.0);
  EXPECT_EQ(w[1], 0.0);
  EXPECT_DOUBLE_EQ(w[2], 8.0 / 253);
  EXPECT_DOUBLE_EQ(w[3], 245.0 / 253);
}

TEST(NormaliseRow, FloorAboveEveryWeightKeepsThemAsNormalised) {
  EXPECT_EQ(Normalised({1.0, 1.0}, 0.6), (std::vector<double>{0.5, 0.5}));
  // 1 - 0.1 - 0.2 - 0.7 comes out a tiny negative number; dividing by it
  // would leave the point nothing but -0.0.
  const std::vector<double> row = {0.1, 0.2, 0.7};
  const double scale = 1.0 / Sum(row);
  EXPECT_EQ(Normalised(row, 1.0), (std::vector<double>{0.1 * scale, 0.2 * scale, 0.7 * scale}));
  EXPECT_EQ(Normalised({0.25, 0.0, 0.75}, 2.0), (std::vector<double>{0.25, 0.0, 0.75}));
}

// --- ComputePointCoordinates -------------------------------------------------

class PointCoordinatesTest : public test_support::CoordinateTest {
 protected:
  PointCoordinatesTest() { denseRows_ = true; }

  // Computes dense row i from origin with the instance's settings, the way
  // the calculation does; returns what ComputePointCoordinates returned.
  // Requires ComputeKeptCoordinates to keep exactly the row's non-zero
  // entries, bit for bit, and to leave its sparse row all zeros.
  bool compute(EffectInstance* instance, uint32_t i, const Vec3& origin) {
    Vec3* directions = BuildSampleDirections(instance->Samples);
    test_support::OwnedTriangulation mesh(host().object(cage_)->mesh);
    RayCastCage cage{&mesh.cage, instance->CagePositions, instance->CagePoints, host::RayIntersectTriangle, nullptr};
    CageBvh bvh{};
    if (BuildCageBvh(cage.cage, cage.positions, cage.pointCount, &bvh)) cage.bvh = &bvh;
    const double sampleWeight = 12.566370614359172 / (instance->Samples > 0 ? instance->Samples : 1);
    PointScratch scratch{};
    const CageReads reads{instance->Cage, instance->CagePoints, host::api::fxMeshPoint, host::api::fxMeshPoly};
    const RowSettings settings{instance->Samples, sampleWeight, instance->Tolerance};
    double* row = instance->CagePoints != 0 ? target(instance)->Weights + size_t{i} * instance->CagePoints : nullptr;
    const bool done = ComputePointCoordinates(reads, settings, origin, directions, cage, &scratch, row);

    SparseRow sparse{};
    KeptWeights kept{};
    int32_t count = -1;
    EXPECT_TRUE(ReserveSparseRow(&sparse, instance->CagePoints));
    EXPECT_EQ(ComputeKeptCoordinates(reads, settings, origin, directions, cage, &scratch, &sparse, &kept, &count), done);
    std::vector<double> expected;
    std::vector<int32_t> expectedIndices;
    for (uint32_t k = 0; done && k < instance->CagePoints; ++k)
      if (!(row[k] == 0.0)) expected.push_back(row[k]), expectedIndices.push_back(static_cast<int32_t>(k));
    EXPECT_EQ(count, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(kept.count, count);
    EXPECT_TRUE(SameBits(std::vector<double>(kept.weights, kept.weights + kept.count), expected));
    EXPECT_EQ(std::vector<int32_t>(kept.indices, kept.indices + kept.count), expectedIndices);
    EXPECT_TRUE(AllZero(std::vector<double>(sparse.values, sparse.values + sparse.size)));
    FreeSparseRow(&sparse);
    FreeKeptWeights(&kept);
    FreeScratch(&scratch);
    FreeCageBvh(&bvh);
    FreeArray(directions);
    return done;
  }
};

TEST_F(PointCoordinatesTest, SameRowTwiceGivesTheSameBitsWhateverTheRowHeld) {
  const std::vector<Vec3> points = {{0.1, 0.2, 0.3}, {-0.5, 0.4, 0.0}};
  EffectInstance* instance = prepare(test_support::StarCase().mesh, {points}, 40, 0.02);
  ASSERT_TRUE(compute(instance, 1, points[1]));
  const std::vector<double> first = Row(instance, target(instance), 1);
  EXPECT_TRUE(AllZero(Row(instance, target(instance), 0)));  // other rows untouched

  double* dense = target(instance)->Weights + instance->CagePoints;
  for (uint32_t k = 0; k < instance->CagePoints; ++k) dense[k] = 7.0;
  ASSERT_TRUE(compute(instance, 1, points[1]));
  EXPECT_TRUE(SameBits(Row(instance, target(instance), 1), first));
}

TEST_F(PointCoordinatesTest, NoRayMeetingTheCageOrNoSamplesLeavesAZeroRow) {
  // The single direction (+x) points away from the cube.
  EffectInstance* instance = prepare(test_support::Cube(), {{{5, 0, 0}}}, 1);
  ASSERT_TRUE(compute(instance, 0, {5, 0, 0}));
  EXPECT_TRUE(AllZero(Row(instance, target(instance), 0)));

  for (int32_t samples : {0, -4}) {
    instance->Samples = samples;
    target(instance)->Weights[3] = 1.0;
    ASSERT_TRUE(compute(instance, 0, {0, 0, 0}));
    EXPECT_TRUE(AllZero(Row(instance, target(instance), 0))) << samples;
  }
}

// Two squares facing the origin across the two directions of Samples = 2: one
// at distance `near` along direction 0, one at distance 1 along direction 1.
host::Mesh FacingSquares(double near) {
  Vec3* d = BuildSampleDirections(2);
  host::Mesh mesh;
  const double distances[2] = {near, 1.0};
  for (int s = 0; s < 2; ++s) {
    const double len = std::sqrt(d[s].x * d[s].x + d[s].y * d[s].y + d[s].z * d[s].z);
    const Vec3 u{d[s].x / len, d[s].y / len, d[s].z / len};
    // Two unit vectors across u.
    Vec3 a{u.y, -u.x, 0};
    const double la = std::sqrt(a.x * a.x + a.y * a.y);
    a = {a.x / la, a.y / la, 0};
    const Vec3 b{u.y * a.z - u.z * a.y, u.z * a.x - u.x * a.z, u.x * a.y - u.y * a.x};
    const Vec3 c{u.x * distances[s], u.y * distances[s], u.z * distances[s]};
    for (auto [i, j] : {std::pair{-1, -1}, {1, -1}, {1, 1}, {-1, 1}})
      mesh.points.push_back({c.x + i * a.x + j * b.x, c.y + i * a.y + j * b.y, c.z + i * a.z + j * b.z});
    mesh.polygons.push_back({4 * s, 4 * s + 1, 4 * s + 2, 4 * s + 3});
  }
  FreeArray(d);
  return mesh;
}

// How much more the first square's corners got than the second's.
double ShareRatio(const std::vector<double>& w) { return (w[0] + w[1] + w[2] + w[3]) / (w[4] + w[5] + w[6] + w[7]); }

TEST_F(PointCoordinatesTest, HitsNearerThan1e5TakeTheNearHitShare) {
  for (auto [near, ratio] : {std::pair{9e-6, 99999.99999999999}, {2e-5, 5e4}, {0.5, 2.0}}) {
    EffectInstance* instance = prepare(FacingSquares(near), {{{0, 0, 0}}}, 2);
    ASSERT_TRUE(compute(instance, 0, {0, 0, 0}));
    const std::vector<double> w = Row(instance, target(instance), 0);
    EXPECT_NEAR(Sum(w), 1.0, 1e-15);
    EXPECT_NEAR(ShareRatio(w) / ratio, 1.0, 1e-9) << near;
  }
}

TEST_F(PointCoordinatesTest, WeightFloorThroughTheWholeComputation) {
  const Vec3 p{0.6, 0.5, 0.4};
  EffectInstance* instance = prepare(test_support::Cube(), {{p}}, 64, 0.0);
  ASSERT_TRUE(compute(instance, 0, p));
  const std::vector<double> unfloored = Row(instance, target(instance), 0);
  for (double v : unfloored) EXPECT_GT(v, 0.0);

  instance->Tolerance = 0.1;
  ASSERT_TRUE(compute(instance, 0, p));
  const std::vector<double> floored = Row(instance, target(instance), 0);
  int kept = 0;
  for (double v : floored) {
    EXPECT_TRUE(v == 0.0 || v >= 0.1) << v;
    kept += v != 0.0;
  }
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 8);
  EXPECT_NEAR(Sum(floored), 1.0, 1e-14);

  // A floor above every weight keeps the point bound as without a floor.
  instance->Tolerance = 1.0;
  ASSERT_TRUE(compute(instance, 0, p));
  EXPECT_TRUE(SameBits(Row(instance, target(instance), 0), unfloored));
}

}  // namespace
