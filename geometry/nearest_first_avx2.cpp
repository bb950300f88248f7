// The nearest-first walk built for AVX2, the boxes four at a time: the same
// operations on each box as two at a time, so the same bits. Runs only after
// the processor was found to offer AVX2.
#include "geometry/nearest_first_avx2.h"

#if OSTRAND_AVX2
#include <immintrin.h>

#include "geometry/cage_bvh_line.h"

namespace ostrand {
namespace {

struct WalkBoxes {
  // As SpanFour: each box's bounds widened to double, then Span's operations.
  OSTRAND_AVX2_TARGET __attribute__((always_inline)) static int span(const float (&bounds)[6][4],
                                                                      const BvhLine& line, double enter[4],
                                                                      double leave[4]) {
    __m256d in = _mm256_setzero_pd(), out = _mm256_setzero_pd();
    for (int i = 0; i < 3; ++i) {
      const __m256d inverse = _mm256_set1_pd(line.inverse[i]);
      const __m256d e = _mm256_mul_pd(
          _mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(bounds[line.enterBound[i]])), _mm256_set1_pd(line.enterShift[i])),
          inverse);
      const __m256d l = _mm256_mul_pd(
          _mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(bounds[line.leaveBound[i]])), _mm256_set1_pd(line.leaveShift[i])),
          inverse);
      // max_pd(x, y) is x > y ? x : y and min_pd(x, y) is x < y ? x : y, lane
      // by lane, NaN included: Span's comparisons.
      in = i == 0 ? e : _mm256_max_pd(e, in);
      out = i == 0 ? l : _mm256_min_pd(l, out);
    }
    _mm256_storeu_pd(enter, in);
    _mm256_storeu_pd(leave, out);
    return _mm256_movemask_pd(_mm256_cmp_pd(in, out, _CMP_LE_OQ));
  }
  // As NotBeyond: true for NaN, as !(x > cut) is.
  OSTRAND_AVX2_TARGET __attribute__((always_inline)) static int notBeyond(const double enter[4], double cut) {
    return _mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(enter), _mm256_set1_pd(cut), _CMP_NGT_UQ));
  }
  // As Reaching: false for NaN, as x >= 0 is.
  OSTRAND_AVX2_TARGET __attribute__((always_inline)) static int reaching(const double leave[4]) {
    return _mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(leave), _mm256_setzero_pd(), _CMP_GE_OQ));
  }
};

}  // namespace
}  // namespace ostrand

#define OSTRAND_WALK_TARGET OSTRAND_AVX2_TARGET
#include "geometry/nearest_first_walk.h"

namespace ostrand {

bool WalkNearestFirstAvx2(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, RayHit* hit) {
  return WalkNearestFirst(cage, origin, direction, hit);
}

}  // namespace ostrand
#endif
