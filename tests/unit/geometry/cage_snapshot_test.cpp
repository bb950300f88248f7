// The cage as a calculation reads it: once per target, whatever the number
// of hits, unless the hits are told to read the host.
#include <gtest/gtest.h>

#include <utility>

#include "calculation_with_either_search.h"
#include "operations/calculation_driver.h"
#include "operations/threads.h"
#include "support/coordinate_fixture.h"

namespace {

using namespace ostrand;
using test_support::CalculationWithEitherSearch;
using test_support::PointsInCube;

// The cage is read once per target, on the calling thread, whatever the
// number of hits: every polygon's count and points, every point's position.
TEST_F(CalculationWithEitherSearch, TheCageIsReadOncePerTargetNotAtEveryHit) {
  const host::Mesh cage = test_support::SubdividedCube(3);
  EffectInstance* instance = prepare(cage, {PointsInCube(4), PointsInCube(3)}, 16);
  SetThreadCount(2);
  auto readsOfCalculate = [&] {
    reprepare(instance);
    host().resetCalls();
    EXPECT_TRUE(CalculateCoordinates(instance));
    return std::pair{host().calls("fxMeshPoly"), host().calls("fxMeshPoint")};
  };
  // Besides the cage, each target point's position is read once.
  const long targets = 2, targetPoints = 4 + 3, polygons = static_cast<long>(cage.polygons.size()),
             points = static_cast<long>(cage.points.size());
  const auto once = readsOfCalculate();
  EXPECT_EQ(once.first, targets * 2 * polygons);
  EXPECT_EQ(once.second, targetPoints + targets * points);
  // Every ray from inside hits a quad: its count, its points, and the hit
  // triangle's corners and the quad's points.
  test_support::ScopedHostCageReads perHit;
  const auto everyHit = readsOfCalculate();
  const long hits = targetPoints * 16;
  EXPECT_EQ(everyHit.first, 2 * hits);
  EXPECT_EQ(everyHit.second, targetPoints + (3 + 4) * hits);
  SetThreadCount(1);
}

}  // namespace
