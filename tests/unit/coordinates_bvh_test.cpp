// The bounding volume hierarchy over a triangulated cage: what it holds,
// how deep it gets, and what happens when memory or the ray cannot be had.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "geometry/cage_bvh.h"
#include "geometry/ray_casting.h"
#include "host_interface/memory.h"
#include "support/cages.h"
#include "support/ray_search_support.h"

namespace {

using namespace ostrand;
using test_support::OwnedTriangulation;
using test_support::AcceleratedCage;
using test_support::SameHit;

// Rays the hierarchy cannot take (not finite, no direction) and candidate
// lists that cannot grow fall back to the reference rather than miss anything.
TEST(CageBvh, RaysOfAnyLengthAreTakenAndTheRestFallBackToTheReference) {
  const host::Mesh mesh = test_support::SubdividedCube(3);
  OwnedTriangulation triangulation(mesh);
  const RayCastCage cage{&triangulation.cage, mesh.points.data(), static_cast<uint32_t>(mesh.points.size()),
                         &host::RayIntersectTriangle, nullptr};
  AcceleratedCage accelerated(cage);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const Vec3 inside{0.1, 0.2, 0.3};
  for (auto [origin, direction] :
       {std::pair{Vec3{nan, 0, 0}, Vec3{1e6, 0, 0}}, {inside, Vec3{0, inf, 0}}, {inside, Vec3{0, 0, 0}}}) {
    EXPECT_FALSE(accelerated.collect(origin, direction));
    EXPECT_TRUE(SameHit(accelerated.find(origin, direction), FindNearestHitExhaustive(cage, origin, direction)));
  }

  // The direction's length, huge or tiny, never changes the candidates; a
  // subnormal component reads as none.
  const Vec3 d{3e5, 4e5, -1e5};
  ASSERT_TRUE(accelerated.collect(inside, d));
  const std::vector<int32_t> expected(accelerated.candidates().ids,
                                      accelerated.candidates().ids + accelerated.candidates().count);
  EXPECT_EQ(expected.size(), 4u);
  for (int scale : {900, -1000, -1050}) {
    const Vec3 scaled{std::ldexp(d.x, scale), std::ldexp(d.y, scale), std::ldexp(d.z, scale)};
    ASSERT_TRUE(accelerated.collect(inside, scaled)) << scale;
    EXPECT_EQ(std::vector<int32_t>(accelerated.candidates().ids,
                                   accelerated.candidates().ids + accelerated.candidates().count),
              expected)
        << scale;
  }
  for (const Vec3& direction : {Vec3{1e6, 4e-320, 0}, Vec3{5e-320, 0, -1e-321}, Vec3{1e300, 2e300, -3e299}}) {
    EXPECT_TRUE(accelerated.collect(inside, direction));
    EXPECT_TRUE(SameHit(accelerated.find(inside, direction), FindNearestHitExhaustive(cage, inside, direction)));
  }

  AcceleratedCage fresh(cage);
  SetAllocationFailure(0);  // the first growth of its list
  EXPECT_TRUE(
      SameHit(fresh.find(inside, Vec3{3e5, 4e5, 1e5}), FindNearestHitExhaustive(cage, inside, Vec3{3e5, 4e5, 1e5})));
  SetAllocationFailure(-1);
  EXPECT_EQ(fresh.candidates().capacity, 0);
}

// Depth of the deepest leaf, checking on the way that each node's box holds
// its children's and its triangles' corners; counts leaf entries per triangle.
int CheckNode(const CageBvh& bvh, const std::vector<Vec3>& positions, int32_t index, std::vector<int>* seen) {
  const BvhNode& node = bvh.nodes[index];
  auto holds = [&](const BvhNode& outer, const double* lo, const double* hi) {
    for (int a = 0; a < 3; ++a)
      if (!(outer.box[a] <= lo[a] && hi[a] <= outer.box[3 + a])) return false;
    return true;
  };
  if (node.count > 0) {
    for (int32_t i = node.offset; i < node.offset + node.count; ++i) {
      const int32_t t = bvh.order[i];
      ++(*seen)[t];
      for (int32_t k : bvh.triangles[t].corners) {
        const double p[3] = {positions[k].x, positions[k].y, positions[k].z};
        EXPECT_TRUE(holds(node, p, p)) << "triangle " << t;
      }
    }
    EXPECT_LE(node.count, kBvhLeafSize);
    return 1;
  }
  for (int32_t child : {index + 1, node.offset})
    EXPECT_TRUE(holds(node, bvh.nodes[child].box, bvh.nodes[child].box + 3));
  return 1 + std::max(CheckNode(bvh, positions, index + 1, seen), CheckNode(bvh, positions, node.offset, seen));
}

TEST(CageBvh, HoldsEveryTriangleOnceInNestedBoxesAtBoundedDepth) {
  // A subdivided cube, and triangles at sizes doubling 900 times, on which
  // surface-area splits peel off one triangle at a time.
  host::Mesh doubling;
  for (int i = 0; i < 900; ++i) {
    const double s = std::pow(2.0, 0.5 * i);
    doubling.points.insert(doubling.points.end(), {{s, 0, 0}, {s, s, 0}, {s, 0, s}});
    doubling.polygons.push_back({3 * i, 3 * i + 1, 3 * i + 2});
  }
  for (const host::Mesh& mesh : {test_support::SubdividedCube(9), doubling}) {
    OwnedTriangulation triangulation(mesh);
    const RayCastCage cage{&triangulation.cage, mesh.points.data(), static_cast<uint32_t>(mesh.points.size()),
                           &host::RayIntersectTriangle, nullptr};
    AcceleratedCage accelerated(cage);
    ASSERT_TRUE(accelerated.built());
    const CageBvh& bvh = accelerated.bvh();
    ASSERT_EQ(bvh.triangleCount, static_cast<int32_t>(triangulation.triangleCount()));
    std::vector<int> seen(bvh.triangleCount, 0);
    const int depth = CheckNode(bvh, mesh.points, 0, &seen);
    EXPECT_LT(depth, kBvhStackSize);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), bvh.triangleCount);
    EXPECT_TRUE(accelerated.collect(Vec3{0.5, 0.5, 0.5}, Vec3{0, 6e5, 8e5}));
  }
}

TEST(CageBvh, WithoutMemoryHoldsNothingAndNoCageGivesAnEmptyHierarchy) {
  const host::Mesh mesh = test_support::Cube();
  OwnedTriangulation triangulation(mesh);
  for (long n = 0; n < 4; ++n) {
    CageBvh bvh{};
    SetAllocationFailure(n);
    EXPECT_FALSE(BuildCageBvh(&triangulation.cage, mesh.points.data(), 8, &bvh)) << n;
    SetAllocationFailure(-1);
    EXPECT_EQ(bvh.triangles, nullptr);
    EXPECT_EQ(bvh.nodes, nullptr);
    EXPECT_EQ(bvh.nodeCount, 0);
  }
  CageBvh empty{};
  EXPECT_TRUE(BuildCageBvh(nullptr, mesh.points.data(), 8, &empty));
  EXPECT_EQ(empty.triangleCount, 0);
  CandidateScratch scratch{};
  EXPECT_TRUE(CollectCandidates(empty, Vec3{0, 0, 0}, Vec3{1e6, 0, 0}, &scratch));
  EXPECT_EQ(scratch.count, 0);
  FreeCageBvh(&empty);
}

}  // namespace
