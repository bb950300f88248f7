// Triangulation of polygons, and the TriangulateTarget service.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "host_test_support.h"

namespace {

using host::TriangulatePolygon;
using host_test::CrossProduct;
using host_test::Length;
using host_test::Sub;

// The polygon's points placed on a tilted plane in space, so that the
// projection is exercised.
std::vector<Vec3> OnTiltedPlane(const std::vector<std::array<double, 2>>& outline) {
  const Vec3 origin{1.5, -2, 0.25}, u{0.6, 0.0, 0.8}, v{0.48, 0.6, -0.36};
  std::vector<Vec3> points;
  for (auto [s, t] : outline)
    points.push_back({origin.x + s * u.x + t * v.x, origin.y + s * u.y + t * v.y, origin.z + s * u.z + t * v.z});
  return points;
}

std::vector<int32_t> Boundary(size_t n, bool reversed = false) {
  std::vector<int32_t> polygon(n);
  for (size_t i = 0; i < n; ++i) polygon[i] = static_cast<int32_t>(reversed ? n - 1 - i : i);
  return polygon;
}

// Area of a planar simple polygon (half its Newell normal's length).
double PolygonArea(const std::vector<Vec3>& p, const std::vector<int32_t>& polygon) {
  Vec3 normal{0, 0, 0};
  for (size_t i = 0; i < polygon.size(); ++i) {
    const Vec3 c = CrossProduct(p[polygon[i]], p[polygon[(i + 1) % polygon.size()]]);
    normal = {normal.x + c.x, normal.y + c.y, normal.z + c.z};
  }
  return Length(normal) / 2;
}

// Checks that the triangles tile the simple polygon: n - 2 of them, each
// turning the polygon's way, their areas adding up to the polygon's.
void ExpectCovers(const std::vector<Vec3>& p, const std::vector<int32_t>& polygon) {
  const auto triangles = TriangulatePolygon(p, polygon);
  ASSERT_EQ(triangles.size(), polygon.size() - 2);
  Vec3 normal{0, 0, 0};
  for (size_t i = 0; i < polygon.size(); ++i) {
    const Vec3 c = CrossProduct(p[polygon[i]], p[polygon[(i + 1) % polygon.size()]]);
    normal = {normal.x + c.x, normal.y + c.y, normal.z + c.z};
  }
  double sum = 0;
  for (const auto& t : triangles) {
    const Vec3 c = CrossProduct(Sub(p[t[1]], p[t[0]]), Sub(p[t[2]], p[t[0]]));
    EXPECT_GE(c.x * normal.x + c.y * normal.y + c.z * normal.z, -1e-12) << "a triangle turns the wrong way";
    sum += Length(c) / 2;
  }
  EXPECT_NEAR(sum, PolygonArea(p, polygon), 1e-9);
}

TEST(TriangulatePolygon, ConvexPolygonsBecomeAFanFromTheFirstPoint) {
  std::vector<std::array<double, 2>> outline;
  for (int i = 0; i < 12; ++i) {
    const double angle = i * std::numbers::pi / 6;
    outline.push_back({std::cos(angle), std::sin(angle)});
  }
  const auto points = OnTiltedPlane(outline);
  for (bool reversed : {false, true}) {
    const auto polygon = Boundary(12, reversed);
    ExpectCovers(points, polygon);
    for (const auto& triangle : TriangulatePolygon(points, polygon)) EXPECT_EQ(triangle[0], polygon[0]);
  }
  // Collinear points on the sides keep it convex
  ExpectCovers(OnTiltedPlane({{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {0, 2}}), Boundary(6));
}

TEST(TriangulatePolygon, NonConvexPolygonsAreCovered) {
  // An L starting at its inner corner, where a fan would leave the polygon
  const auto ell = OnTiltedPlane({{1, 1}, {1, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 1}});
  for (bool reversed : {false, true}) ExpectCovers(ell, Boundary(6, reversed));

  std::vector<std::array<double, 2>> star;
  for (int i = 0; i < 14; ++i) {
    const double radius = i % 2 ? 0.35 : 1.0, angle = i * std::numbers::pi / 7;
    star.push_back({radius * std::cos(angle), radius * std::sin(angle)});
  }
  ExpectCovers(OnTiltedPlane(star), Boundary(14));

  // A comb: many reflex corners
  std::vector<std::array<double, 2>> comb = {{0, 0}, {9, 0}};
  for (int tooth = 4; tooth >= 0; --tooth) {
    comb.push_back({2.0 * tooth + 1, 3});
    comb.push_back({2.0 * tooth + 0.5, 3});
    comb.push_back({2.0 * tooth + 0.5, 1});
    if (tooth > 0) comb.push_back({2.0 * tooth, 1});
  }
  ExpectCovers(OnTiltedPlane(comb), Boundary(comb.size()));

  // Uses the mesh's point numbers, not positions in the polygon
  const auto points = OnTiltedPlane({{9, 9}, {1, 1}, {1, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 1}});
  const std::vector<int32_t> polygon = {1, 2, 3, 4, 5, 6};
  ExpectCovers(points, polygon);
  for (const auto& triangle : TriangulatePolygon(points, polygon))
    for (int32_t corner : triangle) EXPECT_NE(corner, 0);
}

TEST(TriangulatePolygon, DegenerateInputStillGivesNMinusTwoTriangles) {
  const std::vector<std::vector<Vec3>> cases = {
      {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}},                       // collinear
      {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}},                                    // one point
      {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}},              // repeated points
      {{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}},              // spike
      {{0, 0, 0}, {2, 1, 0}, {0, 1, 0}, {2, 0, 0}},                                    // bow tie
      {{1, 0, 0}, {-0.81, 0.59, 0}, {0.31, -0.95, 0}, {0.31, 0.95, 0}, {-0.81, -0.59, 0}},  // pentagram
      {{0, 0, 0}, {NAN, 0, 0}, {1, 1, 0}, {0, 1, 0}},                                  // not a number
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto polygon = Boundary(cases[i].size());
    const auto triangles = TriangulatePolygon(cases[i], polygon);
    EXPECT_EQ(triangles.size(), polygon.size() - 2) << "case " << i;
    for (const auto& t : triangles)
      for (int32_t corner : t) EXPECT_TRUE(corner >= 0 && corner < int32_t(polygon.size())) << "case " << i;
  }
  // Random self-crossing polygons
  std::mt19937 random(3);
  std::uniform_int_distribution<int> coordinate(0, 4);  // small grid: many collinear and repeated points
  for (int round = 0; round < 300; ++round) {
    std::vector<Vec3> points(3 + round % 25);
    for (Vec3& p : points) p = {double(coordinate(random)), double(coordinate(random)), 0.5 * coordinate(random)};
    ASSERT_EQ(TriangulatePolygon(points, Boundary(points.size())).size(), points.size() - 2) << "round " << round;
  }
}

TEST(TriangulatePolygon, FewerThanThreePointsGiveNothing) {
  const std::vector<Vec3> points = {{0, 0, 0}, {1, 0, 0}};
  EXPECT_TRUE(TriangulatePolygon(points, {}).empty());
  EXPECT_TRUE(TriangulatePolygon(points, {0, 1}).empty());
  EXPECT_THROW(TriangulatePolygon(points, {0, 1, 2}), std::invalid_argument);
}

TEST(TriangulateTarget, OneRecordPerPolygonInOrder) {
  host::Host host;
  host::Mesh mesh = host_test::Cube();
  mesh.polygons.push_back({0, 1});
  mesh.polygons.push_back({0, 1, 3, 7, 6, 4, 2});
  const uint32_t cube = host.addObject("cube", mesh);
  auto triangulate = host_test::Resolve<useful_TriangulateTarget_fn>("useful_TriangulateTarget", ostrand::kUsefulGroup);
  auto freeMesh = host_test::Resolve<useful_FreeMesh_fn>("useful_FreeMesh", ostrand::kUsefulGroup);

  auto* cage = static_cast<TriangulatedCage*>(triangulate(cube, 0));
  ASSERT_NE(cage, nullptr);
  ASSERT_EQ(cage->polygonCount, 8);
  for (int i = 0; i < 8; ++i) {
    const auto expected = TriangulatePolygon(mesh.points, mesh.polygons[i]);
    ASSERT_EQ(cage->polygons[i].triangleCount, int32_t(expected.size())) << i;
    for (size_t t = 0; t < expected.size(); ++t)
      for (int k = 0; k < 3; ++k) EXPECT_EQ(cage->polygons[i].triangles[t][k], expected[t][k]);
  }
  EXPECT_EQ(cage->polygons[6].triangleCount, 0);
  freeMesh(cage);

  for (uint32_t unknown : {0u, 4242u}) {
    auto* empty = static_cast<TriangulatedCage*>(triangulate(unknown, 0));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->polygonCount, 0);
    freeMesh(empty);
  }
  freeMesh(nullptr);
}

}  // namespace
