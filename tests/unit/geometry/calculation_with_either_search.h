// The fixture of the suite CalculationWithEitherSearch, whose tests are in
// ray_search_test.cpp (the searches) and cage_snapshot_test.cpp (the cage's
// reads): whole calculations with a chosen ray search.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geometry/ray_search.h"
#include "host_interface/memory.h"
#include "operations/calculation_driver.h"
#include "operations/threads.h"
#include "support/coordinate_fixture.h"

namespace test_support {

class CalculationWithEitherSearch : public test_support::CoordinateTest {
 protected:
  // Exactly one error message, containing `part`.
  void expectOneError(const std::string& part) {
    const std::vector<host::Message> messages = host().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find(part), std::string::npos) << messages[0].text;
  }

  // Calculates with `search`; returns the host ray tests it made, and the
  // rows when asked.
  long rayTestsWith(EffectInstance* instance, ostrand::RaySearch search, std::vector<double>* rows = nullptr) {
    test_support::ScopedRaySearch chosen(search);
    reprepare(instance);
    host().resetCalls();
    EXPECT_TRUE(ostrand::CalculateCoordinates(instance));
    if (rows != nullptr) *rows = Rows(instance, target(instance));
    return host().calls("useful_RayIntersectTriangle");
  }

  // Calculates with each allocation failing in turn; the search that
  // settles which allocations there are is the caller's.
  void expectSameRowsWhenEachAllocationFails(int leastSameRows);
};

inline void CalculationWithEitherSearch::expectSameRowsWhenEachAllocationFails(int leastSameRows) {
  EffectInstance* instance = prepare(test_support::SubdividedCube(2), {PointsInCube(10)}, 8);
  ostrand::SetThreadCount(2);
  ostrand::SetAllocationFailure(-1);
  ASSERT_TRUE(ostrand::CalculateCoordinates(instance));
  const long allocations = ostrand::SetAllocationFailure(-1);
  const std::vector<double> clean = Rows(instance, target(instance));
  const uint32_t points = instance->CagePoints;
  int sameRows = 0;
  for (long n = 1; n < allocations; ++n) {  // 0 is the directions
    reprepare(instance);
    host().clearMessages();
    ostrand::SetAllocationFailure(n);
    const bool complete = ostrand::CalculateCoordinates(instance);
    ostrand::SetAllocationFailure(-1);
    const std::vector<double> rows = Rows(instance, target(instance));
    if (complete) {
      EXPECT_TRUE(SameBits(rows, clean)) << "allocation " << n;
      EXPECT_TRUE(host().messages().empty());
      ++sameRows;
      continue;
    }
    ASSERT_EQ(host().messages().size(), 1u);
    if (host().messages()[0].text.find("1 of the 10 points") == std::string::npos) {
      EXPECT_TRUE(AllZero(rows)) << host().messages()[0].text;
      continue;
    }
    int zeroRows = 0;
    for (uint32_t i = 0; i < 10; ++i) {
      const std::vector<double> r = Row(instance, target(instance), i);
      if (AllZero(r))
        ++zeroRows;
      else
        EXPECT_TRUE(SameBits(r, std::vector<double>(clean.begin() + i * points, clean.begin() + (i + 1) * points)));
    }
    EXPECT_EQ(zeroRows, 1) << "allocation " << n;
  }
  EXPECT_GE(sameRows, leastSameRows);  // at least the hierarchy's own arrays, and the grids'
  ostrand::SetThreadCount(1);
}

}  // namespace test_support
