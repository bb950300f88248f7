// PolygonWeights four corners at a time, for processors with AVX2. Built
// only for x86-64 with GCC or Clang, and not for Windows, whose compilers
// here do not keep the stack aligned for it; call only when Avx2Offered()
// says the processor and system run it.
#pragma once

#include <cstdint>

#include "geometry/polygon_weights.h"

#if (defined(__x86_64__) || defined(__amd64__)) && defined(__GNUC__) && !defined(_WIN32)
#define OSTRAND_AVX2_WEIGHTS 1
#else
#define OSTRAND_AVX2_WEIGHTS 0
#endif

namespace ostrand {

#if OSTRAND_AVX2_WEIGHTS
void PolygonWeightsAvx2(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners,
                        double* weights);
#endif

}  // namespace ostrand
