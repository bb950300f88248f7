#include "geometry/polygon_weights.h"

#include <bit>
#include <cmath>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geometry/polygon_weights_avx2.h"

#define OSTRAND_LANES_TARGET
#include "geometry/polygon_weights_lanes.h"

namespace ostrand {
namespace {

inline double Length(const Vec3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
inline double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace

void PolygonWeightsOneByOne(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners,
                            double* weights) {
  if (n <= 0) return;
  for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;

  // Vertex case: x at a corner takes the whole share there.
  for (int32_t i = 0; i < n; ++i) {
    PolygonCorner& c = corners[i];
    c.d = Vec3{points[i].x - x.x, points[i].y - x.y, points[i].z - x.z};
    c.r = Length(c.d);
    if (c.r < kCornerRadius) {
      weights[i] = s;
      return;
    }
  }

  // Edge case: x between the ends of an edge, on it up to the area threshold.
  for (int32_t j = 0; j < n; ++j) {
    const int32_t k = j + 1 == n ? 0 : j + 1;
    PolygonCorner& c = corners[j];
    c.area = 0.5 * Length(Cross(c.d, corners[k].d));
    c.dot = Dot(c.d, corners[k].d);
    if (c.dot < 0 && c.area < kEdgeArea) {
      const double rj = c.r, rk = corners[k].r;
      weights[j] = s * rk / (rj + rk);
      weights[k] = s * rj / (rj + rk);
      return;
    }
  }

  // Mean value weights: each corner gets the tangent terms of its two edges
  // over its distance; an edge whose triangle has no area adds nothing.
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t before = i == 0 ? n - 1 : i - 1;
    const int32_t after = i + 1 == n ? 0 : i + 1;
    const PolygonCorner& p = corners[before];
    const PolygonCorner& c = corners[i];
    double t = 0.0;
    if (p.area != 0) t = (p.r - p.dot / c.r) / p.area;
    if (c.area != 0) t += (corners[after].r - c.dot / c.r) / c.area;
    weights[i] = t;
    sum += t;
  }
  // Every term vanishes only when x is in line with every edge; the share
  // then goes nowhere rather than turning the row into NaN.
  if (sum == 0) {
    for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;
    return;
  }
  for (int32_t i = 0; i < n; ++i) weights[i] = (weights[i] / sum) * s;
}

#if defined(__SSE2__)
namespace {

// Two lanes of doubles: corners or edges (a, b) of a quad.
struct Pair {
  __m128d v;
  double lane(int i) const {
    double out[2];
    _mm_storeu_pd(out, v);
    return out[i];
  }
};

inline __m128d Add(__m128d a, __m128d b) { return _mm_add_pd(a, b); }
inline __m128d Sub(__m128d a, __m128d b) { return _mm_sub_pd(a, b); }
inline __m128d Mul(__m128d a, __m128d b) { return _mm_mul_pd(a, b); }
// (a[1], b[0]): the pair after a when b follows it around the quad.
inline __m128d Turn(__m128d a, __m128d b) { return _mm_shuffle_pd(a, b, 1); }
inline __m128d Select(__m128d mask, __m128d yes, __m128d no) {
  return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}

// PolygonWeightsOneByOne for a quad, corners (0, 1) and (2, 3) in two
// lanes: each lane does exactly the operations of one corner there, in the
// same order, so every weight comes out the same bits. What needs the
// corners in order (the first corner or edge of the special cases, the sum)
// is done one by one.
void QuadWeights(const Vec3* p, const Vec3& x, double s, double* weights) {
  for (int i = 0; i < 4; ++i) weights[i] = 0.0;
  __m128d d[2][3];  // d[h][axis]: corners 2h and 2h + 1 less x
  for (int h = 0; h < 2; ++h) {
    const Vec3& a = p[2 * h];
    const Vec3& b = p[2 * h + 1];
    d[h][0] = Sub(_mm_set_pd(b.x, a.x), _mm_set1_pd(x.x));
    d[h][1] = Sub(_mm_set_pd(b.y, a.y), _mm_set1_pd(x.y));
    d[h][2] = Sub(_mm_set_pd(b.z, a.z), _mm_set1_pd(x.z));
  }
  __m128d r[2];
  for (int h = 0; h < 2; ++h)
    r[h] = _mm_sqrt_pd(Add(Add(Mul(d[h][0], d[h][0]), Mul(d[h][1], d[h][1])), Mul(d[h][2], d[h][2])));
  // The first corner (and below, edge) that meets the test, found from the
  // lanes' masks, bit i for corner i.
  const __m128d radius = _mm_set1_pd(kCornerRadius);
  const int atCorner = _mm_movemask_pd(_mm_cmplt_pd(r[0], radius)) | _mm_movemask_pd(_mm_cmplt_pd(r[1], radius)) << 2;
  if (atCorner != 0) {
    weights[std::countr_zero(static_cast<unsigned>(atCorner))] = s;
    return;
  }

  // Edges (0, 1) and (2, 3) go to the corners after them: (1, 2) and (3, 0).
  __m128d area[2], dot[2];
  for (int h = 0; h < 2; ++h) {
    const __m128d* a = d[h];
    const __m128d b[3] = {Turn(d[h][0], d[1 - h][0]), Turn(d[h][1], d[1 - h][1]), Turn(d[h][2], d[1 - h][2])};
    const __m128d cx = Sub(Mul(a[1], b[2]), Mul(a[2], b[1]));
    const __m128d cy = Sub(Mul(a[2], b[0]), Mul(a[0], b[2]));
    const __m128d cz = Sub(Mul(a[0], b[1]), Mul(a[1], b[0]));
    area[h] = Mul(_mm_set1_pd(0.5), _mm_sqrt_pd(Add(Add(Mul(cx, cx), Mul(cy, cy)), Mul(cz, cz))));
    dot[h] = Add(Add(Mul(a[0], b[0]), Mul(a[1], b[1])), Mul(a[2], b[2]));
  }
  const __m128d zero = _mm_setzero_pd(), edgeArea = _mm_set1_pd(kEdgeArea);
  int onEdge = 0;
  for (int h = 0; h < 2; ++h)
    onEdge |= _mm_movemask_pd(_mm_and_pd(_mm_cmplt_pd(dot[h], zero), _mm_cmplt_pd(area[h], edgeArea))) << 2 * h;
  if (onEdge != 0) {
    const int j = std::countr_zero(static_cast<unsigned>(onEdge));
    const int k = (j + 1) % 4;
    const double rj = Pair{r[j / 2]}.lane(j % 2), rk = Pair{r[k / 2]}.lane(k % 2);
    weights[j] = s * rk / (rj + rk);
    weights[k] = s * rj / (rj + rk);
    return;
  }

  // Mean value weights: corners (2h, 2h + 1) with the edges before them,
  // (2h - 1, 2h), and their own. A term whose triangle has no area is left
  // out; its division is made by 1 instead and its result dropped.
  const __m128d one = _mm_set1_pd(1.0);
  __m128d t[2];
  for (int h = 0; h < 2; ++h) {
    const __m128d areaBefore = Turn(area[1 - h], area[h]), dotBefore = Turn(dot[1 - h], dot[h]);
    const __m128d rBefore = Turn(r[1 - h], r[h]), rAfter = Turn(r[h], r[1 - h]);
    const __m128d withBefore = _mm_cmpneq_pd(areaBefore, zero), withHere = _mm_cmpneq_pd(area[h], zero);
    const __m128d before =
        _mm_div_pd(Sub(rBefore, _mm_div_pd(dotBefore, r[h])), Select(withBefore, areaBefore, one));
    const __m128d here = _mm_div_pd(Sub(rAfter, _mm_div_pd(dot[h], r[h])), Select(withHere, area[h], one));
    const __m128d term = Select(withBefore, before, zero);
    t[h] = Select(withHere, Add(term, here), term);
  }
  double sum = 0.0;
  for (int h = 0; h < 2; ++h) {
    sum += _mm_cvtsd_f64(t[h]);
    sum += _mm_cvtsd_f64(_mm_unpackhi_pd(t[h], t[h]));
  }
  if (sum == 0) return;  // every weight is still 0
  for (int h = 0; h < 2; ++h)
    _mm_storeu_pd(weights + 2 * h, Mul(_mm_div_pd(t[h], _mm_set1_pd(sum)), _mm_set1_pd(s)));
}

struct Sse2Lanes {
  using V = __m128d;
  static constexpr int32_t kWidth = 2;
  static V set(double v) { return _mm_set1_pd(v); }
  static V load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, V v) { _mm_storeu_pd(p, v); }
  static V add(V a, V b) { return _mm_add_pd(a, b); }
  static V sub(V a, V b) { return _mm_sub_pd(a, b); }
  static V mul(V a, V b) { return _mm_mul_pd(a, b); }
  static V div(V a, V b) { return _mm_div_pd(a, b); }
  static V sqrt(V a) { return _mm_sqrt_pd(a); }
  static V notEqual(V a, V b) { return _mm_cmpneq_pd(a, b); }  // true for NaN, as != is
  static V select(V mask, V yes, V no) { return ostrand::Select(mask, yes, no); }
};

}  // namespace
#endif

CornerLanes WidestCornerLanes() {
#if OSTRAND_AVX2
  if (Avx2Offered()) return CornerLanes::kFour;
#endif
#if defined(__SSE2__)
  return CornerLanes::kTwo;
#else
  return CornerLanes::kOne;
#endif
}

void PolygonWeightsIn(CornerLanes lanes, int32_t n, const Vec3* points, const Vec3& x, double s,
                      PolygonCorner* corners, double* weights) {
  if (lanes > WidestCornerLanes()) lanes = WidestCornerLanes();
#if OSTRAND_AVX2
  if (lanes == CornerLanes::kFour && n >= 3) {
    PolygonWeightsAvx2(n, points, x, s, corners, weights);
    return;
  }
#endif
#if defined(__SSE2__)
  if (lanes != CornerLanes::kOne && n == 4) {
    QuadWeights(points, x, s, weights);
    return;
  }
  if (lanes != CornerLanes::kOne && n >= 3) {
    LaneWeights<Sse2Lanes>(n, points, x, s, corners, weights);
    return;
  }
#endif
  PolygonWeightsOneByOne(n, points, x, s, corners, weights);
}

void PolygonWeights(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners, double* weights) {
  static const CornerLanes kWidest = WidestCornerLanes();
#if OSTRAND_AVX2
  if (kWidest == CornerLanes::kFour && n >= 3) {
    PolygonWeightsAvx2(n, points, x, s, corners, weights);
    return;
  }
#endif
  PolygonWeightsIn(kWidest, n, points, x, s, corners, weights);
}

}  // namespace ostrand
