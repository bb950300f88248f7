// The triangles a ray's line collects from the hierarchy, whatever the
// length of its direction, and the reference search taking the rays the
// hierarchy cannot (not finite, no direction) and those whose candidate
// list cannot grow.
#include <gtest/gtest.h>

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

}  // namespace
