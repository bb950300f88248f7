#include "geometry/polygon_weights.h"

#include <bit>
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

// PolygonWeightsOneByOne for any polygon, two corners (and two edges) at a
// time, each lane doing exactly one corner's operations in the same order,
// so that every weight comes out the same bits; what needs the corners in
// order (the first corner or edge of the special cases, the sum) is done one
// by one. The per-corner quantities are laid out by kind in `corners`' memory
// (n + 2 entries), each kind an array of n + 2 doubles: entry i + 1 for
// corner (or edge) i, with entry 0 repeating the last and entry n + 1 the
// first, so that a corner's neighbours are the entries beside it.
class PairedCorners {
 public:
  PairedCorners(int32_t n, PolygonCorner* corners)
      : n_(n), base_(reinterpret_cast<double*>(corners)), stride_(static_cast<size_t>(n) + 2) {}
  double* dx() const { return base_; }
  double* dy() const { return base_ + stride_; }
  double* dz() const { return base_ + 2 * stride_; }
  double* r() const { return base_ + 3 * stride_; }
  double* area() const { return base_ + 4 * stride_; }
  double* dot() const { return base_ + 5 * stride_; }
  // Entries 0 and n + 1 from the entries they repeat.
  void wrap(double* values) const {
    values[0] = values[n_];
    values[n_ + 1] = values[1];
  }

 private:
  int32_t n_;
  double* base_;
  size_t stride_;
};

void PairedWeights(int32_t n, const Vec3* p, const Vec3& x, double s, PolygonCorner* corners, double* weights) {
  for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;
  const PairedCorners c(n, corners);
  double *dx = c.dx(), *dy = c.dy(), *dz = c.dz(), *r = c.r(), *area = c.area(), *dot = c.dot();
  int32_t i = 0;
  for (; i + 1 < n; i += 2) {
    const __m128d ax = Sub(_mm_set_pd(p[i + 1].x, p[i].x), _mm_set1_pd(x.x));
    const __m128d ay = Sub(_mm_set_pd(p[i + 1].y, p[i].y), _mm_set1_pd(x.y));
    const __m128d az = Sub(_mm_set_pd(p[i + 1].z, p[i].z), _mm_set1_pd(x.z));
    _mm_storeu_pd(dx + i + 1, ax);
    _mm_storeu_pd(dy + i + 1, ay);
    _mm_storeu_pd(dz + i + 1, az);
    _mm_storeu_pd(r + i + 1, _mm_sqrt_pd(Add(Add(Mul(ax, ax), Mul(ay, ay)), Mul(az, az))));
  }
  for (; i < n; ++i) {
    dx[i + 1] = p[i].x - x.x;
    dy[i + 1] = p[i].y - x.y;
    dz[i + 1] = p[i].z - x.z;
    r[i + 1] = std::sqrt(dx[i + 1] * dx[i + 1] + dy[i + 1] * dy[i + 1] + dz[i + 1] * dz[i + 1]);
  }
  for (i = 0; i < n; ++i)
    if (r[i + 1] < kCornerRadius) {
      weights[i] = s;
      return;
    }
  for (double* values : {dx, dy, dz, r}) c.wrap(values);

  // Edge j runs from corner j (entry j + 1) to corner j + 1 (entry j + 2).
  for (i = 0; i + 1 < n; i += 2) {
    const __m128d a[3] = {_mm_loadu_pd(dx + i + 1), _mm_loadu_pd(dy + i + 1), _mm_loadu_pd(dz + i + 1)};
    const __m128d b[3] = {_mm_loadu_pd(dx + i + 2), _mm_loadu_pd(dy + i + 2), _mm_loadu_pd(dz + i + 2)};
    const __m128d cx = Sub(Mul(a[1], b[2]), Mul(a[2], b[1]));
    const __m128d cy = Sub(Mul(a[2], b[0]), Mul(a[0], b[2]));
    const __m128d cz = Sub(Mul(a[0], b[1]), Mul(a[1], b[0]));
    _mm_storeu_pd(area + i + 1, Mul(_mm_set1_pd(0.5), _mm_sqrt_pd(Add(Add(Mul(cx, cx), Mul(cy, cy)), Mul(cz, cz)))));
    _mm_storeu_pd(dot + i + 1, Add(Add(Mul(a[0], b[0]), Mul(a[1], b[1])), Mul(a[2], b[2])));
  }
  for (; i < n; ++i) {
    const Vec3 a{dx[i + 1], dy[i + 1], dz[i + 1]}, b{dx[i + 2], dy[i + 2], dz[i + 2]};
    area[i + 1] = 0.5 * Length(Cross(a, b));
    dot[i + 1] = Dot(a, b);
  }
  for (int32_t j = 0; j < n; ++j)
    if (dot[j + 1] < 0 && area[j + 1] < kEdgeArea) {
      const int32_t k = j + 1 == n ? 0 : j + 1;
      const double rj = r[j + 1], rk = r[k + 1];
      weights[j] = s * rk / (rj + rk);
      weights[k] = s * rj / (rj + rk);
      return;
    }
  c.wrap(area);
  c.wrap(dot);

  // Mean value terms, into weights: corner i with the edge before it (entry
  // i) and its own (entry i + 1); a term whose triangle has no area is left
  // out, its division made by 1 instead and its result dropped.
  const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
  for (i = 0; i + 1 < n; i += 2) {
    const __m128d areaBefore = _mm_loadu_pd(area + i), dotBefore = _mm_loadu_pd(dot + i);
    const __m128d areaHere = _mm_loadu_pd(area + i + 1), dotHere = _mm_loadu_pd(dot + i + 1);
    const __m128d rBefore = _mm_loadu_pd(r + i), rHere = _mm_loadu_pd(r + i + 1), rAfter = _mm_loadu_pd(r + i + 2);
    const __m128d withBefore = _mm_cmpneq_pd(areaBefore, zero), withHere = _mm_cmpneq_pd(areaHere, zero);
    const __m128d before =
        _mm_div_pd(Sub(rBefore, _mm_div_pd(dotBefore, rHere)), Select(withBefore, areaBefore, one));
    const __m128d here = _mm_div_pd(Sub(rAfter, _mm_div_pd(dotHere, rHere)), Select(withHere, areaHere, one));
    const __m128d term = Select(withBefore, before, zero);
    _mm_storeu_pd(weights + i, Select(withHere, Add(term, here), term));
  }
  for (; i < n; ++i) {
    double t = 0.0;
    if (area[i] != 0) t = (r[i] - dot[i] / r[i + 1]) / area[i];
    if (area[i + 1] != 0) t += (r[i + 2] - dot[i + 1] / r[i + 1]) / area[i + 1];
    weights[i] = t;
  }
  double sum = 0.0;
  for (i = 0; i < n; ++i) sum += weights[i];
  if (sum == 0) {
    for (i = 0; i < n; ++i) weights[i] = 0.0;
    return;
  }
  const __m128d total = _mm_set1_pd(sum), share = _mm_set1_pd(s);
  for (i = 0; i + 1 < n; i += 2) _mm_storeu_pd(weights + i, Mul(_mm_div_pd(_mm_loadu_pd(weights + i), total), share));
  for (; i < n; ++i) weights[i] = (weights[i] / sum) * s;
}

}  // namespace
#endif

void PolygonWeights(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners, double* weights) {
#if defined(__SSE2__)
  if (n == 4) {
    QuadWeights(points, x, s, weights);
    return;
  }
  if (n >= 3) {
    PairedWeights(n, points, x, s, corners, weights);
    return;
  }
#endif
  PolygonWeightsOneByOne(n, points, x, s, corners, weights);
}

}  // namespace ostrand
