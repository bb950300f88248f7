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
#include "geometry/cage_bvh_line.h"
#include "host_interface/memory.h"

namespace ostrand {
namespace {

constexpr int32_t kLeastCandidates = 64;

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
  BvhLine line{};
  if (!MakeBvhLine(bvh, origin, direction, &line)) return false;

  // Depth first through every box the line touches; no distance is known
  // or used, so nothing is pruned but boxes the line misses.
  const int32_t limit = bvh.entryCount + bvh.unboundedCount;
  int32_t stack[kBvhStackSize];
  int top = 0;
  int32_t node = 0;
  while (bvh.nodeCount > 0) {
    const BvhNode& n = bvh.nodes[node];
    if (Touches(n.box, line)) {
      if (n.count == 0) {
        if (top == kBvhStackSize) return false;  // deeper than any hierarchy BuildCageBvh makes
        stack[top++] = n.offset;
        ++node;
        continue;
      }
      for (int32_t i = n.offset; i < n.offset + n.count; ++i)
        if (Touches(bvh.entries[i].box, line) && !Append(scratch, &bvh.entries[i].triangle, 1, limit)) return false;
    }
    if (top == 0) break;
    node = stack[--top];
  }
  if (bvh.unboundedCount > 0 && !Append(scratch, bvh.unbounded, bvh.unboundedCount, limit)) return false;

  // Ascending triangle numbers, each once: the exhaustive search's order (a
  // triangle cut into pieces may be met in several leaves). Lists are mostly
  // a handful long, where insertion beats a general sort.
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
  scratch->count = static_cast<int32_t>(std::unique(ids, ids + scratch->count) - ids);
  return true;
}

}  // namespace ostrand
