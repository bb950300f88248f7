// The hierarchy and the accelerated nearest-hit search, held to the
// exhaustive reference bit for bit: on the fixture and example cages, on
// random closed cages, for rays through vertices, along edges and faces,
// from inside, on and outside the cage, with the host's ray test and with a
// looser one that also hits zero-area triangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "geometry/cage_bvh.h"
#include "geometry/direction_grids.h"
#include "geometry/ray_casting.h"
#include "geometry/sample_directions.h"
#include "host_interface/memory.h"
#include "support/cages.h"
#include "support/ray_search_support.h"

namespace {

using namespace ostrand;
using test_support::OwnedTriangulation;
using test_support::AcceleratedCage;
using test_support::SameHit;

Vec3 Sub(const Vec3& a, const Vec3& b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Along(const Vec3& a, const Vec3& b, double t) {
  return Vec3{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)};
}
double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// A ray test unlike the host's, still reporting only points of the ray's
// line: barycentrics may be 1e-9 outside the triangle, hits behind the
// origin come with negative distances (in direction lengths), and a
// zero-area triangle is hit at its first corner when the line passes within
// 1e-10 of it. A line within 1e-7 radians of the triangle's plane counts as
// parallel: closer to it, this way of solving for the hit (Moller-Trumbore)
// divides rounding noise by rounding noise and may report any point of the
// triangle, on the line or not.
int32_t LooseRayTest(const Vec3* o, const Vec3* d, const Vec3* c0, const Vec3* c1, const Vec3* c2, double* distance,
                     double* b, int32_t) {
  const Vec3 e1 = Sub(*c1, *c0), e2 = Sub(*c2, *c0), p = Cross(*d, e2);
  const double det = Dot(e1, p);
  if (Dot(Cross(e1, e2), Cross(e1, e2)) == 0) {
    const double t = Dot(Sub(*c0, *o), *d) / Dot(*d, *d);
    const Vec3 off = Sub(Vec3{o->x + t * d->x, o->y + t * d->y, o->z + t * d->z}, *c0);
    if (!(Dot(off, off) <= 1e-20)) return 0;
    *distance = t, b[0] = 1, b[1] = 0, b[2] = 0;
    return 1;
  }
  if (!(std::fabs(det) > 1e-7 * std::sqrt(Dot(*d, *d) * Dot(Cross(e1, e2), Cross(e1, e2))))) return 0;
  const Vec3 s = Sub(*o, *c0), q = Cross(s, e1);
  const double u = Dot(s, p) / det, v = Dot(*d, q) / det;
  if (!(u >= -1e-9 && v >= -1e-9 && u + v <= 1 + 1e-9)) return 0;
  *distance = Dot(e2, q) / det, b[0] = 1 - u - v, b[1] = u, b[2] = v;
  return 1;
}

// Directions of length 1e6: the module's 32 samples, the axes (zero
// components), and towards each target point (through vertices, along edges
// and across faces when the origin lies on the cage).
std::vector<Vec3> DirectionsFrom(const Vec3& origin, const std::vector<Vec3>& aims) {
  std::vector<Vec3> directions;
  Vec3* samples = BuildSampleDirections(32);
  directions.assign(samples, samples + 32);
  FreeArray(samples);
  for (Vec3 axis : {Vec3{1e6, 0, 0}, Vec3{0, -1e6, 0}, Vec3{0, 0, 1e6}, Vec3{1e6, 1e6, 0}}) directions.push_back(axis);
  for (const Vec3& aim : aims) {
    const Vec3 d = Sub(aim, origin);
    const double length = std::sqrt(Dot(d, d));
    if (length > 0) directions.push_back(Vec3{d.x * 1e6 / length, d.y * 1e6 / length, d.z * 1e6 / length});
  }
  return directions;
}

// Origins inside (given), on the cage (vertices, edge midpoints, triangle
// centres) and far outside; aims at vertices and edge midpoints.
struct Rays {
  std::vector<Vec3> origins;
  std::vector<Vec3> aims;
};

Rays RaysFor(const host::Mesh& mesh, const OwnedTriangulation& triangles, const std::vector<Vec3>& inside,
             const Vec3& centre) {
  Rays rays;
  rays.origins = inside;
  const size_t step = std::max<size_t>(1, mesh.points.size() / 6);
  for (size_t k = 0; k < mesh.points.size(); k += step) {
    rays.origins.push_back(mesh.points[k]);
    rays.aims.push_back(mesh.points[k]);
  }
  for (size_t j = 0; j < mesh.polygons.size(); j += std::max<size_t>(1, mesh.polygons.size() / 4)) {
    const std::vector<int32_t>& polygon = mesh.polygons[j];
    const Vec3 middle = Along(mesh.points[polygon[0]], mesh.points[polygon[1]], 0.5);
    rays.origins.push_back(middle);
    rays.aims.push_back(middle);
    if (!triangles.triangles[j].empty()) {
      const auto& t = triangles.triangles[j][0];
      const Vec3 edge = Along(mesh.points[t[0]], mesh.points[t[1]], 0.5);
      rays.origins.push_back(Along(edge, mesh.points[t[2]], 1.0 / 3.0));
    }
  }
  const double far = 50 * test_support::BoundingDiagonal(mesh);
  // Outside, within the grids' reach, and far beyond it.
  rays.origins.push_back(Vec3{centre.x + far / 40, centre.y - far / 100, centre.z});
  rays.origins.push_back(Vec3{centre.x + far, centre.y - 0.3 * far, centre.z + 0.1 * far});
  rays.origins.push_back(Vec3{centre.x, centre.y + far, centre.z});
  return rays;
}

// What a comparison saw: rays cast, rays that hit, triangles the ray test
// hit (each of which the candidates had to hold), and rays a grid answered.
struct Tally {
  long rays = 0, found = 0, reportedHits = 0, onGrids = 0;
};

// Looking up all directions at once finds what looking them up one by one
// finds, bit for bit: from the origin, from its mirror far off, and from
// origins that cannot be looked up.
void ExpectSameCells(const DirectionGrids& grids, const Vec3& origin, const std::string& name) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const Vec3& from : {origin, Vec3{-3 * origin.x, 2 * origin.y, 40 * origin.z}, Vec3{origin.x, nan, 0.0},
                           Vec3{1e300, 0.0, 0.0}}) {
    std::vector<GridLookup> together(grids.count + 1), alone(grids.count + 1);
    for (int32_t first : {0, 1}) {
      const int32_t count = grids.count - first;
      bool answers[200];
      ASSERT_LE(count, 200);
      FindGridCells(grids, first, count, from, together.data(), answers);
      for (int32_t k = 0; k < count; ++k) {
        const bool one = FindGridCell(grids, first + k, from, &alone[k]);
        ASSERT_EQ(answers[k], one) << name << ", direction " << first + k;
        if (!one) continue;
        ASSERT_EQ(together[k].cell, alone[k].cell) << name << ", direction " << first + k;
        ASSERT_EQ(together[k].entries, alone[k].entries);
        ASSERT_EQ(std::memcmp(&together[k].behind, &alone[k].behind, sizeof(double)), 0);
      }
    }
  }
}

// Casts every ray with the searches through the hierarchy and on grids
// across each origin's directions, and requires the reference's bits; also
// that every triangle the ray test hits was among the candidates, and among
// those its grid cell lists whenever the grid answers, and that its shadow
// was not found too far from the origin's to be hit.
void ExpectSameSearch(const host::Mesh& mesh, const Rays& rays, useful_RayIntersectTriangle_fn rayTest, Tally* tally,
                      const std::string& name, size_t gridEvery = 2) {
  OwnedTriangulation triangulation(mesh);
  const RayCastCage cage{&triangulation.cage, mesh.points.data(), static_cast<uint32_t>(mesh.points.size()), rayTest,
                         nullptr};
  AcceleratedCage accelerated(cage);
  ASSERT_TRUE(accelerated.built()) << name;
  for (size_t o = 0; o < rays.origins.size(); ++o) {
    const Vec3& origin = rays.origins[o];
    const std::vector<Vec3> directions = DirectionsFrom(origin, rays.aims);
    // Grids for every other origin or fewer (every kind of origin comes in
    // pairs or more): building them for each origin's own directions is slow.
    const bool grids =
        o % gridEvery == 0 && accelerated.bvh().unboundedCount == 0 && accelerated.buildGrids(directions);
    if (grids) ExpectSameCells(accelerated.grids(), origin, name);
    for (int32_t s = 0; s < static_cast<int32_t>(directions.size()); ++s) {
      const Vec3& direction = directions[s];
      const RayHit reference = FindNearestHitExhaustive(cage, origin, direction);
      ASSERT_TRUE(SameHit(accelerated.find(origin, direction), reference))
          << name << " from (" << origin.x << ", " << origin.y << ", " << origin.z << ") along (" << direction.x
          << ", " << direction.y << ", " << direction.z << ")";
      // Two boxes at a time as well as the widest the processor offers.
      ASSERT_TRUE(SameHit(accelerated.findIn(BoxLanes::kTwo, origin, direction), reference)) << name << ", two boxes";
      if (grids) {
        ASSERT_TRUE(SameHit(accelerated.findOnGrid(origin, direction, s), reference)) << name << " on grids";
      }
      GridLookup listed{};
      const bool onGrid = grids && GridCandidates(accelerated.grids(), s, origin, &listed);
      tally->onGrids += onGrid;
      ASSERT_TRUE(SameHit(accelerated.findAlongLine(origin, direction), reference)) << name;
      ++tally->rays;
      tally->found += reference.found;
      const CandidateScratch& candidates = accelerated.candidates();
      int32_t id = 0;
      for (const auto& polygon : triangulation.triangles)
        for (const auto& t : polygon) {
          double distance = 0, b[3] = {0, 0, 0};
          if (rayTest(&origin, &direction, &mesh.points[t[0]], &mesh.points[t[1]], &mesh.points[t[2]], &distance, b,
                      0) != 0) {
            ++tally->reportedHits;
            ASSERT_TRUE(std::binary_search(candidates.ids, candidates.ids + candidates.count, id))
                << name << ": triangle " << id << " was hit but left out";
            ASSERT_TRUE(!onGrid || std::any_of(listed.entries, listed.entries + listed.count,
                                               [id](const GridEntry& e) { return e.triangle == id; }))
                << name << ": triangle " << id << " was hit but its grid cell left it out";
            ASSERT_TRUE(!onGrid || !PassesWide(listed, t.data()))
                << name << ": triangle " << id << " was hit but its shadow was found too far";
          }
          ++id;
        }
    }
  }
}

TEST(AcceleratedSearch, AgreesOnTheFixtureAndExampleCages) {
  std::vector<test_support::CageCase> cases = test_support::AllCageCases();
  cases.push_back({"subdivided cube", test_support::SubdividedCube(4),
                   test_support::PointsInPrism({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}, {0, 0}, 1.0, 3)});
  for (const char* file : {"cage", "cage_bend", "cage_squash", "cage_twist"}) {
    const host::Mesh mesh = host::ReadObj(std::string(OSTRAND_SOURCE_DIR) + "/examples/" + file + ".obj");
    cases.push_back({file, mesh, {Vec3{0.1, 0.2, 0.05}, Vec3{-0.3, 0.7, 0.2}, Vec3{0.2, -0.9, -0.1}}});
  }
  for (useful_RayIntersectTriangle_fn rayTest : {&host::RayIntersectTriangle, &LooseRayTest}) {
    Tally tally;
    for (const test_support::CageCase& c : cases) {
      OwnedTriangulation triangulation(c.mesh);
      ExpectSameSearch(c.mesh, RaysFor(c.mesh, triangulation, c.inside, Vec3{0, 0, 0}), rayTest, &tally, c.name);
    }
    EXPECT_GT(tally.rays, 10000);
    EXPECT_GT(tally.found, tally.rays / 2);
    EXPECT_GT(tally.reportedHits, tally.found);
    EXPECT_GT(tally.onGrids, tally.rays * 3 / 8);
  }
}

// A small cage far from the origin: the margins and the grids' allowance
// grow with the coordinates, here to a tenth of a triangle.
TEST(AcceleratedSearch, AgreesOnACageFarFromTheOrigin) {
  const Vec3 offset{30000.0, -20000.0, 5000.0};
  host::Mesh mesh = test_support::SubdividedCube(4);
  for (Vec3& p : mesh.points) p = Vec3{p.x + offset.x, p.y + offset.y, p.z + offset.z};
  std::vector<Vec3> inside = test_support::PointsInPrism({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}, {0, 0}, 1.0, 3);
  for (Vec3& p : inside) p = Vec3{p.x + offset.x, p.y + offset.y, p.z + offset.z};
  OwnedTriangulation triangulation(mesh);
  for (useful_RayIntersectTriangle_fn rayTest : {&host::RayIntersectTriangle, &LooseRayTest}) {
    Tally tally;
    ExpectSameSearch(mesh, RaysFor(mesh, triangulation, inside, offset), rayTest, &tally, "far cube");
    if (HasFatalFailure()) return;
    EXPECT_GT(tally.found, tally.rays / 2);
    EXPECT_GT(tally.onGrids, tally.rays * 3 / 8);
  }
}

TEST(AcceleratedSearch, AgreesOnTwoHundredRandomCages) {
  std::mt19937 random(20240611);
  Tally tally;
  for (int k = 0; k < 200; ++k) {
    Vec3 centre{};
    const host::Mesh mesh = test_support::RandomCage(random, &centre, k % 4 == 3);
    OwnedTriangulation triangulation(mesh);
    const std::vector<Vec3> inside = {centre, Vec3{centre.x + 0.05, centre.y - 0.03, centre.z + 0.02}};
    ExpectSameSearch(mesh, RaysFor(mesh, triangulation, inside, centre),
                     k % 2 == 0 ? &host::RayIntersectTriangle : &LooseRayTest, &tally,
                     "random cage " + std::to_string(k));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(tally.found, tally.rays / 2);
  EXPECT_GT(tally.onGrids, tally.rays * 3 / 8);
}

// Prisms whose caps are fans of long thin triangles, which the hierarchy
// cuts into pieces: rays from inside, from the caps, from a hair above and
// below them and from their rims, through rim vertices and along the fans'
// edges. From the cap's plane those rays graze the cap, running through its
// triangles' edges and corners.
TEST(AcceleratedSearch, AgreesOnFanCappedPrismsAlongAndAcrossTheirCaps) {
  for (int sides : {40, 250}) {
    const host::Mesh mesh = test_support::Prism(test_support::RegularPolygon(sides, 1.0), 0.75);
    OwnedTriangulation triangulation(mesh);
    Rays rays = RaysFor(mesh, triangulation, {Vec3{0.1, 0.2, -0.3}, Vec3{-0.5, -0.6, 0.2}}, Vec3{0, 0, 0});
    const std::vector<std::array<int32_t, 3>>& cap = triangulation.triangles[1];
    for (size_t t = 0; t < cap.size(); t += cap.size() / 6)
      for (int k = 0; k < 3; ++k) {
        rays.aims.push_back(mesh.points[cap[t][k]]);
        rays.aims.push_back(Along(mesh.points[cap[t][k]], mesh.points[cap[t][(k + 1) % 3]], 0.5));
      }
    for (double lift : {0.0, 1e-12, -1e-12, 1e-7}) {
      rays.origins.push_back(Vec3{0.3, 0.75 + lift, 0.1});
      rays.origins.push_back(Vec3{-0.9, 0.75 + lift, 0.05});
    }
    for (useful_RayIntersectTriangle_fn rayTest : {&host::RayIntersectTriangle, &LooseRayTest}) {
      Tally tally;
      ExpectSameSearch(mesh, rays, rayTest, &tally, std::to_string(sides) + "-gon prism", sides == 250 ? 5 : 2);
      if (HasFatalFailure()) return;
      EXPECT_GT(tally.found, tally.rays / 2);
      // Along a cap, its fans' shadows pile up beyond what a grid may hold:
      // those directions go without.
      EXPECT_GT(tally.onGrids, tally.rays / 20);
    }
  }
}

// A cube around zero-area triangles (a repeated corner, three points in a
// line), triangles with a corner outside the positions, and one with an
// infinite corner.
TEST(AcceleratedSearch, ZeroAreaUntestableAndUnboundedTrianglesAreOfferedAsTheReferenceOffersThem) {
  host::Mesh mesh = test_support::Cube(1.0);
  const auto q = static_cast<int32_t>(mesh.points.size());
  for (Vec3 p : {Vec3{0.5, 0.25, 0.0}, Vec3{0.5, 0.25, 0.0}, Vec3{-0.5, -0.5, 0.5}, Vec3{0.0, 0.0, 0.5},
                 Vec3{0.5, 0.5, 0.5}, Vec3{std::numeric_limits<double>::infinity(), 0.0, 0.0}})
    mesh.points.push_back(p);
  OwnedTriangulation base(mesh);
  auto triangles = base.triangles;
  triangles.push_back({{q, q + 1, 0}, {q + 2, q + 3, q + 4}, {0, 1, 99}, {-1, 2, 3}, {q + 5, 1, 2}});
  OwnedTriangulation triangulation(triangles);
  const RayCastCage cage{&triangulation.cage, mesh.points.data(), static_cast<uint32_t>(mesh.points.size()),
                         &LooseRayTest, nullptr};
  AcceleratedCage accelerated(cage);
  ASSERT_TRUE(accelerated.built());
  EXPECT_EQ(accelerated.bvh().triangleCount, 12 + 3);
  ASSERT_EQ(accelerated.bvh().unboundedCount, 1);
  EXPECT_EQ(accelerated.bvh().unbounded[0], 14);

  int degenerateHits = 0;
  for (const Vec3& origin : {Vec3{-0.2, 0.1, -0.3}, Vec3{0.9, -0.9, 0.9}, Vec3{0.5, 0.25, -0.5}})
    for (const Vec3& direction : DirectionsFrom(origin, {mesh.points[q], mesh.points[q + 2], mesh.points[6]})) {
      const RayHit reference = FindNearestHitExhaustive(cage, origin, direction);
      ASSERT_TRUE(SameHit(accelerated.find(origin, direction), reference));
      ASSERT_TRUE(SameHit(accelerated.findAlongLine(origin, direction), reference));
      degenerateHits += reference.polygon == 6;
    }
  EXPECT_GE(degenerateHits, 3);  // the loose test does hit them, so they must be offered
}

}  // namespace
