// The supporting line of a ray, set up for slab tests against the enlarged
// boxes of a CageBvh (see cage_bvh_candidates.cpp for why the margin is
// enough). Shared by the searches through the hierarchy.
#pragma once

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geometry/cage_bvh.h"

namespace ostrand {

// The supporting line, set up once per ray. On each axis the line enters
// the enlarged slab at one bound and leaves it at the other; their
// parameters are (bound - shift) * inverse, the shift folding the origin and
// the margin together: bound - margin - origin = bound - (origin + margin).
// Entry 0 is the axis the direction is longest along, which the line always
// moves along; entries 1 and 2 are the others.
struct BvhLine {
  int enterBound[3];  // index into BvhNode::box: a (low) or 3 + a (high) on axis a
  int leaveBound[3];
  double enterShift[3];
  double leaveShift[3];
  double inverse[3];  // 1 / direction; +infinity where the direction is 0
};

// Sets up the line of the ray from origin along direction. Parameters along
// it are in units of the direction scaled by a power of two: comparable with
// each other along one ray, positive ahead of the origin. Returns false when
// origin or direction is not finite or the direction is zero.
inline bool MakeBvhLine(const CageBvh& bvh, const Vec3& origin, const Vec3& direction, BvhLine* line) {
  const double o[3] = {origin.x, origin.y, origin.z};
  double d[3] = {direction.x, direction.y, direction.z};
  double originMagnitude = 0.0, longest = 0.0;
  int along = 0;
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(o[a]) || !std::isfinite(d[a])) return false;
    if (std::fabs(o[a]) > originMagnitude) originMagnitude = std::fabs(o[a]);
    if (std::fabs(d[a]) > longest) longest = std::fabs(d[a]), along = a;
  }
  if (longest == 0) return false;

  // Only the line matters. A direction far from unit length is scaled by a
  // power of two (exactly) to a longest component in [0.5, 1), so that the
  // slab parameters stay on the scale of the coordinates. A component below
  // 2^-900 (1e-271) of the longest is taken as 0, which keeps every inverse
  // finite: while the line crosses a box along the longest axis, such a
  // component moves it by less than 1e-271 of the distances involved, far
  // below the margin.
  if (!(longest >= 0x1p-100 && longest <= 0x1p100)) {
    int exponent = 0;
    std::frexp(longest, &exponent);
    for (int a = 0; a < 3; ++a) d[a] = std::ldexp(d[a], -exponent);
    longest = std::fabs(d[along]);
  }
  for (int a = 0; a < 3; ++a)
    if (std::fabs(d[a]) < 0x1p-900 * longest) d[a] = 0.0;

  const double margin = kBvhRelativeMargin * (bvh.magnitude + originMagnitude) + kBvhAbsoluteMargin;
  for (int i = 0; i < 3; ++i) {
    const int a = (along + i) % 3;
    const bool backwards = d[a] < 0;
    line->enterBound[i] = backwards ? 3 + a : a;
    line->leaveBound[i] = backwards ? a : 3 + a;
    line->enterShift[i] = backwards ? o[a] - margin : o[a] + margin;
    line->leaveShift[i] = backwards ? o[a] + margin : o[a] - margin;
    line->inverse[i] = d[a] == 0 ? INFINITY : 1.0 / d[a];
  }

  return true;
}

// Slab test on the whole line, both ways: the parameter intervals of the
// three enlarged slabs overlap, from *enterAt to *leaveAt. On an axis the
// line does not move along,
// the infinite inverse turns "origin inside the slab" into parameters of
// -infinity / +infinity (no restriction) and "outside" into +infinity /
// -infinity (refused); an origin exactly on the bound gives 0 * infinity,
// NaN, which the comparisons ignore, so it too restricts nothing.
inline bool Span(const double* bounds, const BvhLine& line, double* enterAt, double* leaveAt) {
  double enter = (bounds[line.enterBound[0]] - line.enterShift[0]) * line.inverse[0];
  double leave = (bounds[line.leaveBound[0]] - line.leaveShift[0]) * line.inverse[0];
  const double y0 = (bounds[line.enterBound[1]] - line.enterShift[1]) * line.inverse[1];
  const double y1 = (bounds[line.leaveBound[1]] - line.leaveShift[1]) * line.inverse[1];
  const double z0 = (bounds[line.enterBound[2]] - line.enterShift[2]) * line.inverse[2];
  const double z1 = (bounds[line.leaveBound[2]] - line.leaveShift[2]) * line.inverse[2];
  enter = y0 > enter ? y0 : enter;
  leave = y1 < leave ? y1 : leave;
  enter = z0 > enter ? z0 : enter;
  leave = z1 < leave ? z1 : leave;
  *enterAt = enter;
  *leaveAt = leave;
  return enter <= leave;
}

inline bool Touches(const double* bounds, const BvhLine& line) {
  double enter = 0, leave = 0;
  return Span(bounds, line, &enter, &leave);
}

// Span of two boxes at once: the same operations on each, so the same bits
// as two calls of Span. Returns bit 0 set when the line touches a, bit 1 when
// it touches b.
inline int SpanPair(const double* a, const double* b, const BvhLine& line, double enter[2], double leave[2]) {
#if defined(__SSE2__)
  auto at = [&](int bound, double shift, double inverse) {
    return _mm_mul_pd(_mm_sub_pd(_mm_set_pd(b[bound], a[bound]), _mm_set1_pd(shift)), _mm_set1_pd(inverse));
  };
  // max_pd(x, y) is x > y ? x : y and min_pd(x, y) is x < y ? x : y, lane by
  // lane, NaN included: Span's comparisons.
  __m128d in = at(line.enterBound[0], line.enterShift[0], line.inverse[0]);
  __m128d out = at(line.leaveBound[0], line.leaveShift[0], line.inverse[0]);
  in = _mm_max_pd(at(line.enterBound[1], line.enterShift[1], line.inverse[1]), in);
  out = _mm_min_pd(at(line.leaveBound[1], line.leaveShift[1], line.inverse[1]), out);
  in = _mm_max_pd(at(line.enterBound[2], line.enterShift[2], line.inverse[2]), in);
  out = _mm_min_pd(at(line.leaveBound[2], line.leaveShift[2], line.inverse[2]), out);
  _mm_storeu_pd(enter, in);
  _mm_storeu_pd(leave, out);
  return _mm_movemask_pd(_mm_cmple_pd(in, out));
#else
  return (Span(a, line, &enter[0], &leave[0]) ? 1 : 0) | (Span(b, line, &enter[1], &leave[1]) ? 2 : 0);
#endif
}

// Span of a wide node's four children at once, as Span computes each.
// Returns bit c set when the line touches child c (unused children have
// empty boxes, which it never touches).
inline int SpanWide(const BvhWideNode& wide, const BvhLine& line, double enter[4], double leave[4]) {
#if defined(__SSE2__)
  int touched = 0;
  for (int half = 0; half < 4; half += 2) {
    auto at = [&](int bound, double shift, double inverse) {
      return _mm_mul_pd(_mm_sub_pd(_mm_loadu_pd(&wide.bounds[bound][half]), _mm_set1_pd(shift)),
                        _mm_set1_pd(inverse));
    };
    __m128d in = at(line.enterBound[0], line.enterShift[0], line.inverse[0]);
    __m128d out = at(line.leaveBound[0], line.leaveShift[0], line.inverse[0]);
    in = _mm_max_pd(at(line.enterBound[1], line.enterShift[1], line.inverse[1]), in);
    out = _mm_min_pd(at(line.leaveBound[1], line.leaveShift[1], line.inverse[1]), out);
    in = _mm_max_pd(at(line.enterBound[2], line.enterShift[2], line.inverse[2]), in);
    out = _mm_min_pd(at(line.leaveBound[2], line.leaveShift[2], line.inverse[2]), out);
    _mm_storeu_pd(enter + half, in);
    _mm_storeu_pd(leave + half, out);
    touched |= _mm_movemask_pd(_mm_cmple_pd(in, out)) << half;
  }
  return touched;
#else
  int touched = 0;
  for (int c = 0; c < 4; ++c) {
    double box[6];
    for (int b = 0; b < 6; ++b) box[b] = wide.bounds[b][c];
    touched |= Span(box, line, &enter[c], &leave[c]) ? 1 << c : 0;
  }
  return touched;
#endif
}

}  // namespace ostrand
