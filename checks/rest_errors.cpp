#include "checks/rest_errors.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace checks {

ErrorsAbove PointsAbove(const driver::BindStatistics& stats, double threshold) {
  ErrorsAbove above;
  for (size_t i = 0; i < stats.pointErrors.size(); ++i) {
    const double error = stats.pointErrors[i];
    if (!(error > threshold)) continue;  // a NaN belongs to a point without weights, counted apart
    above.points.push_back(static_cast<uint32_t>(i));
    if (error > above.largest) {
      above.largest = error;
      above.largestAt = static_cast<uint32_t>(i);
    }
  }
  return above;
}

double RoundedUp(double value) {
  if (!(value > 0.0) || !std::isfinite(value)) return value;
  const double unit = std::pow(10.0, std::floor(std::log10(value)) - 2.0);
  double rounded = std::ceil(value / unit) * unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", rounded);
  if (std::strtod(text, nullptr) < value) rounded += unit;
  return rounded;
}

}  // namespace checks
