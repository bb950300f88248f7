// The nearest-hit search, both searches held to the same answer, and the
// hit point.
#include <gtest/gtest.h>

#include <climits>

#include "geometry/ray_casting.h"
#include "host/host_functions.h"
#include "support/cages.h"
#include "support/module_fixture.h"
#include "support/ray_search_support.h"

namespace {

using namespace ostrand;
using test_support::OwnedTriangulation;
using Triangles = std::vector<std::vector<std::array<int32_t, 3>>>;

// --- FindNearestHit (both searches) --------------------------------------------

// Unit squares across the z axis: points 0-3 at z = 1, points 4-7 the same
// positions again (for exact ties), points 8-11 at z = 2.
std::vector<Vec3> SquarePositions() {
  std::vector<Vec3> p;
  for (double z : {1.0, 1.0, 2.0})
    for (Vec3 c : {Vec3{-1, -1, z}, Vec3{1, -1, z}, Vec3{1, 1, z}, Vec3{-1, 1, z}}) p.push_back(c);
  return p;
}

// The square whose corners start at point number `first`, as two triangles.
std::vector<std::array<int32_t, 3>> Square(int32_t first) {
  return {{first, first + 1, first + 2}, {first, first + 2, first + 3}};
}

RayCastCage CageOf(const TriangulatedCage* cage, const std::vector<Vec3>& positions) {
  return RayCastCage{cage, positions.data(), static_cast<uint32_t>(positions.size()), host::RayIntersectTriangle,
                     nullptr};
}

// The reference search's answer, once the accelerated search has given the
// same bits: every rule below holds for both.
RayHit Nearest(const RayCastCage& cage, const Vec3& origin, const Vec3& direction) {
  const RayHit reference = FindNearestHitExhaustive(cage, origin, direction);
  test_support::AcceleratedCage accelerated(cage);
  EXPECT_TRUE(accelerated.built());
  EXPECT_TRUE(test_support::SameHit(accelerated.find(origin, direction), reference));
  return reference;
}

const Vec3 kOrigin{0.2, 0.3, 0.0};
const Vec3 kUp{0, 0, 1e6};

TEST(FindNearestHit, TakesTheNearestTriangleWithItsCornersAndBarycentrics) {
  const std::vector<Vec3> positions = SquarePositions();
  OwnedTriangulation mesh(Triangles{Square(8), Square(0)});  // the far square comes first
  const RayHit hit = Nearest(CageOf(&mesh.cage, positions), kOrigin, kUp);
  ASSERT_TRUE(hit.found);
  EXPECT_EQ(hit.polygon, 1);
  // (0.2, 0.3) lies in the second triangle (0, 2, 3) of the near square.
  EXPECT_EQ(hit.corners[0], 0);
  EXPECT_EQ(hit.corners[1], 2);
  EXPECT_EQ(hit.corners[2], 3);
  EXPECT_NEAR(hit.distance, 1.0, 1e-12);
  const double* b = hit.barycentric;
  EXPECT_NEAR(b[0] + b[1] + b[2], 1.0, 1e-12);
  EXPECT_NEAR(b[0] * -1 + b[1] * 1 + b[2] * -1, 0.2, 1e-12);
  EXPECT_NEAR(b[0] * -1 + b[1] * 1 + b[2] * 1, 0.3, 1e-12);
}

TEST(FindNearestHit, AtEqualDistanceTheFirstInPolygonThenTriangleOrderWins) {
  const std::vector<Vec3> positions = SquarePositions();
  {
    OwnedTriangulation mesh(Triangles{Square(4), Square(0)});
    const RayHit hit = Nearest(CageOf(&mesh.cage, positions), kOrigin, kUp);
    ASSERT_TRUE(hit.found);
    EXPECT_EQ(hit.polygon, 0);
    EXPECT_EQ(hit.corners[0], 4);
  }
  {
    OwnedTriangulation mesh(Triangles{Square(0), Square(4)});
    const RayHit hit = Nearest(CageOf(&mesh.cage, positions), kOrigin, kUp);
    EXPECT_EQ(hit.polygon, 0);
    EXPECT_EQ(hit.corners[0], 0);
  }
  {
    // One polygon listing the same triangle twice under other point numbers.
    OwnedTriangulation mesh(Triangles{{{4, 6, 7}, {0, 2, 3}}});
    const RayHit hit = Nearest(CageOf(&mesh.cage, positions), kOrigin, kUp);
    EXPECT_EQ(hit.corners[0], 4);
    EXPECT_EQ(hit.corners[1], 6);
  }
}

TEST(FindNearestHit, RaysThatMeetNothingFindNothing) {
  const std::vector<Vec3> positions = SquarePositions();
  OwnedTriangulation squares(Triangles{Square(0), Square(8)});
  EXPECT_FALSE(Nearest(CageOf(&squares.cage, positions), kOrigin, Vec3{0, 0, -1e6}).found);
  EXPECT_FALSE(Nearest(CageOf(&squares.cage, positions), kOrigin, Vec3{1e6, 0, 0}).found);

  OwnedTriangulation empty(Triangles{});
  EXPECT_FALSE(Nearest(CageOf(&empty.cage, positions), kOrigin, kUp).found);

  RayCastCage noTest = CageOf(&squares.cage, positions);
  noTest.rayTest = nullptr;
  EXPECT_FALSE(Nearest(noTest, kOrigin, kUp).found);
}

TEST(FindNearestHit, ReadsOnlyWhatTheTriangulationValidlyDescribes) {
  const std::vector<Vec3> positions = SquarePositions();
  EXPECT_FALSE(Nearest(CageOf(nullptr, positions), kOrigin, kUp).found);

  OwnedTriangulation mesh(Triangles{Square(0)});
  TriangulatedCage bad = mesh.cage;
  bad.polygonCount = -3;
  EXPECT_FALSE(Nearest(CageOf(&bad, positions), kOrigin, kUp).found);
  bad = mesh.cage;
  bad.polygons = nullptr;
  EXPECT_FALSE(Nearest(CageOf(&bad, positions), kOrigin, kUp).found);

  // A broken polygon record is skipped; the good one behind it still counts.
  OwnedTriangulation two(Triangles{Square(8), Square(0)});
  two.polygons[1].triangleCount = -1;
  EXPECT_EQ(Nearest(CageOf(&two.cage, positions), kOrigin, kUp).polygon, 0);
  two.polygons[1].triangleCount = 2;
  two.polygons[0].triangles = nullptr;
  EXPECT_EQ(Nearest(CageOf(&two.cage, positions), kOrigin, kUp).polygon, 1);

  // Corners outside the positions make a triangle untestable.
  for (int32_t wrong : {-1, 12, INT_MAX, INT_MIN}) {
    OwnedTriangulation outside(Triangles{{{0, wrong, 2}, {0, 2, wrong}}});
    EXPECT_FALSE(Nearest(CageOf(&outside.cage, positions), kOrigin, kUp).found) << wrong;
  }
  OwnedTriangulation none(Triangles{Square(0)});
  RayCastCage noPositions{&none.cage, nullptr, 0, host::RayIntersectTriangle, nullptr};
  EXPECT_FALSE(Nearest(noPositions, kOrigin, kUp).found);
}

// --- HitPoint ------------------------------------------------------------------

using HitPointTest = test_support::ModuleTest;

TEST_F(HitPointTest, CombinesTheCornersAsTheHostHasThemNow) {
  host::Mesh triangle;
  triangle.points = {{0, 0, 0}, {4, 0, 0}, {0, 8, 2}};
  triangle.polygons = {{0, 1, 2}};
  const uint32_t cage = host().addObject("cage", triangle);

  RayHit hit = NoHit();
  hit.found = true;
  hit.polygon = 0;
  hit.corners[0] = 2, hit.corners[1] = 0, hit.corners[2] = 1;
  hit.barycentric[0] = 0.25, hit.barycentric[1] = 0.5, hit.barycentric[2] = 0.25;
  const CageReads reads{cage, 3, host::api::fxMeshPoint, host::api::fxMeshPoly};
  Vec3 h = HitPoint(hit, reads);
  EXPECT_EQ(h.x, 1.0);
  EXPECT_EQ(h.y, 2.0);
  EXPECT_EQ(h.z, 0.5);

  host().setPoints(cage, {{0, 0, 0}, {4, 0, 0}, {0, 8, 6}});
  h = HitPoint(hit, reads);
  EXPECT_EQ(h.z, 1.5);
}

}  // namespace
