#include "geometry/polygon_weights.h"

#include <cmath>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrand {
namespace {

constexpr double kCornerRadius = 1e-6;  // below this distance x is at the corner
constexpr double kEdgeArea = 1e-6;      // below this area x is on the edge (if between its ends)

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

constexpr int32_t kPairedUpTo = 8;  // polygons of up to this many corners go two corners at a time

// PolygonWeightsOneByOne two corners at a time, each lane doing exactly the
// operations of one corner there, in the same order, so that every weight
// comes out the same bits; what needs the corners in order (the first corner
// or edge of the special cases, the sum) stays one by one. The quantities
// sit in slots 1 to n; slot 0 repeats corner n - 1 and slots n + 1 and n + 2
// corners 0 and 1, so that neighbours are loaded without wrapping around.
void PairedPolygonWeights(int32_t n, const Vec3* points, const Vec3& x, double s, double* weights) {
  constexpr int kSlots = kPairedUpTo + 3;
  double dx[kSlots], dy[kSlots], dz[kSlots], r[kSlots], area[kSlots], dot[kSlots], t[kSlots];
  for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;

  // Vertex case.
  const __m128d xx = _mm_set1_pd(x.x), xy = _mm_set1_pd(x.y), xz = _mm_set1_pd(x.z);
  for (int32_t i = 0; i < n; i += 2) {
    const Vec3& a = points[i];
    const Vec3& b = points[i + 1 < n ? i + 1 : 0];
    const __m128d ex = _mm_sub_pd(_mm_set_pd(b.x, a.x), xx);
    const __m128d ey = _mm_sub_pd(_mm_set_pd(b.y, a.y), xy);
    const __m128d ez = _mm_sub_pd(_mm_set_pd(b.z, a.z), xz);
    _mm_storeu_pd(dx + i + 1, ex);
    _mm_storeu_pd(dy + i + 1, ey);
    _mm_storeu_pd(dz + i + 1, ez);
    _mm_storeu_pd(r + i + 1,
                  _mm_sqrt_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(ex, ex), _mm_mul_pd(ey, ey)), _mm_mul_pd(ez, ez))));
  }
  for (int32_t i = 0; i < n; ++i)
    if (r[i + 1] < kCornerRadius) {
      weights[i] = s;
      return;
    }
  for (double* q : {dx, dy, dz, r}) {
    q[0] = q[n];
    q[n + 1] = q[1];
    q[n + 2] = q[n > 1 ? 2 : 1];
  }

  // Edge case: the edge from slot j + 1 to slot j + 2.
  const __m128d half = _mm_set1_pd(0.5);
  for (int32_t j = 0; j < n; j += 2) {
    const __m128d ax = _mm_loadu_pd(dx + j + 1), ay = _mm_loadu_pd(dy + j + 1), az = _mm_loadu_pd(dz + j + 1);
    const __m128d bx = _mm_loadu_pd(dx + j + 2), by = _mm_loadu_pd(dy + j + 2), bz = _mm_loadu_pd(dz + j + 2);
    const __m128d cx = _mm_sub_pd(_mm_mul_pd(ay, bz), _mm_mul_pd(az, by));
    const __m128d cy = _mm_sub_pd(_mm_mul_pd(az, bx), _mm_mul_pd(ax, bz));
    const __m128d cz = _mm_sub_pd(_mm_mul_pd(ax, by), _mm_mul_pd(ay, bx));
    const __m128d length =
        _mm_sqrt_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(cx, cx), _mm_mul_pd(cy, cy)), _mm_mul_pd(cz, cz)));
    _mm_storeu_pd(area + j + 1, _mm_mul_pd(half, length));
    _mm_storeu_pd(dot + j + 1, _mm_add_pd(_mm_add_pd(_mm_mul_pd(ax, bx), _mm_mul_pd(ay, by)), _mm_mul_pd(az, bz)));
  }
  for (int32_t j = 0; j < n; ++j)
    if (dot[j + 1] < 0 && area[j + 1] < kEdgeArea) {
      const int32_t k = j + 1 == n ? 0 : j + 1;
      const double rj = r[j + 1], rk = r[j + 2];
      weights[j] = s * rk / (rj + rk);
      weights[k] = s * rj / (rj + rk);
      return;
    }
  area[0] = area[n];
  dot[0] = dot[n];
  area[n + 1] = area[1];
  dot[n + 1] = dot[1];

  // Mean value weights: corner i in slot i + 1, its edges in slots i and
  // i + 1. A term whose triangle has no area is left out; its division is
  // made by 1 instead and its result dropped.
  const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
  auto select = [](__m128d mask, __m128d yes, __m128d no) {
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
  };
  for (int32_t i = 0; i < n; i += 2) {
    const __m128d rc = _mm_loadu_pd(r + i + 1);
    const __m128d areaBefore = _mm_loadu_pd(area + i), areaHere = _mm_loadu_pd(area + i + 1);
    const __m128d withBefore = _mm_cmpneq_pd(areaBefore, zero), withHere = _mm_cmpneq_pd(areaHere, zero);
    const __m128d before = _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(r + i), _mm_div_pd(_mm_loadu_pd(dot + i), rc)),
                                      select(withBefore, areaBefore, one));
    const __m128d here = _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(r + i + 2), _mm_div_pd(_mm_loadu_pd(dot + i + 1), rc)),
                                    select(withHere, areaHere, one));
    const __m128d term = select(withBefore, before, zero);
    _mm_storeu_pd(t + i, select(withHere, _mm_add_pd(term, here), term));
  }
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) sum += t[i];
  if (sum == 0) return;  // every weight is still 0
  const __m128d total = _mm_set1_pd(sum), share = _mm_set1_pd(s);
  for (int32_t i = 0; i < n; i += 2) _mm_storeu_pd(t + i, _mm_mul_pd(_mm_div_pd(_mm_loadu_pd(t + i), total), share));
  for (int32_t i = 0; i < n; ++i) weights[i] = t[i];
}

}  // namespace
#endif

void PolygonWeights(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners, double* weights) {
#if defined(__SSE2__)
  if (n > 0 && n <= kPairedUpTo) {
    PairedPolygonWeights(n, points, x, s, weights);
    return;
  }
#endif
  PolygonWeightsOneByOne(n, points, x, s, corners, weights);
}

}  // namespace ostrand
