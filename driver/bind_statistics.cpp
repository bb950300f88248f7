#include "driver/bind_statistics.h"
#include "ostrand/settings.h"

#include <algorithm>
#include <cmath>

namespace driver {

double BoundingDiagonal(const std::vector<Vec3>& points) {
  if (points.empty()) return 0.0;
  Vec3 low = points[0], high = points[0];
  for (const Vec3& p : points) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  return std::hypot(high.x - low.x, high.y - low.y, high.z - low.z);
}

BindStatistics MeasureBinding(const EffectInstance& instance, const host::Mesh& cageRest, const host::Mesh& targetRest,
                              double weightFloor) {
  BindStatistics stats;
  stats.targetPoints = targetRest.points.size();
  stats.cageSize = BoundingDiagonal(cageRest.points);
  stats.pointErrors.assign(stats.targetPoints, 0.0);
  if (instance.Mode != ostrand::kModeWeights || instance.Targets == nullptr || instance.Targets->count < 1)
    return stats;
  const TargetEntry& target = instance.Targets->records[0];
  if (target.WeightCounts == nullptr || target.WeightOffsets == nullptr || target.PointIndices == nullptr) return stats;

  const size_t cagePoints = cageRest.points.size();
  double errorSum = 0.0;
  long weightSum = 0;
  for (uint32_t i = 0; i < target.ActiveCount; ++i) {
    const size_t point = target.PointIndices[i];
    if (point >= stats.targetPoints) continue;
    const int32_t n = target.WeightCounts[i];
    const int32_t begin = target.WeightOffsets[i];
    if (n <= 0) {
      stats.unbound.push_back(static_cast<uint32_t>(point));
      stats.pointErrors[point] = NAN;
      continue;
    }
    ++stats.pointsBound;
    weightSum += n;
    stats.largestWeights = std::max(stats.largestWeights, n);
    double x = 0.0, y = 0.0, z = 0.0;
    double heaviest = -INFINITY;
    for (int32_t k = begin; k < begin + n; ++k) {
      const auto corner = static_cast<size_t>(target.CageIndices[k]);
      const Vec3& p = corner < cagePoints ? cageRest.points[corner] : Vec3{NAN, NAN, NAN};
      const double w = target.Weights[k];
      heaviest = std::max(heaviest, target.Weights[k]);
      x += w * p.x;
      y += w * p.y;
      z += w * p.z;
    }
    if (weightFloor > 0.0 && heaviest < weightFloor) ++stats.floorAboveAll;
    const Vec3& rest = targetRest.points[point];
    double error = std::hypot(x - rest.x, y - rest.y, z - rest.z);
    errorSum += error;
    // A NaN error is the largest there is.
    if (!(error <= stats.largestError)) stats.largestError = error;
    stats.pointErrors[point] = stats.cageSize > 0.0 ? error / stats.cageSize : error;
  }
  std::sort(stats.unbound.begin(), stats.unbound.end());
  if (stats.pointsBound > 0) {
    stats.meanWeights = static_cast<double>(weightSum) / static_cast<double>(stats.pointsBound);
    stats.meanError = errorSum / static_cast<double>(stats.pointsBound);
  }
  if (stats.cageSize > 0.0) {
    stats.largestError /= stats.cageSize;
    stats.meanError /= stats.cageSize;
  }
  return stats;
}

void KeepUnboundAtRest(const std::vector<uint32_t>& points, const std::vector<Vec3>& rest, Vec3* frame) {
  for (uint32_t point : points) frame[point] = rest.at(point);
}

}  // namespace driver
