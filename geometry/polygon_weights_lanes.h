// PolygonWeightsOneByOne for any polygon, several corners (and edges) at a
// time: each lane does exactly one corner's operations in the same order,
// so that every weight comes out the same bits whatever the lanes; what
// needs the corners in order (the first corner or edge of the special cases,
// the sum) is done one by one. Included by the files that instantiate it for
// their lanes (two with SSE2, four with AVX2); everything here is local to
// each of them, so that no function built for wider lanes is ever shared
// with code that runs without them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "geometry/polygon_weights.h"

namespace ostrand {
namespace {

inline constexpr double kLanesCornerRadius = 1e-6;  // below this distance x is at the corner
inline constexpr double kLanesEdgeArea = 1e-6;      // below this area x is on the edge (if between its ends)

// The per-corner quantities laid out by kind in `corners`' memory (n + 2
// entries), each kind an array of n + 2 doubles: entry i + 1 for corner (or
// edge) i, with entry 0 repeating the last and entry n + 1 the first, so
// that a corner's neighbours are the entries beside it.
class CornerArrays {
 public:
  CornerArrays(int32_t n, PolygonCorner* corners)
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

// L: the lanes, with L::kWidth doubles in an L::V and its operations. The
// includer defines OSTRAND_LANES_TARGET: the attribute that lets the function
// use those lanes (empty for the processor's baseline).
template <class L>
OSTRAND_LANES_TARGET void LaneWeights(int32_t n, const Vec3* p, const Vec3& x, double s, PolygonCorner* corners, double* weights) {
  using V = typename L::V;
  constexpr int32_t W = L::kWidth;
  for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;
  const CornerArrays c(n, corners);
  double *dx = c.dx(), *dy = c.dy(), *dz = c.dz(), *r = c.r(), *area = c.area(), *dot = c.dot();
  for (int32_t i = 0; i < n; ++i) {
    dx[i + 1] = p[i].x;
    dy[i + 1] = p[i].y;
    dz[i + 1] = p[i].z;
  }
  const V xx = L::Set(x.x), xy = L::Set(x.y), xz = L::Set(x.z);
  int32_t i = 0;
  for (; i + W <= n; i += W) {
    const V ax = L::Sub(L::Load(dx + i + 1), xx), ay = L::Sub(L::Load(dy + i + 1), xy);
    const V az = L::Sub(L::Load(dz + i + 1), xz);
    L::Store(dx + i + 1, ax);
    L::Store(dy + i + 1, ay);
    L::Store(dz + i + 1, az);
    L::Store(r + i + 1, L::Sqrt(L::Add(L::Add(L::Mul(ax, ax), L::Mul(ay, ay)), L::Mul(az, az))));
  }
  for (; i < n; ++i) {
    dx[i + 1] -= x.x;
    dy[i + 1] -= x.y;
    dz[i + 1] -= x.z;
    r[i + 1] = std::sqrt(dx[i + 1] * dx[i + 1] + dy[i + 1] * dy[i + 1] + dz[i + 1] * dz[i + 1]);
  }
  for (i = 0; i < n; ++i)
    if (r[i + 1] < kLanesCornerRadius) {
      weights[i] = s;
      return;
    }
  for (double* values : {dx, dy, dz, r}) c.wrap(values);

  // Edge j runs from corner j (entry j + 1) to corner j + 1 (entry j + 2).
  const V half = L::Set(0.5);
  for (i = 0; i + W <= n; i += W) {
    const V a[3] = {L::Load(dx + i + 1), L::Load(dy + i + 1), L::Load(dz + i + 1)};
    const V b[3] = {L::Load(dx + i + 2), L::Load(dy + i + 2), L::Load(dz + i + 2)};
    const V cx = L::Sub(L::Mul(a[1], b[2]), L::Mul(a[2], b[1]));
    const V cy = L::Sub(L::Mul(a[2], b[0]), L::Mul(a[0], b[2]));
    const V cz = L::Sub(L::Mul(a[0], b[1]), L::Mul(a[1], b[0]));
    L::Store(area + i + 1, L::Mul(half, L::Sqrt(L::Add(L::Add(L::Mul(cx, cx), L::Mul(cy, cy)), L::Mul(cz, cz)))));
    L::Store(dot + i + 1, L::Add(L::Add(L::Mul(a[0], b[0]), L::Mul(a[1], b[1])), L::Mul(a[2], b[2])));
  }
  for (; i < n; ++i) {
    const double ax = dx[i + 1], ay = dy[i + 1], az = dz[i + 1];
    const double bx = dx[i + 2], by = dy[i + 2], bz = dz[i + 2];
    const double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    area[i + 1] = 0.5 * std::sqrt(cx * cx + cy * cy + cz * cz);
    dot[i + 1] = ax * bx + ay * by + az * bz;
  }
  for (int32_t j = 0; j < n; ++j)
    if (dot[j + 1] < 0 && area[j + 1] < kLanesEdgeArea) {
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
  // out, its division made by 1 instead and its result dropped. The sum is
  // taken as the terms come, in corner order, so that its additions wait on
  // each other while the divisions of the next corners go on.
  const V zero = L::Set(0.0), one = L::Set(1.0);
  double sum = 0.0;
  for (i = 0; i + W <= n; i += W) {
    const V areaBefore = L::Load(area + i), dotBefore = L::Load(dot + i);
    const V areaHere = L::Load(area + i + 1), dotHere = L::Load(dot + i + 1);
    const V rBefore = L::Load(r + i), rHere = L::Load(r + i + 1), rAfter = L::Load(r + i + 2);
    const V withBefore = L::NotEqual(areaBefore, zero), withHere = L::NotEqual(areaHere, zero);
    const V before = L::Div(L::Sub(rBefore, L::Div(dotBefore, rHere)), L::Select(withBefore, areaBefore, one));
    const V here = L::Div(L::Sub(rAfter, L::Div(dotHere, rHere)), L::Select(withHere, areaHere, one));
    const V term = L::Select(withBefore, before, zero);
    L::Store(weights + i, L::Select(withHere, L::Add(term, here), term));
    for (int32_t l = 0; l < W; ++l) sum += weights[i + l];
  }
  for (; i < n; ++i) {
    double t = 0.0;
    if (area[i] != 0) t = (r[i] - dot[i] / r[i + 1]) / area[i];
    if (area[i + 1] != 0) t += (r[i + 2] - dot[i + 1] / r[i + 1]) / area[i + 1];
    weights[i] = t;
    sum += t;
  }
  if (sum == 0) {
    for (i = 0; i < n; ++i) weights[i] = 0.0;
    return;
  }
  const V total = L::Set(sum), share = L::Set(s);
  for (i = 0; i + W <= n; i += W) L::Store(weights + i, L::Mul(L::Div(L::Load(weights + i), total), share));
  for (; i < n; ++i) weights[i] = (weights[i] / sum) * s;
}

}  // namespace
}  // namespace ostrand
