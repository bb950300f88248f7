#include "driver/kept_rest.h"
#include "ostrand/settings.h"

#include <cmath>

namespace driver {

void KeepRest(const Vec3* rest, const Vec3* restSums, const double* sums, const float* blend, size_t count,
              Vec3* points) {
  for (size_t i = 0; i < count; ++i) {
    const double w = blend == nullptr ? 1.0 : static_cast<double>(blend[i]);
    if (w == 0.0) {
      points[i] = rest[i];
      continue;
    }
    const double scale = sums == nullptr ? w : w / sums[i];
    const Vec3& s = points[i];
    points[i] = {rest[i].x + scale * (s.x - restSums[i].x), rest[i].y + scale * (s.y - restSums[i].y),
                 rest[i].z + scale * (s.z - restSums[i].z)};
  }
}

std::vector<double> WeightSums(const EffectInstance& instance, size_t targetPoints) {
  std::vector<double> sums(targetPoints, 1.0);
  if (instance.Mode != ostrand::kModeWeights || instance.Targets == nullptr || instance.Targets->count < 1) return sums;
  const TargetEntry& target = instance.Targets->records[0];
  if (target.WeightCounts == nullptr || target.WeightOffsets == nullptr || target.PointIndices == nullptr ||
      target.Weights == nullptr)
    return sums;
  for (uint32_t j = 0; j < target.ActiveCount; ++j) {
    const size_t point = target.PointIndices[j];
    if (point >= targetPoints || target.WeightCounts[j] <= 0) continue;
    double sum = 0.0;
    for (int32_t k = target.WeightOffsets[j]; k < target.WeightOffsets[j] + target.WeightCounts[j]; ++k)
      sum += target.Weights[k];
    if (sum != 0.0 && std::isfinite(sum)) sums[point] = sum;
  }
  return sums;
}

}  // namespace driver
