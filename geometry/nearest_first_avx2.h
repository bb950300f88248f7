// The nearest-first search's walk with the boxes four at a time, for
// processors with AVX2 (see avx2.h): call only when Avx2Offered().
#pragma once

#include "geometry/avx2.h"
#include "geometry/ray_casting.h"

namespace ostrand {

#if OSTRAND_AVX2
// As the walk of FindNearestHitNearestFirst: false when the ray must go to
// the search along the whole line, else true with its hit.
bool WalkNearestFirstAvx2(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, RayHit* hit);
#endif

}  // namespace ostrand
