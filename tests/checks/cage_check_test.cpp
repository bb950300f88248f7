// The cage check, linked in: each faulty cage gives exactly its findings, and
// the inside test is right on both sides of the surface, agrees with the sum
// of solid angles, and does not depend on the thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "checks/cage_check.h"
#include "checks/cage_interior.h"
#include "checks/solid_angle_tree.h"
#include "support/cages.h"

namespace checks {
namespace {

using Findings = std::vector<std::string>;
using test_support::Cube;

host::Mesh Scaled(host::Mesh mesh, double factor, Vec3 offset = {0, 0, 0}) {
  for (Vec3& p : mesh.points) p = {p.x * factor + offset.x, p.y * factor + offset.y, p.z * factor + offset.z};
  return mesh;
}

// Both meshes in one, b's points numbered after a's.
host::Mesh Joined(host::Mesh a, const host::Mesh& b) {
  const auto offset = static_cast<int32_t>(a.points.size());
  a.points.insert(a.points.end(), b.points.begin(), b.points.end());
  for (std::vector<int32_t> face : b.polygons) {
    for (int32_t& k : face) k += offset;
    a.polygons.push_back(face);
  }
  return a;
}

// Turned by angle about the unit axis through the origin.
host::Mesh Turned(host::Mesh mesh, Vec3 axis, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  for (Vec3& p : mesh.points) {
    const double along = axis.x * p.x + axis.y * p.y + axis.z * p.z;
    const Vec3 across{axis.y * p.z - axis.z * p.y, axis.z * p.x - axis.x * p.z, axis.x * p.y - axis.y * p.x};
    p = {p.x * c + across.x * s + axis.x * along * (1 - c), p.y * c + across.y * s + axis.y * along * (1 - c),
         p.z * c + across.z * s + axis.z * along * (1 - c)};
  }
  return mesh;
}

host::Mesh Flipped(host::Mesh mesh, size_t face) {
  std::reverse(mesh.polygons[face].begin(), mesh.polygons[face].end());
  return mesh;
}

// Points on a grid of cell centres over [-extent, extent]^3.
std::vector<Vec3> Grid(int steps, double extent) {
  std::vector<Vec3> points;
  for (int i = 0; i < steps; ++i)
    for (int j = 0; j < steps; ++j)
      for (int k = 0; k < steps; ++k) {
        auto at = [&](int n) { return extent * (2.0 * (n + 0.5) / steps - 1.0); };
        points.push_back({at(i), at(j), at(k)});
      }
  return points;
}

std::vector<Vec3> RandomPoints(size_t count, double extent, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(-extent, extent);
  std::vector<Vec3> points(count);
  for (Vec3& p : points) p = {u(random), u(random), u(random)};
  return points;
}

TEST(CageCheckFindings, ClosedOutwardCubeIsClean) {
  const std::vector<Vec3> target = Grid(4, 0.9);
  const CageCheck check = CheckCage(Cube(), &target, 2);
  EXPECT_EQ(check.findings, Findings{});
  EXPECT_TRUE(check.closed);
  EXPECT_FALSE(check.inward);
  EXPECT_DOUBLE_EQ(check.volume, 8.0);
  EXPECT_EQ(check.outside, std::vector<uint8_t>(target.size(), 0));
  EXPECT_EQ(check.likelyCause, "");
  EXPECT_EQ(CleanCageLine(check), "cage check: closed, consistently oriented outward, no self-intersections, no "
                                  "degenerate faces; all 64 target points inside");
  EXPECT_EQ(CleanCageLine(CheckCage(Cube(), nullptr, 1)),
            "cage check: closed, consistently oriented outward, no self-intersections, no degenerate faces");
}

TEST(CageCheckFindings, OrientationFaults) {
  host::Mesh open = Cube();
  open.polygons.erase(open.polygons.begin() + 1);  // the top
  CageCheck check = CheckCage(open, nullptr, 1);
  EXPECT_EQ(check.findings, Findings{"cage: 4 boundary edges (open: an edge used by one face only): 6-5, 7-6, 8-7, 5-8"});
  EXPECT_EQ(check.likelyCause, "the cage is open (4 boundary edges)");
  EXPECT_FALSE(check.closed);

  check = CheckCage(Flipped(Cube(), 2), nullptr, 1);
  EXPECT_EQ(check.findings, Findings{"cage: 1 face oriented against its neighbours (flip it): 3"});
  EXPECT_TRUE(check.closed);
  EXPECT_EQ(check.likelyCause, "");

  host::Mesh inward = Cube();
  for (size_t f = 0; f < inward.polygons.size(); ++f) inward = Flipped(inward, f);
  check = CheckCage(inward, nullptr, 1);
  EXPECT_EQ(check.findings, Findings{"cage: faces point inward (signed volume -8): flip every face"});
  EXPECT_TRUE(check.inward);

  // Two flipped neighbours of six: the smaller side is still theirs.
  check = CheckCage(Flipped(Flipped(Cube(), 0), 2), nullptr, 1);
  EXPECT_EQ(check.misorientedFaces, 2u);
  EXPECT_EQ(check.findings, Findings{"cage: 2 faces oriented against their neighbours (flip them): 1, 3"});
  // A band of 12 quads joined with a half twist: no side of it is the outside.
  host::Mesh band;
  constexpr int kQuads = 12;
  for (int i = 0; i < kQuads; ++i) {
    const double a = 2 * 3.141592653589793 * i / kQuads, twist = a / 2;
    for (double s : {1.0, -1.0})
      band.points.push_back({(2 + s * 0.5 * std::cos(twist)) * std::cos(a), s * 0.5 * std::sin(twist),
                             (2 + s * 0.5 * std::cos(twist)) * std::sin(a)});
  }
  for (int32_t i = 0; i + 1 < kQuads; ++i) band.polygons.push_back({2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1});
  band.polygons.push_back({2 * kQuads - 2, 1, 0, 2 * kQuads - 1});
  check = CheckCage(band, nullptr, 1);
  EXPECT_EQ(check.oneSidedParts, 1u);
  EXPECT_EQ(check.misorientedFaces, 0u);
  EXPECT_EQ(check.boundaryEdges, 2u * kQuads);
  EXPECT_NE(std::find(check.findings.begin(), check.findings.end(),
                      "cage: 1 part cannot be oriented consistently (it is one-sided): the part of face 1"),
            check.findings.end());
}

TEST(CageCheckFindings, EdgesAndDegenerateFaces) {
  // A triangle hung on the cube's edge 1-2: that edge is used three times.
  host::Mesh fin = Cube();
  fin.points.push_back({0, -3, -1});
  fin.polygons.push_back({1, 0, 8});
  CageCheck check = CheckCage(fin, nullptr, 1);
  EXPECT_EQ(check.nonManifoldEdges, 1u);
  EXPECT_EQ(check.boundaryEdges, 2u);
  EXPECT_EQ(check.findings, (Findings{"cage: 2 boundary edges (open: an edge used by one face only): 1-9, 9-2",
                                      "cage: 1 non-manifold edge (used by more than two faces): 2-1"}));

  host::Mesh repeated = Cube();
  repeated.polygons[0].insert(repeated.polygons[0].begin() + 1, 2);  // 3 2 2 1 0: point 3 twice
  check = CheckCage(repeated, nullptr, 1);
  EXPECT_EQ(check.findings, Findings{"cage: 1 degenerate face: 1 (point 3 twice)"});

  // Faces of their own beside the cube: collinear, two corners at one place, too few corners.
  host::Mesh slivers = Cube();
  for (const Vec3& p : {Vec3{0, 0, 0}, Vec3{0.1, 0, 0}, Vec3{0.3, 0, 0}, Vec3{0.5, 0.5, 0}, Vec3{0.5, 0.5, 0}})
    slivers.points.push_back(p);
  slivers.polygons.push_back({8, 9, 10});
  slivers.polygons.push_back({8, 11, 12});
  slivers.polygons.push_back({8, 9});
  check = CheckCage(slivers, nullptr, 1);
  EXPECT_EQ(check.degenerateFaces, 3u);
  EXPECT_EQ(check.boundaryEdges, 6u);
  EXPECT_EQ(check.findings.back(),
            "cage: 3 degenerate faces: 7 (no area), 8 (points 12 and 13 at one place), 9 (fewer than 3 corners)");
}

TEST(CageCheckFindings, TargetOutsideTheCage) {
  // The cube spans [-1, 1]; the grid [-2, 2] has its 64 middle points inside.
  const std::vector<Vec3> target = Grid(8, 2.0);
  CageCheck check = CheckCage(Cube(), &target, 2);
  ASSERT_EQ(check.outside.size(), target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    const Vec3& p = target[i];
    EXPECT_EQ(check.outside[i], std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)}) > 1 ? 1 : 0) << i;
  }
  EXPECT_EQ(check.outsidePoints, 512u - 64u);
  EXPECT_EQ(check.findings, Findings{"target: 448 of 512 points lie outside the cage: 1, 2, 3, 4, 5, ..."});
  EXPECT_EQ(check.likelyCause, "448 points lie outside the cage");

  check = CheckCage(Scaled(Cube(), 1.0, {10, 0, 0}), &target, 1);
  EXPECT_EQ(check.outsidePoints, target.size());
}

TEST(CageCheckFindings, FlatAndBadlySizedCages) {
  host::Mesh disc;
  std::vector<int32_t> face;
  for (const test_support::Point2& p : test_support::RegularPolygon(66, 3.0)) {
    face.push_back(static_cast<int32_t>(disc.points.size()));
    disc.points.push_back({p.x, 0.3 * p.x + 0.2 * p.y, p.y});  // a tilted plane
  }
  disc.polygons.push_back(face);
  const std::vector<Vec3> target = Grid(4, 1.0);  // none on the plane
  CageCheck check = CheckCage(disc, &target, 1);
  ASSERT_EQ(check.findings.size(), 3u);
  EXPECT_EQ(check.findings[0].rfind("cage: 66 boundary edges (open: an edge used by one face only): 1-2, 2-3,", 0), 0u);
  EXPECT_EQ(check.findings[1], "cage: flat (no volume): its faces enclose no space, so no point lies inside it");
  EXPECT_EQ(check.outsidePoints, target.size());
  EXPECT_EQ(check.likelyCause, "the cage is flat");

  // Far too large, and far too small: the inside test still works.
  const std::vector<Vec3> inside = Grid(3, 0.5);
  for (double factor : {1e307, 1e-300}) {
    std::vector<Vec3> scaledTarget;
    for (const Vec3& p : inside) scaledTarget.push_back({p.x * factor, p.y * factor, p.z * factor});
    check = CheckCage(Scaled(Cube(), factor), &scaledTarget, 1);
    ASSERT_EQ(check.findings.size(), 1u) << factor;
    EXPECT_EQ(check.outsidePoints, 0u);
    EXPECT_FALSE(check.inward);
  }
  EXPECT_EQ(check.findings[0],
            "cage: too small to bind accurately (size 3.46e-300, the bounding-box diagonal): the module's fixed "
            "tolerances suit sizes from 0.02 to 1e+07; scale the cage and the target up together");
  check = CheckCage(Scaled(Cube(), 1e307), nullptr, 1);
  EXPECT_EQ(check.likelyCause, "the cage is too large to bind accurately (size 3.46e+307)");
  EXPECT_TRUE(std::isinf(check.volume));
}

// A surface passing through itself is told by the faces that cross, and its
// volume's sign is not taken for faces turned inward.
TEST(CageCheckFindings, FacesThatPassThroughEachOther) {
  // The corner (1, 1, 1) pushed down through the bottom face: the faces
  // around it cross the bottom, and the volume turns negative.
  host::Mesh pushed = Cube();
  pushed.points[5] = {0.2, -9, -0.3};
  CageCheck check = CheckCage(pushed, nullptr, 1);
  EXPECT_TRUE(check.closed);
  EXPECT_LT(check.volume, 0);
  EXPECT_FALSE(check.inward);
  EXPECT_EQ(check.findings, Findings{"cage: 3 pairs of faces intersect (the surface passes through itself): "
                                     "1 and 2, 1 and 3, 1 and 4"});
  EXPECT_EQ(check.likelyCause, "the cage passes through itself (3 pairs of faces intersect)");
  // Pushed less far, the parts' volumes cancel: not flat either.
  pushed.points[5] = {0.2, -7.6, -0.3};
  check = CheckCage(pushed, nullptr, 1);
  EXPECT_NEAR(check.volume, 0, 1e-12);
  EXPECT_FALSE(check.flat);
  EXPECT_EQ(check.findings.size(), 1u);
  EXPECT_EQ(check.likelyCause, "the cage passes through itself (3 pairs of faces intersect)");

  const std::vector<Vec3> target = {{0, 0, 0}, {1.4, 1.5, 1.6}, {3, 3, 3}};
  check = CheckCage(Joined(Cube(), Scaled(Cube(), 1.0, {0.5, 0.6, 0.7})), &target, 1);
  EXPECT_EQ(check.findings, (Findings{"cage: 6 pairs of faces intersect (the surface passes through itself): "
                                      "2 and 11, 2 and 12, 3 and 7, 3 and 12, 4 and 7, ...",
                                      "target: 1 of 3 points lies outside the cage: 3"}));
  EXPECT_EQ(check.likelyCause, "the cage passes through itself (6 pairs of faces intersect) and 1 point lies outside it");

  // Many crossings, found alike on any thread count.
  const host::Mesh both =
      Joined(test_support::SubdividedCube(12), Turned(Scaled(test_support::SubdividedCube(12), 1.0, {0.3, 0.2, 0.1}),
                                                      {0.6, 0.64, 0.48}, 0.4));
  const CageCheck one = CheckCage(both, nullptr, 1), three = CheckCage(both, nullptr, 3);
  EXPECT_GT(one.crossingFacePairs, 100u);
  EXPECT_EQ(one.crossingFacePairs, three.crossingFacePairs);
  EXPECT_EQ(one.findings, three.findings);

  // Two cubes sharing a corner point touch there; one turned about that
  // corner into the other crosses it beyond the corner.
  host::Mesh other = Scaled(Cube(), 1.0, {1, 1, 1});  // [0, 2]^3, its point 3 (from 0) at the origin
  for (bool turned : {false, true}) {
    host::Mesh pair = Joined(Cube(), Scaled(turned ? Turned(other, {0.6, -0.8, 0}, 2.0) : other, 1.0, {1, 1, 1}));
    for (size_t f = 6; f < pair.polygons.size(); ++f)
      for (int32_t& k : pair.polygons[f])
        if (k == 8 + 3) k = 5;  // the cube's point at (1, 1, 1)
    ASSERT_EQ(pair.points[8 + 3].x, 1.0);
    EXPECT_EQ(CheckCage(pair, nullptr, 1).crossingFacePairs > 0, turned);
  }
  // An hourglass: two pyramids apex to apex on one point, whose faces pass
  // through each other's planes but meet only there.
  host::Mesh hourglass;
  hourglass.points = {{0, 0, 0},    {1, 1, 1},    {1, 1, -1},    {-1, 1, -1},  {-1, 1, 1},
                      {1.4, -1, 0}, {0, -1, 1.4}, {-1.4, -1, 0}, {0, -1, -1.4}};
  hourglass.polygons = {{1, 2, 3, 4}, {8, 7, 6, 5}};
  for (int32_t i = 0; i < 4; ++i) {
    hourglass.polygons.push_back({0, 1 + (i + 1) % 4, 1 + i});
    hourglass.polygons.push_back({0, 5 + i, 5 + (i + 1) % 4});
  }
  check = CheckCage(hourglass, nullptr, 1);
  EXPECT_EQ(check.crossingFacePairs, 0u);
  EXPECT_EQ(check.findings, Findings{});
}

// Faces that only touch do not cross: cubes face to face, across part of a
// face, along an edge, at a corner, turned and not; neighbours on a flat
// subdivided face; the fans of non-convex caps, which leave the outline in
// its plane; the bundled example.
TEST(CageCheckFindings, FacesThatOnlyTouchDoNotCross) {
  const Vec3 axis{0.6, 0.64, 0.48};
  std::vector<host::Mesh> cages = {Joined(Cube(), Scaled(Cube(), 1.0, {2, 0, 0})),
                                   Joined(Cube(), Scaled(Cube(), 1.0, {2, 0.5, 0.3})),
                                   Joined(Cube(), Scaled(Cube(), 1.0, {2, 2, 0.4})),
                                   Joined(Cube(), Scaled(Cube(), 1.0, {2, 2, 2})),
                                   test_support::SubdividedCube(6),
                                   test_support::StarCase().mesh,
                                   test_support::LCase().mesh,
                                   test_support::NGonCase().mesh,
                                   host::ReadObj(std::string(OSTRAND_SOURCE_DIR) + "/examples/cage.obj")};
  for (size_t c = 0, n = cages.size(); c < n; ++c) cages.push_back(Turned(cages[c], axis, 0.7));
  for (size_t c = 0; c < cages.size(); ++c) {
    const CageCheck check = CheckCage(cages[c], nullptr, 2);
    EXPECT_EQ(check.findings, Findings{}) << c;
    EXPECT_EQ(check.crossingFacePairs, 0u) << c;
  }
}

// Rounding grows with the coordinates, not with the cage: the distance over
// the size is what counts.
TEST(CageCheckFindings, FarFromTheOriginForItsSize) {
  const std::vector<Vec3> target = {{1e7, 0, 0}, {1e7 + 0.5, 0.5, -0.5}};
  CageCheck check = CheckCage(Scaled(Cube(), 1.0, {1e7, 0, 0}), &target, 2);
  EXPECT_EQ(check.findings, Findings{"cage: far from the origin for its size (centre 1e+07 away, size 3.46): binding "
                                     "loses precision beyond 2000 times the size; move the cage and the target "
                                     "towards the origin together"});
  EXPECT_EQ(check.likelyCause, "the cage is far from the origin for its size (centre 1e+07 away, size 3.46)");
  EXPECT_DOUBLE_EQ(check.centreDistance, 1e7);
  EXPECT_EQ(check.outsidePoints, 0u);

  const double size = std::sqrt(12.0);
  EXPECT_EQ(CheckCage(Scaled(Cube(), 1.0, {0, 1990 * size, 0}), nullptr, 1).findings, Findings{});
  EXPECT_TRUE(CheckCage(Scaled(Cube(), 1.0, {0, 0, -2010 * size}), nullptr, 1).farFromOrigin);
  EXPECT_TRUE(CheckCage(Scaled(Cube(), 1e-3, {0, 2010 * size * 1e-3, 0}), nullptr, 1).farFromOrigin);
  EXPECT_FALSE(CheckCage(Scaled(Cube(), 1e3, {1990 * size * 1e3, 0, 0}), nullptr, 1).farFromOrigin);
}

TEST(CageCheckFindings, BadInputIsReportedNotFatal) {
  const std::vector<Vec3> target = {{0, 0, 0}, {NAN, 0, 0}, {INFINITY, 0, 0}, {1e308, -1e308, 0}};
  host::Mesh broken = Cube();
  broken.points.push_back({NAN, 0, 0});
  broken.polygons.push_back({0, 1, 99});
  broken.polygons.push_back({-1, 0, 1});
  broken.polygons.push_back({});
  CageCheck check = CheckCage(broken, &target, 3);
  EXPECT_EQ(check.nonFinitePoints, 1u);
  EXPECT_EQ(check.likelyCause, "the cage has points that are not finite");
  EXPECT_EQ(check.outside, (std::vector<uint8_t>{0, 1, 1, 1}));

  check = CheckCage(host::Mesh{}, &target, 1);
  EXPECT_EQ(check.findings.front(), "cage: no faces with 3 or more corners");
  EXPECT_EQ(check.outsidePoints, 4u);
  EXPECT_EQ(check.likelyCause, "the cage has no faces");
}

TEST(CageInside, BothSidesOfTheSurface) {
  const CageInterior cube(Cube());
  const double in = 1 - 1e-9, out = 1 + 1e-9;
  for (const Vec3& p : {Vec3{in, 0, 0}, Vec3{0, -in, 0}, Vec3{in, in, in}, Vec3{1, 0.3, 0.2}, Vec3{1, 1, 1},
                        Vec3{1, 0, 0}, Vec3{0, 0, 0}, Vec3{0.5, 0.5, 0.5}})
    EXPECT_TRUE(cube.inside(p)) << p.x << " " << p.y << " " << p.z;
  for (const Vec3& p : {Vec3{out, 0, 0}, Vec3{0, -out, 0}, Vec3{out, out, out}, Vec3{5, 5, 5}, Vec3{-1, 1, out}})
    EXPECT_FALSE(cube.inside(p)) << p.x << " " << p.y << " " << p.z;
  // On a face, an edge or a corner: on the surface, whichever way the rays go.
  for (const Vec3& p : {Vec3{1, 0.3, 0.2}, Vec3{-0.7, -1, 0.1}, Vec3{0.2, 0.6, 1}, Vec3{1, 1, 0.4}, Vec3{-1, -1, -1}})
    EXPECT_TRUE(cube.winding(p).onSurface) << p.x << " " << p.y << " " << p.z;

  // A star prism: its notches are outside, though within its bounding box.
  const test_support::CageCase star = test_support::StarCase();
  const CageInterior prism(star.mesh);
  for (const Vec3& p : star.inside) EXPECT_TRUE(prism.inside(p));
  for (int i = 0; i < 5; ++i) {
    const double a = 3.141592653589793 * (2 * i + 1) / 5;  // between two tips
    EXPECT_FALSE(prism.inside({1.5 * std::cos(a), 0.1, -1.5 * std::sin(a)})) << i;
    EXPECT_TRUE(prism.inside({0.7 * std::cos(a), 0.1, -0.7 * std::sin(a)})) << i;
  }
}

// Points whose rays run exactly through a corner or along an edge of the cube:
// every such ray must be cast again along another direction.
TEST(CageInside, RaysThroughCornersAndEdges) {
  const CageInterior cube(Cube());
  std::vector<Vec3> aims;
  for (double x : {-1.0, 1.0})
    for (double y : {-1.0, 1.0})
      for (double z : {-1.0, 1.0}) aims.push_back({x, y, z});
  const size_t corners = aims.size();
  for (size_t i = 0; i < corners; ++i)
    for (size_t j = i + 1; j < corners; ++j) {
      const Vec3 &a = aims[i], &b = aims[j];
      if ((a.x != b.x) + (a.y != b.y) + (a.z != b.z) == 1) aims.push_back({(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2});
    }
  for (const Vec3& raw : CageInterior::kRayDirections) {
    const double length = std::sqrt(raw.x * raw.x + raw.y * raw.y + raw.z * raw.z);
    const Vec3 d{raw.x / length, raw.y / length, raw.z / length};
    for (const Vec3& aim : aims)
      for (double t : {-3.0, -0.5, 0.5, 3.0}) {
        const Vec3 p{aim.x - t * d.x, aim.y - t * d.y, aim.z - t * d.z};
        const bool expected = std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)}) < 1;
        EXPECT_EQ(cube.inside(p), expected) << aim.x << " " << aim.y << " " << aim.z << " t " << t;
        EXPECT_NEAR(cube.winding(p).number, expected ? 1.0 : 0.0, 1e-9);
      }
  }
}

// Faces with points of their own, at the same places: open by point numbers,
// closed as a surface.
TEST(CageInside, PointsAtOnePlaceCloseTheSurface) {
  const host::Mesh cube = Cube();
  host::Mesh split;
  for (const std::vector<int32_t>& face : cube.polygons) {
    std::vector<int32_t> own;
    for (int32_t k : face) {
      own.push_back(static_cast<int32_t>(split.points.size()));
      split.points.push_back(cube.points[k]);
    }
    split.polygons.push_back(own);
  }
  EXPECT_EQ(CheckCage(split, nullptr, 1).boundaryEdges, 24u);
  const CageInterior interior(split);
  EXPECT_TRUE(interior.closed());
  EXPECT_TRUE(interior.inside({0.2, 0.3, -0.9}));
  EXPECT_FALSE(interior.inside({0.2, 1.3, -0.9}));
}

TEST(CageInside, OpenCageDegradesGracefully) {
  host::Mesh open = Cube();
  open.polygons.erase(open.polygons.begin() + 1);  // the top, y = 1
  const CageInterior interior(open);
  EXPECT_FALSE(interior.closed());
  EXPECT_NEAR(interior.winding({0, 0, 0}).number, 5.0 / 6.0, 1e-12);
  for (const Vec3& p : {Vec3{0, 0, 0}, Vec3{0.5, -0.5, 0.5}, Vec3{0, 0.5, 0}}) EXPECT_TRUE(interior.inside(p));
  for (const Vec3& p : {Vec3{0, 1.5, 0}, Vec3{0, 3, 0}, Vec3{2, 0, 0}, Vec3{0, -1.5, 0}}) EXPECT_FALSE(interior.inside(p));

  // On the hole's cap every ray is ambiguous: the sum of solid angles answers.
  EXPECT_NEAR(interior.winding({0.3, 1, 0.2}).number, 0.5, 1e-12);

  // A tube (top and bottom open): two holes, two flat caps, which together can
  // reach 1/2, so their sums count.
  host::Mesh tube = open;
  tube.polygons.erase(tube.polygons.begin());
  const CageInterior tubeInterior(tube);
  EXPECT_NEAR(tubeInterior.winding({0, 0, 0}).number, 4.0 / 6.0, 1e-12);
  EXPECT_TRUE(tubeInterior.inside({0, 0.7, 0}));    // 0.54
  EXPECT_FALSE(tubeInterior.inside({0, 0.95, 0}));  // 0.46: in the mouth
}

// The ray count (with the caps' closed form) against the sum of every
// triangle's solid angle, on closed cages, open ones and faulty ones; and the
// inside test, which skips the caps' sums where it can, against that sum.
TEST(CageInside, RayCountAgreesWithTheSumOfSolidAngles) {
  std::mt19937 random(5);
  std::vector<host::Mesh> cages = {test_support::SubdividedCube(4), test_support::LCase().mesh,
                                   Flipped(Cube(), 3), test_support::NGonCase().mesh};
  host::Mesh open = test_support::SubdividedCube(3);
  open.polygons.resize(open.polygons.size() - 5);  // a hole that is not flat
  cages.push_back(open);
  host::Mesh corner = Cube();
  corner.polygons.erase(corner.polygons.begin() + 1, corner.polygons.begin() + 3);  // one hole over two sides
  cages.push_back(corner);
  for (int k = 0; k < 6; ++k) {
    Vec3 centre;
    host::Mesh cage = test_support::RandomCage(random, &centre, k % 2 == 1);
    if (k >= 4) cage.polygons.erase(cage.polygons.begin());
    cages.push_back(Scaled(cage, 1.0, {-centre.x, -centre.y, -centre.z}));
  }
  for (size_t c = 0; c < cages.size(); ++c) {
    const CageInterior interior(cages[c]);
    for (const Vec3& p : RandomPoints(500, c == 5 ? 1.2 : 2.5, static_cast<unsigned>(c))) {
      const Winding w = interior.winding(p);
      const double exact = interior.exactWinding(p);
      ASSERT_FALSE(w.onSurface);
      ASSERT_NEAR(w.number, exact, 1e-9) << "cage " << c << " at " << p.x << " " << p.y << " " << p.z;
      if (std::fabs(std::fabs(exact) - 0.5) > 1e-9) {
        ASSERT_EQ(interior.inside(p), std::fabs(exact) >= 0.5) << c;
      }
    }
  }
}

// The far groups' expansion stays within its stated error of the exact sum;
// its two terms leave far less than that (without the moments' term the
// error is 3 to 15 times larger).
TEST(CageInside, SolidAngleEstimateKeepsItsBound) {
  std::mt19937 random(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<TreeTriangle> triangles;
  for (int i = 0; i < 400; ++i) {
    const Vec3 c{u(random), u(random), u(random)};
    auto near = [&] { return Vec3{c.x + 0.1 * u(random), c.y + 0.1 * u(random), c.z + 0.1 * u(random)}; };
    triangles.push_back({near(), near(), near(), false});
  }
  const SolidAngleTree tree(triangles);
  double coarseErrors = 0.0;
  for (const Vec3& p : RandomPoints(200, 3.0, 4)) {
    const double exact = tree.exact(p);
    for (double opening : {0.6, 0.3, 0.1}) {
      const SolidAngleTree::Estimate estimate = tree.estimate(p, opening);
      ASSERT_LE(std::fabs(estimate.value - exact), (opening < 0.2 ? 0.2 : 1.0) * estimate.error) << opening;
      if (opening > 0.5) coarseErrors += std::fabs(estimate.value - exact);
    }
    EXPECT_NEAR(tree.estimate(p, 0.0).value, exact, 1e-9);
  }
  EXPECT_LT(coarseErrors / 200, 1e-4);  // 5e-5; 2e-4 when the moments are not carried up the tree
}

// Faces with points of their own, each shrunk a little: every face is a hole.
TEST(CageInside, SoupOfFacesIsDecidedLikeTheSum) {
  const host::Mesh cube = test_support::SubdividedCube(5);
  host::Mesh soup;
  for (const std::vector<int32_t>& face : cube.polygons) {
    Vec3 middle{0, 0, 0};
    for (int32_t k : face) middle = {middle.x + cube.points[k].x / 4, middle.y + cube.points[k].y / 4, middle.z + cube.points[k].z / 4};
    std::vector<int32_t> own;
    for (int32_t k : face) {
      own.push_back(static_cast<int32_t>(soup.points.size()));
      const Vec3& p = cube.points[k];
      soup.points.push_back({middle.x + 0.98 * (p.x - middle.x), middle.y + 0.98 * (p.y - middle.y),
                             middle.z + 0.98 * (p.z - middle.z)});
    }
    soup.polygons.push_back(own);
  }
  const CageInterior interior(soup);
  EXPECT_EQ(interior.holeCount(), soup.polygons.size());
  for (const Vec3& p : RandomPoints(2000, 1.5, 8)) {
    const double exact = interior.exactWinding(p);
    if (std::fabs(std::fabs(exact) - 0.5) > 1e-9) {
      ASSERT_EQ(interior.inside(p), std::fabs(exact) >= 0.5) << p.x << " " << p.y << " " << p.z;
    }
  }
}

TEST(CageInside, SameResultOnAnyThreadCount) {
  host::Mesh open = test_support::SubdividedCube(6);
  open.polygons.resize(open.polygons.size() - 7);
  const std::vector<Vec3> target = RandomPoints(20000, 1.3, 9);
  for (const host::Mesh& cage : {test_support::SubdividedCube(6), open}) {
    const CageCheck one = CheckCage(cage, &target, 1), three = CheckCage(cage, &target, 3);
    EXPECT_EQ(one.outside, three.outside);
    EXPECT_EQ(one.findings, three.findings);
    EXPECT_GT(one.outsidePoints, 0u);
    EXPECT_LT(one.outsidePoints, target.size());
  }
}

}  // namespace
}  // namespace checks
