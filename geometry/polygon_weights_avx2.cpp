// Every function here is built for AVX2 (and nothing more: without FMA,
// every product and sum is rounded on its own, as one corner at a time
// does), and runs only after the processor was found to offer it.
#include "geometry/polygon_weights_avx2.h"

#if OSTRAND_AVX2
#include <immintrin.h>

#include <bit>
#include <initializer_list>

#define OSTRAND_LANES_TARGET OSTRAND_AVX2_TARGET
#include "geometry/polygon_weights_lanes.h"

namespace ostrand {
namespace {

struct Avx2Lanes {
  using V = __m256d;
  static constexpr int32_t kWidth = 4;
  OSTRAND_LANES_TARGET static V set(double v) { return _mm256_set1_pd(v); }
  OSTRAND_LANES_TARGET static V load(const double* p) { return _mm256_loadu_pd(p); }
  OSTRAND_LANES_TARGET static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
  OSTRAND_LANES_TARGET static V add(V a, V b) { return _mm256_add_pd(a, b); }
  OSTRAND_LANES_TARGET static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
  OSTRAND_LANES_TARGET static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  OSTRAND_LANES_TARGET static V div(V a, V b) { return _mm256_div_pd(a, b); }
  OSTRAND_LANES_TARGET static V sqrt(V a) { return _mm256_sqrt_pd(a); }
  // True for NaN, as != is.
  OSTRAND_LANES_TARGET static V notEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
  OSTRAND_LANES_TARGET static V select(V mask, V yes, V no) { return _mm256_blendv_pd(no, yes, mask); }
};

// Lane i takes corner i + 1 (Next) or i - 1 (Before), around the quad.
OSTRAND_LANES_TARGET __m256d Next(__m256d v) { return _mm256_permute4x64_pd(v, 0x39); }
OSTRAND_LANES_TARGET __m256d Before(__m256d v) { return _mm256_permute4x64_pd(v, 0x93); }

OSTRAND_LANES_TARGET double Lane(__m256d v, int i) {
  alignas(32) double out[4];
  _mm256_store_pd(out, v);
  return out[i];
}

// A quad, its four corners in the four lanes, the edges of each corner
// found by turning the lanes.
OSTRAND_LANES_TARGET void QuadWeights(const Vec3* p, const Vec3& x, double s, double* weights) {
  for (int i = 0; i < 4; ++i) weights[i] = 0.0;
  const __m256d dx = _mm256_sub_pd(_mm256_set_pd(p[3].x, p[2].x, p[1].x, p[0].x), _mm256_set1_pd(x.x));
  const __m256d dy = _mm256_sub_pd(_mm256_set_pd(p[3].y, p[2].y, p[1].y, p[0].y), _mm256_set1_pd(x.y));
  const __m256d dz = _mm256_sub_pd(_mm256_set_pd(p[3].z, p[2].z, p[1].z, p[0].z), _mm256_set1_pd(x.z));
  const __m256d r =
      _mm256_sqrt_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz)));
  // The first corner (and below, edge) that meets the test, from the mask.
  const int atCorner = _mm256_movemask_pd(_mm256_cmp_pd(r, _mm256_set1_pd(kCornerRadius), _CMP_LT_OQ));
  if (atCorner != 0) {
    weights[std::countr_zero(static_cast<unsigned>(atCorner))] = s;
    return;
  }
  const __m256d bx = Next(dx), by = Next(dy), bz = Next(dz);
  const __m256d cx = _mm256_sub_pd(_mm256_mul_pd(dy, bz), _mm256_mul_pd(dz, by));
  const __m256d cy = _mm256_sub_pd(_mm256_mul_pd(dz, bx), _mm256_mul_pd(dx, bz));
  const __m256d cz = _mm256_sub_pd(_mm256_mul_pd(dx, by), _mm256_mul_pd(dy, bx));
  const __m256d crossSquared =
      _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(cx, cx), _mm256_mul_pd(cy, cy)), _mm256_mul_pd(cz, cz));
  const __m256d area = _mm256_mul_pd(_mm256_set1_pd(0.5), _mm256_sqrt_pd(crossSquared));
  const __m256d dot =
      _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, bx), _mm256_mul_pd(dy, by)), _mm256_mul_pd(dz, bz));
  const __m256d zero = _mm256_setzero_pd();
  const int onEdge = _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(dot, zero, _CMP_LT_OQ),
                                                      _mm256_cmp_pd(area, _mm256_set1_pd(kEdgeArea), _CMP_LT_OQ)));
  if (onEdge != 0) {
    const int j = std::countr_zero(static_cast<unsigned>(onEdge));
    const int k = (j + 1) % 4;
    const double rj = Lane(r, j), rk = Lane(r, k);
    weights[j] = s * rk / (rj + rk);
    weights[k] = s * rj / (rj + rk);
    return;
  }
  // Mean value terms; a term whose triangle has no area is left out, its
  // division made by 1 instead and its result dropped.
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d areaBefore = Before(area), dotBefore = Before(dot);
  const __m256d withBefore = Avx2Lanes::notEqual(areaBefore, zero), withHere = Avx2Lanes::notEqual(area, zero);
  const __m256d before = _mm256_div_pd(_mm256_sub_pd(Before(r), _mm256_div_pd(dotBefore, r)),
                                       Avx2Lanes::select(withBefore, areaBefore, one));
  const __m256d here =
      _mm256_div_pd(_mm256_sub_pd(Next(r), _mm256_div_pd(dot, r)), Avx2Lanes::select(withHere, area, one));
  const __m256d term = Avx2Lanes::select(withBefore, before, zero);
  const __m256d t = Avx2Lanes::select(withHere, _mm256_add_pd(term, here), term);
  alignas(32) double terms[4];
  _mm256_store_pd(terms, t);
  double sum = 0.0;
  for (double v : terms) sum += v;
  if (sum == 0) return;  // every weight is still 0
  _mm256_storeu_pd(weights, _mm256_mul_pd(_mm256_div_pd(t, _mm256_set1_pd(sum)), _mm256_set1_pd(s)));
}

}  // namespace

OSTRAND_LANES_TARGET void PolygonWeightsAvx2(int32_t n, const Vec3* points, const Vec3& x, double s,
                                             PolygonCorner* corners, double* weights) {
  if (n == 4)
    QuadWeights(points, x, s, weights);
  else
    LaneWeights<Avx2Lanes>(n, points, x, s, corners, weights);
}

}  // namespace ostrand
#endif
