// The whole calculation with the accelerated and the exhaustive ray search:
// the same rows bit for bit, on any thread count and when memory runs out,
// with far fewer ray tests; and the switch between the two.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calculation_with_either_search.h"
#include "geometry/ray_search.h"
#include "host_interface/memory.h"
#include "operations/calculation_driver.h"
#include "operations/threads.h"
#include "support/coordinate_fixture.h"
#include "support/environment.h"

namespace {

using namespace ostrand;
using test_support::AllZero;
using test_support::CalculationWithEitherSearch;
using test_support::ComputedRows;
using test_support::PointsInCube;
using test_support::Rows;
using test_support::SameBits;

// 432 triangles: the hierarchy leaves all but a few per ray untested, and
// the rows come out the same bits; the grids across the directions leave out
// most of the rest.
TEST_F(CalculationWithEitherSearch, TheAcceleratedSearchMakesFarFewerRayTestsForTheSameRows) {
  EffectInstance* instance = prepare(test_support::SubdividedCube(6), {PointsInCube(20)}, 16);
  const RaySearch searches[] = {RaySearch::kExhaustive, RaySearch::kNearestFirst, RaySearch::kWholeLine,
                                RaySearch::kDirectionGrids};
  long tests[4] = {0, 0, 0, 0};
  std::vector<double> rows[4];
  for (int s = 0; s < 4; ++s) tests[s] = rayTestsWith(instance, searches[s], &rows[s]);
  EXPECT_EQ(tests[0], 20 * 16 * 432);
  EXPECT_LT(tests[1] * 20, tests[0]);
  EXPECT_GE(tests[1], 20 * 16 * 2);  // a line through a closed cage meets it at least twice
  for (int s = 1; s < 4; ++s) EXPECT_TRUE(SameBits(rows[0], rows[s])) << s;
  EXPECT_LT(tests[1], tests[2]);  // nearest first stops before the line's far side
  EXPECT_LT(tests[3] * 5, tests[2] * 4);
  EXPECT_EQ(ComputedRows(instance, target(instance)), 20);
}

// The accelerated search goes along the whole line on a cage of short
// triangles, nearest first on a very large one or one with long thin
// triangles, and on grids across its directions for targets of at least four
// points for each triangle of the cage: the ray tests it makes tell which.
TEST_F(CalculationWithEitherSearch, TheAcceleratedSearchTakesTheWayThatIsFasterForCageAndTarget) {
  struct Case {
    host::Mesh cage;
    int points;
    RaySearch taken;
  };
  const Case cases[] = {
      {test_support::SubdividedCube(6), 8, RaySearch::kWholeLine},      // 432 triangles
      {test_support::SubdividedCube(30), 8, RaySearch::kNearestFirst},  // 10,800
      {test_support::Prism(test_support::RegularPolygon(250, 1.0), 0.75), 8, RaySearch::kNearestFirst},  // fans
      {test_support::SubdividedCube(2), 200, RaySearch::kDirectionGrids}};  // 48 triangles, 200 points
  for (const Case& c : cases) {
    EffectInstance* instance = prepare(c.cage, {PointsInCube(c.points)}, 8);
    const long accelerated = rayTestsWith(instance, RaySearch::kAccelerated);
    for (RaySearch other : {RaySearch::kNearestFirst, RaySearch::kWholeLine, RaySearch::kDirectionGrids}) {
      const long tests = rayTestsWith(instance, other);
      EXPECT_EQ(tests == accelerated, other == c.taken) << c.cage.polygons.size() << " polygons";
    }
  }
}

// Rows on the example and fixture cages, from inside, on and outside the
// cage, for both searches and 1 or 3 threads, with the cage read once or at
// every hit: all the same bits.
TEST_F(CalculationWithEitherSearch, RowsAreTheSameBitsForEitherSearchAndAnyThreadCount) {
  std::vector<std::pair<host::Mesh, std::vector<Vec3>>> cases;
  const std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
  const std::vector<Vec3> bound = host::ReadObj(examples + "target.obj").points;
  for (const char* file : {"cage", "cage_twist"})
    cases.push_back({host::ReadObj(examples + file + ".obj"), std::vector<Vec3>(bound.begin(), bound.begin() + 300)});
  for (const test_support::CageCase& c : test_support::AllCageCases()) {
    std::vector<Vec3> points = c.inside;
    points.insert(points.end(), c.mesh.points.begin(), c.mesh.points.end());
    points.push_back({9.0, -4.0, 2.5});
    cases.push_back({c.mesh, points});
  }
  for (const auto& [cage, points] : cases) {
    EffectInstance* instance = prepare(cage, {points}, 24, 0.001);
    std::vector<double> reference;
    for (auto [search, threads, hostReads] : {std::tuple{RaySearch::kExhaustive, 1, true},
                                              {RaySearch::kExhaustive, 1, false},
                                              {RaySearch::kAccelerated, 1, false},
                                              {RaySearch::kAccelerated, 3, true},
                                              {RaySearch::kAccelerated, 3, false},
                                              {RaySearch::kNearestFirst, 2, false},
                                              {RaySearch::kWholeLine, 2, true},
                                              {RaySearch::kDirectionGrids, 1, false},
                                              {RaySearch::kDirectionGrids, 3, true},
                                              {RaySearch::kDirectionGrids, 3, false},
                                              {RaySearch::kExhaustive, 3, false}}) {
      test_support::ScopedRaySearch chosen(search);
      std::optional<test_support::ScopedHostCageReads> perHit;
      if (hostReads) perHit.emplace();
      SetThreadCount(threads);
      reprepare(instance);
      ASSERT_TRUE(CalculateCoordinates(instance));
      if (reference.empty())
        reference = Rows(instance, target(instance));
      else
        EXPECT_TRUE(SameBits(Rows(instance, target(instance)), reference))
            << threads << " threads" << (hostReads ? ", the host read at every hit" : "");
    }
    EXPECT_FALSE(AllZero(reference));
  }
  SetThreadCount(1);
}

// OSTRAND_RAY_SEARCH, read at each calculation, overrides the module-wide
// choice; other values leave it alone.
TEST_F(CalculationWithEitherSearch, TheEnvironmentChoosesTheSearchOverTheModuleSetting) {
  EffectInstance* instance = prepare(test_support::SubdividedCube(3), {PointsInCube(3)}, 4);
  const long exhaustive = 3 * 4 * 108;
  for (auto [variable, module, expectExhaustive] : {std::tuple{"exhaustive", RaySearch::kAccelerated, true},
                                                    {"accelerated", RaySearch::kExhaustive, false},
                                                    {"nearest-first", RaySearch::kExhaustive, false},
                                                    {"fast", RaySearch::kExhaustive, true},
                                                    {"", RaySearch::kAccelerated, false}}) {
    test_support::ScopedRaySearch chosen(module);
    test_support::SetEnvironment("OSTRAND_RAY_SEARCH", variable);
    reprepare(instance);
    host().resetCalls();
    ASSERT_TRUE(CalculateCoordinates(instance));
    test_support::SetEnvironment("OSTRAND_RAY_SEARCH", nullptr);
    EXPECT_EQ(host().calls("useful_RayIntersectTriangle") == exhaustive, expectExhaustive) << variable;
  }
}

// Each allocation of a calculation failing in turn, with and without grids:
// the grids fall back to the hierarchy, the hierarchy and the candidate
// lists to the exhaustive search, all with the same rows; the polygon
// scratch and the kept weights of a row cost that row, the workers' rows and
// the target's arrays the target (and each says so).
TEST_F(CalculationWithEitherSearch, HierarchyGridsOrCandidatesWithoutMemoryStillGiveTheSameRows) {
  for (RaySearch search : {RaySearch::kAccelerated, RaySearch::kDirectionGrids})
    for (bool hostReads : {false, true}) {
      test_support::ScopedRaySearch chosen(search);
      std::optional<test_support::ScopedHostCageReads> perHit;
      if (hostReads) perHit.emplace();
      // The snapshot's six allocations fall back to the host's reads.
      expectSameRowsWhenEachAllocationFails((search == RaySearch::kDirectionGrids ? 8 : 4) + (hostReads ? 0 : 6));
    }
}

}  // namespace
