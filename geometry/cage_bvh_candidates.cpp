// The triangles whose boxes a ray's supporting line touches.
//
// Why the margin is enough. A ray test that reports only points of the ray's
// line reports, for a hit, a point of the line in the triangle, so the line
// touches the triangle's box; rounding inside that test can shift what it
// accepts by a few units in the last place of the coordinates it works with
// (corners, origin, and corners relative to the origin), that is by some
// 1e-16 * (|corner| + |origin|) in double precision and a few 1e-7 times
// that in single precision. The margin, kBvhRelativeMargin * (magnitude +
// |origin|), is above both. (A test that divides by a determinant of pure
// rounding noise, for a line within rounding of the triangle's plane, may
// accept any point of the triangle, on the line or not: such a test is not
// one that reports only points of its line, and no margin short of the
// whole cage could cover it.)
//
// The slab test below rounds as well: each parameter (bound - (origin +-
// margin)) * (1 / d) carries a relative error of a few 1e-16, which moves the
// slab's bound by a few 1e-16 * (|bound| + |origin| + margin) along its own
// axis, whatever the size of d. A line through the unenlarged box crosses
// every enlarged slab bound with the whole margin to spare, so it is never
// refused. The absolute margin covers coordinates so small that products
// underflow.
#include <algorithm>
#include <cmath>

#include "geometry/cage_bvh.h"
#include "host_interface/memory.h"

namespace ostrand {
namespace {

constexpr int32_t kLeastCandidates = 64;

// The supporting line, set up once per ray. On each axis the line enters
// the enlarged slab at one bound and leaves it at the other; their
// parameters are (bound - shift) * inverse, the shift folding the origin and
// the margin together: bound - margin - origin = bound - (origin + margin).
// Entry 0 is the axis the direction is longest along, which the line always
// moves along; entries 1 and 2 are the others.
struct Line {
  int enterBound[3];  // index into BvhNode::box: a (low) or 3 + a (high) on axis a
  int leaveBound[3];
  double enterShift[3];
  double leaveShift[3];
  double inverse[3];  // 1 / direction; +infinity where the direction is 0
};

// Slab test on the whole line, both ways: the parameter intervals of the
// three enlarged slabs overlap. On an axis the line does not move along,
// the infinite inverse turns "origin inside the slab" into parameters of
// -infinity / +infinity (no restriction) and "outside" into +infinity /
// -infinity (refused); an origin exactly on the bound gives 0 * infinity,
// NaN, which the comparisons ignore, so it too restricts nothing.
inline bool Touches(const BvhNode& node, const Line& line) {
  const double* bounds = node.box;
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
  return enter <= leave;
}

// Appends n triangle numbers, growing the list (to at most `limit`).
bool Append(CandidateScratch* scratch, const int32_t* ids, int32_t n, int32_t limit) {
  const int64_t needed = int64_t{scratch->count} + n;
  if (needed > scratch->capacity) {
    int64_t grown = std::max<int64_t>({int64_t{scratch->capacity} * 2, needed, kLeastCandidates});
    if (grown > limit) grown = std::max<int64_t>(limit, needed);
    int32_t* bigger = nullptr;
    if (!AllocateArray(bigger, static_cast<size_t>(grown))) return false;
    std::copy(scratch->ids, scratch->ids + scratch->count, bigger);
    FreeArray(scratch->ids);
    scratch->ids = bigger;
    scratch->capacity = static_cast<int32_t>(grown);
  }
  std::copy(ids, ids + n, scratch->ids + scratch->count);
  scratch->count += n;
  return true;
}

}  // namespace

void FreeCandidates(CandidateScratch* scratch) {
  FreeArray(scratch->ids);
  scratch->capacity = 0;
  scratch->count = 0;
}

bool CollectCandidates(const CageBvh& bvh, const Vec3& origin, const Vec3& direction, CandidateScratch* scratch) {
  scratch->count = 0;
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
  Line line{};
  for (int i = 0; i < 3; ++i) {
    const int a = (along + i) % 3;
    const bool backwards = d[a] < 0;
    line.enterBound[i] = backwards ? 3 + a : a;
    line.leaveBound[i] = backwards ? a : 3 + a;
    line.enterShift[i] = backwards ? o[a] - margin : o[a] + margin;
    line.leaveShift[i] = backwards ? o[a] + margin : o[a] - margin;
    line.inverse[i] = d[a] == 0 ? INFINITY : 1.0 / d[a];
  }

  // Depth first through every box the line touches; no distance is known
  // or used, so nothing is pruned but boxes the line misses.
  const int32_t limit = bvh.triangleCount;
  int32_t stack[kBvhStackSize];
  int top = 0;
  int32_t node = 0;
  while (bvh.nodeCount > 0) {
    const BvhNode& n = bvh.nodes[node];
    if (Touches(n, line)) {
      if (n.count == 0) {
        if (top == kBvhStackSize) return false;  // deeper than any hierarchy BuildCageBvh makes
        stack[top++] = n.offset;
        ++node;
        continue;
      }
      if (!Append(scratch, bvh.order + n.offset, n.count, limit)) return false;
    }
    if (top == 0) break;
    node = stack[--top];
  }
  if (bvh.unboundedCount > 0 && !Append(scratch, bvh.unbounded, bvh.unboundedCount, limit)) return false;

  // Ascending triangle numbers: the exhaustive search's order. Lists are
  // mostly a handful long, where insertion beats a general sort.
  int32_t* ids = scratch->ids;
  if (scratch->count > 32) {
    std::sort(ids, ids + scratch->count);
  } else {
    for (int32_t i = 1; i < scratch->count; ++i) {
      const int32_t id = ids[i];
      int32_t j = i;
      for (; j > 0 && ids[j - 1] > id; --j) ids[j] = ids[j - 1];
      ids[j] = id;
    }
  }
  return true;
}

}  // namespace ostrand
