// PolygonWeights four corners at a time, for processors with AVX2 (see
// avx2.h): call only when Avx2Offered().
#pragma once

#include <cstdint>

#include "geometry/avx2.h"
#include "geometry/polygon_weights.h"

namespace ostrand {

#if OSTRAND_AVX2
void PolygonWeightsAvx2(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners,
                        double* weights);
#endif

}  // namespace ostrand
