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

// Span of four boxes side by side (a wide node's children, a leaf group's
// entries), as Span computes each on the float bounds widened to double.
// Returns bit c set when the line touches box c (an empty box, as unused
// slots have, it never touches).
// Inlined wherever it is called: it is the inner step of every walk, and an
// out-of-line call would cost it its registers.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline int SpanFour(const float (&bounds)[6][4], const BvhLine& line, double enter[4], double leave[4]) {
#if defined(__SSE2__)
  // Both halves side by side, from one load of each bound's four floats.
  __m128d in[2], out[2];
  for (int i = 0; i < 3; ++i) {
    const __m128 enterSide = _mm_loadu_ps(bounds[line.enterBound[i]]);
    const __m128 leaveSide = _mm_loadu_ps(bounds[line.leaveBound[i]]);
    const __m128d enterShift = _mm_set1_pd(line.enterShift[i]), leaveShift = _mm_set1_pd(line.leaveShift[i]);
    const __m128d inverse = _mm_set1_pd(line.inverse[i]);
    const __m128d enters[2] = {_mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(enterSide), enterShift), inverse),
                               _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(enterSide, enterSide)), enterShift),
                                          inverse)};
    const __m128d leaves[2] = {_mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(leaveSide), leaveShift), inverse),
                               _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(leaveSide, leaveSide)), leaveShift),
                                          inverse)};
    // max_pd(x, y) is x > y ? x : y and min_pd(x, y) is x < y ? x : y, lane
    // by lane, NaN included: Span's comparisons.
    for (int h = 0; h < 2; ++h) {
      in[h] = i == 0 ? enters[h] : _mm_max_pd(enters[h], in[h]);
      out[h] = i == 0 ? leaves[h] : _mm_min_pd(leaves[h], out[h]);
    }
  }
  _mm_storeu_pd(enter, in[0]);
  _mm_storeu_pd(enter + 2, in[1]);
  _mm_storeu_pd(leave, out[0]);
  _mm_storeu_pd(leave + 2, out[1]);
  return _mm_movemask_pd(_mm_cmple_pd(in[0], out[0])) | _mm_movemask_pd(_mm_cmple_pd(in[1], out[1])) << 2;
#else
  int touched = 0;
  for (int c = 0; c < 4; ++c) {
    double box[6];
    for (int b = 0; b < 6; ++b) box[b] = bounds[b][c];
    touched |= Span(box, line, &enter[c], &leave[c]) ? 1 << c : 0;
  }
  return touched;
#endif
}

// Bit c set when enter[c] is not beyond cut (NaN included, as !(x > cut)).
inline int NotBeyond(const double enter[4], double cut) {
#if defined(__SSE2__)
  const __m128d at = _mm_set1_pd(cut);
  return _mm_movemask_pd(_mm_cmpngt_pd(_mm_loadu_pd(enter), at)) |
         _mm_movemask_pd(_mm_cmpngt_pd(_mm_loadu_pd(enter + 2), at)) << 2;
#else
  int bits = 0;
  for (int c = 0; c < 4; ++c) bits |= enter[c] > cut ? 0 : 1 << c;
  return bits;
#endif
}

// Bit c set when leave[c] >= 0: the box reaches the origin or beyond.
inline int Reaching(const double leave[4]) {
#if defined(__SSE2__)
  const __m128d zero = _mm_setzero_pd();
  return _mm_movemask_pd(_mm_cmpge_pd(_mm_loadu_pd(leave), zero)) |
         _mm_movemask_pd(_mm_cmpge_pd(_mm_loadu_pd(leave + 2), zero)) << 2;
#else
  int bits = 0;
  for (int c = 0; c < 4; ++c) bits |= leave[c] >= 0 ? 1 << c : 0;
  return bits;
#endif
}

}  // namespace ostrand
