// The watertight ray-triangle test.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "host_test_support.h"

namespace {

using host::RayIntersectTriangle;

struct Hit {
  bool hit;
  double distance;
  std::array<double, 3> weights;
};

Hit Cast(Vec3 origin, Vec3 direction, Vec3 a, Vec3 b, Vec3 c) {
  Hit result{false, -1, {-1, -1, -1}};
  result.hit = RayIntersectTriangle(&origin, &direction, &a, &b, &c, &result.distance, result.weights.data(), 0) != 0;
  return result;
}

const Vec3 kA{0, 0, 0}, kB{2, 0, 0}, kC{0, 2, 0};

TEST(RayIntersectTriangle, HitGivesDistanceAlongTheRayAndCornerWeights) {
  // Unnormalised direction: distance is Euclidean, not the ray parameter
  const Hit hit = Cast({0.5, 0.25, 3}, {0, 0, -0.5}, kA, kB, kC);
  ASSERT_TRUE(hit.hit);
  EXPECT_DOUBLE_EQ(hit.distance, 3.0);
  EXPECT_DOUBLE_EQ(hit.weights[0], 0.625);
  EXPECT_DOUBLE_EQ(hit.weights[1], 0.25);
  EXPECT_DOUBLE_EQ(hit.weights[2], 0.125);

  // From below, slanted, against the winding: the same point, the same weights
  const Hit below = Cast({-0.5, 1.25, -2}, {1, -1, 2}, kC, kA, kB);
  ASSERT_TRUE(below.hit);
  EXPECT_NEAR(below.distance, std::sqrt(6.0), 1e-14);
  EXPECT_NEAR(below.weights[0], 0.125, 1e-15);
  EXPECT_NEAR(below.weights[1], 0.625, 1e-15);
  EXPECT_NEAR(below.weights[2], 0.25, 1e-15);
}

TEST(RayIntersectTriangle, WeightsReproduceTheHitPoint) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coordinate(-10, 10);
  auto point = [&] { return Vec3{coordinate(random), coordinate(random), coordinate(random)}; };
  int hits = 0;
  for (int i = 0; i < 2000; ++i) {
    const Vec3 a = point(), b = point(), c = point(), origin = point(), direction = point();
    const Hit hit = Cast(origin, direction, a, b, c);
    if (!hit.hit) continue;
    ++hits;
    const auto& w = hit.weights;
    EXPECT_GE(std::min({w[0], w[1], w[2]}), 0.0);
    EXPECT_NEAR(w[0] + w[1] + w[2], 1.0, 1e-12);
    const Vec3 onTriangle{w[0] * a.x + w[1] * b.x + w[2] * c.x, w[0] * a.y + w[1] * b.y + w[2] * c.y,
                          w[0] * a.z + w[1] * b.z + w[2] * c.z};
    const double t = hit.distance / host_test::Length(direction);
    const Vec3 onRay{origin.x + t * direction.x, origin.y + t * direction.y, origin.z + t * direction.z};
    EXPECT_NEAR(host_test::Length(host_test::Sub(onTriangle, onRay)), 0.0, 1e-8);
  }
  EXPECT_GT(hits, 50);
}

TEST(RayIntersectTriangle, Misses) {
  EXPECT_FALSE(Cast({3, 3, 1}, {0, 0, -1}, kA, kB, kC).hit);          // beside
  EXPECT_FALSE(Cast({0.5, 0.5, 1}, {0, 0, 1}, kA, kB, kC).hit);       // behind the origin
  EXPECT_FALSE(Cast({0.5, 0.5, 0}, {0, 0, 1}, kA, kB, kC).hit);       // origin on the triangle: t = 0
  EXPECT_FALSE(Cast({-1, 0.5, 0}, {1, 0, 0}, kA, kB, kC).hit);        // in the plane
  EXPECT_FALSE(Cast({0.5, 0.5, 1}, {1, 1, 0}, kA, kB, kC).hit);       // parallel above
  EXPECT_FALSE(Cast({0.5, 0.5, 1}, {0, 0, 0}, kA, kB, kC).hit);       // no direction
  // Zero-area triangles: repeated and collinear corners
  EXPECT_FALSE(Cast({0, 0, 1}, {0, 0, -1}, kA, kA, kB).hit);
  EXPECT_FALSE(Cast({1, 0, 1}, {0, 0, -1}, kA, {1, 0, 0}, kB).hit);
  EXPECT_FALSE(Cast({1, 1, 1}, {-1, 1, 0}, {0, 0, 0}, {1, 1, 1}, {2, 2, 2}).hit);
  // Null outputs are allowed on a hit
  Vec3 o{0.5, 0.5, 1}, d{0, 0, -1};
  EXPECT_EQ(RayIntersectTriangle(&o, &d, &kA, &kB, &kC, nullptr, nullptr, 0), 1);
  EXPECT_EQ(RayIntersectTriangle(nullptr, &d, &kA, &kB, &kC, nullptr, nullptr, 0), 0);
}

TEST(RayIntersectTriangle, FarHitsHaveNoUpperBound) {
  const Hit hit = Cast({0.5, 0.5, 1e12}, {0, 0, -1e-3}, kA, kB, kC);
  ASSERT_TRUE(hit.hit);
  EXPECT_DOUBLE_EQ(hit.distance, 1e12);
}

// A closed mesh has no gaps: a ray from inside through any shared edge or
// corner of its triangles hits at least one of them, whatever the rounding.
TEST(RayIntersectTriangle, WatertightAtSharedEdgesAndCorners) {
  // An octahedron, rotated and moved so that its coordinates round
  std::vector<Vec3> corners = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  const double ca = std::cos(0.7), sa = std::sin(0.7), cb = std::cos(1.3), sb = std::sin(1.3);
  for (Vec3& p : corners) {
    const Vec3 r{ca * p.x - sa * p.y, sa * p.x + ca * p.y, p.z};
    p = {r.x * 3.7 + 101.3, (cb * r.y - sb * r.z) * 3.7 - 7.1, (sb * r.y + cb * r.z) * 3.7 + 0.3};
  }
  const int faces[8][3] = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  const int edges[12][2] = {{0, 2}, {2, 1}, {1, 3}, {3, 0}, {0, 4}, {1, 4}, {2, 4}, {3, 4},
                            {0, 5}, {1, 5}, {2, 5}, {3, 5}};
  const Vec3 center{101.3, -7.1, 0.3};

  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0, 1), offset(-0.9, 0.9);
  auto hitsOfRay = [&](const Vec3& origin, const Vec3& through) {
    const Vec3 direction = host_test::Sub(through, origin);
    int hits = 0;
    for (const auto& f : faces)
      hits += Cast(origin, direction, corners[f[0]], corners[f[1]], corners[f[2]]).hit;
    return hits;
  };
  int rays = 0;
  for (int i = 0; i < 3000; ++i) {
    const Vec3 origin{center.x + offset(random), center.y + offset(random), center.z + offset(random)};
    const auto& e = edges[i % 12];
    const double s = unit(random);
    const Vec3 &p = corners[e[0]], &q = corners[e[1]];
    const Vec3 onEdge{p.x + s * (q.x - p.x), p.y + s * (q.y - p.y), p.z + s * (q.z - p.z)};
    ASSERT_GE(hitsOfRay(origin, onEdge), 1) << "edge ray " << i;
    ASSERT_GE(hitsOfRay(origin, corners[i % 6]), 1) << "corner ray " << i;
    rays += 2;
  }
  EXPECT_EQ(rays, 6000);
}

TEST(RayIntersectTriangle, ServiceIsTheSameTest) {
  host::Host host;
  auto service =
      host_test::Resolve<useful_RayIntersectTriangle_fn>("useful_RayIntersectTriangle", ostrand::kUsefulGroup);
  Vec3 o{0.5, 0.25, 3}, d{0, 0, -0.5};
  double distance = 0, weights[3];
  ASSERT_EQ(service(&o, &d, &kA, &kB, &kC, &distance, weights, 0), 1);
  EXPECT_DOUBLE_EQ(distance, 3.0);
  EXPECT_EQ(host.calls("useful_RayIntersectTriangle"), 1);
}

}  // namespace
