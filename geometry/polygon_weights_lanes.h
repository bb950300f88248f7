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

inline constexpr double kCornerRadius = 1e-6;  // below this distance x is at the corner
inline constexpr double kEdgeArea = 1e-6;      // below this area x is on the edge (if between its ends)

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
OSTRAND_LANES_TARGET void LaneWeights(int32_t n, const Vec3* p, const Vec3& x, double s, PolygonCorner* corners,
                                      double* weights) {
  using V = typename L::V;
  constexpr int32_t kLanes = L::kWidth;
  for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;
  const CornerArrays c(n, corners);
  double *dx = c.dx(), *dy = c.dy(), *dz = c.dz(), *r = c.r(), *area = c.area(), *dot = c.dot();
  for (int32_t i = 0; i < n; ++i) {
    dx[i + 1] = p[i].x;
    dy[i + 1] = p[i].y;
    dz[i + 1] = p[i].z;
  }
  const V xx = L::set(x.x), xy = L::set(x.y), xz = L::set(x.z);
  int32_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    const V ax = L::sub(L::load(dx + i + 1), xx), ay = L::sub(L::load(dy + i + 1), xy);
    const V az = L::sub(L::load(dz + i + 1), xz);
    L::store(dx + i + 1, ax);
    L::store(dy + i + 1, ay);
    L::store(dz + i + 1, az);
    L::store(r + i + 1, L::sqrt(L::add(L::add(L::mul(ax, ax), L::mul(ay, ay)), L::mul(az, az))));
  }
  for (; i < n; ++i) {
    dx[i + 1] -= x.x;
    dy[i + 1] -= x.y;
    dz[i + 1] -= x.z;
    r[i + 1] = std::sqrt(dx[i + 1] * dx[i + 1] + dy[i + 1] * dy[i + 1] + dz[i + 1] * dz[i + 1]);
  }
  for (i = 0; i < n; ++i)
    if (r[i + 1] < kCornerRadius) {
      weights[i] = s;
      return;
    }
  for (double* values : {dx, dy, dz, r}) c.wrap(values);

  // Edge j runs from corner j (entry j + 1) to corner j + 1 (entry j + 2).
  const V half = L::set(0.5);
  for (i = 0; i + kLanes <= n; i += kLanes) {
    const V a[3] = {L::load(dx + i + 1), L::load(dy + i + 1), L::load(dz + i + 1)};
    const V b[3] = {L::load(dx + i + 2), L::load(dy + i + 2), L::load(dz + i + 2)};
    const V cx = L::sub(L::mul(a[1], b[2]), L::mul(a[2], b[1]));
    const V cy = L::sub(L::mul(a[2], b[0]), L::mul(a[0], b[2]));
    const V cz = L::sub(L::mul(a[0], b[1]), L::mul(a[1], b[0]));
    L::store(area + i + 1, L::mul(half, L::sqrt(L::add(L::add(L::mul(cx, cx), L::mul(cy, cy)), L::mul(cz, cz)))));
    L::store(dot + i + 1, L::add(L::add(L::mul(a[0], b[0]), L::mul(a[1], b[1])), L::mul(a[2], b[2])));
  }
  for (; i < n; ++i) {
    const double ax = dx[i + 1], ay = dy[i + 1], az = dz[i + 1];
    const double bx = dx[i + 2], by = dy[i + 2], bz = dz[i + 2];
    const double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    area[i + 1] = 0.5 * std::sqrt(cx * cx + cy * cy + cz * cz);
    dot[i + 1] = ax * bx + ay * by + az * bz;
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
  // out, its division made by 1 instead and its result dropped. The sum is
  // taken as the terms come, in corner order, so that its additions wait on
  // each other while the divisions of the next corners go on.
  const V zero = L::set(0.0), one = L::set(1.0);
  double sum = 0.0;
  for (i = 0; i + kLanes <= n; i += kLanes) {
    const V areaBefore = L::load(area + i), dotBefore = L::load(dot + i);
    const V areaHere = L::load(area + i + 1), dotHere = L::load(dot + i + 1);
    const V rBefore = L::load(r + i), rHere = L::load(r + i + 1), rAfter = L::load(r + i + 2);
    const V withBefore = L::notEqual(areaBefore, zero), withHere = L::notEqual(areaHere, zero);
    const V before = L::div(L::sub(rBefore, L::div(dotBefore, rHere)), L::select(withBefore, areaBefore, one));
    const V here = L::div(L::sub(rAfter, L::div(dotHere, rHere)), L::select(withHere, areaHere, one));
    const V term = L::select(withBefore, before, zero);
    L::store(weights + i, L::select(withHere, L::add(term, here), term));
    for (int32_t l = 0; l < kLanes; ++l) sum += weights[i + l];
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
  const V total = L::set(sum), share = L::set(s);
  for (i = 0; i + kLanes <= n; i += kLanes) L::store(weights + i, L::mul(L::div(L::load(weights + i), total), share));
  for (; i < n; ++i) weights[i] = (weights[i] / sum) * s;
}

}  // namespace
}  // namespace ostrand
