// The coordinates of single points: the normalisation with its floor, and
// a point's row, dense or as the weights kept.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/point_coordinates.h"
#include "geometry/sample_directions.h"
#include "host/host_functions.h"
#include "host_interface/memory.h"
#include "support/coordinate_fixture.h"

namespace {

using namespace ostrand;
using test_support::AllZero;
using test_support::SameBits;
using test_support::Row;
using test_support::Sum;

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
