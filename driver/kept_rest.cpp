#include "driver/kept_rest.h"

namespace driver {

void KeepRest(const Vec3* rest, const Vec3* restSums, const float* blend, size_t count, Vec3* points) {
  for (size_t i = 0; i < count; ++i) {
    const double w = blend == nullptr ? 1.0 : static_cast<double>(blend[i]);
    if (w == 0.0) {
      points[i] = rest[i];
      continue;
    }
    const Vec3& s = points[i];
    points[i] = {rest[i].x + w * (s.x - restSums[i].x), rest[i].y + w * (s.y - restSums[i].y),
                 rest[i].z + w * (s.z - restSums[i].z)};
  }
}

}  // namespace driver
