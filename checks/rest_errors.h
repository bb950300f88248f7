// The points whose rest-pose error is above a threshold, and the figures
// told of errors, rounded up so that no point is further off than told.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/bind_statistics.h"

namespace checks {

// The points whose rest-pose error is above threshold (a fraction of the
// cage's size), as target point indices ascending, and the largest of them.
struct ErrorsAbove {
  std::vector<uint32_t> points;
  uint32_t largestAt = 0;
  double largest = 0.0;
};
ErrorsAbove PointsAbove(const driver::BindStatistics& stats, double threshold);

// The value rounded up to three significant digits, so that the printed
// figure is a bound the true one stays within.
double RoundedUp(double value);

}  // namespace checks
