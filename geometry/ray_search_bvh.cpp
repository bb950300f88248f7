// The nearest-hit searches through the hierarchy: along the whole line, and
// nearest first with an early stop.
//
// Why stopping is exact. Let W be the nearest hit so far and x its far side:
// where the ray leaves W's triangle's enlarged box. A triangle whose enlarged
// box the ray enters beyond x lies, unenlarged, at least twice the margin
// farther along the ray than any point of W's triangle (enlarging a box by
// the margin moves the ray's entry and exit by at least margin / |longest
// direction component|). Both hits lie, up to the ray test's rounding, on
// their triangles, far below the margin, so the test reports the later one
// a strictly greater distance: the reference would not take it, whatever its
// number. Among what is left, the reference takes, when every reported
// distance is positive, the smallest distance and among equal ones the lowest
// triangle number, which is what the search keeps.
//
// Hits behind the origin: a ray test that reports them gives them distances
// of 0 or less, which the reference takes only as its first hit, so only
// triangles numbered below W's matter there; they are tested, and any hit
// among them (or any distance that is not positive ahead) sends the ray to
// the search along the whole line, which follows the reference's order.
#include <cmath>

#include "geometry/cage_bvh_line.h"
#include "geometry/ray_casting.h"

namespace ostrand {
namespace {

// The nearest hit so far, its triangle's number and its far side.
struct Nearest {
  RayHit hit;
  int32_t id = -1;
  double cut = INFINITY;
};

// A box around the triangle's corners, as the hierarchy boxes it.
void TriangleBox(const RayCastCage& cage, const CageTriangle& triangle, double box[6]) {
  for (int a = 0; a < 3; ++a) {
    box[a] = INFINITY;
    box[3 + a] = -INFINITY;
  }
  for (int c = 0; c < 3; ++c) {
    const Vec3& p = cage.positions[triangle.corners[c]];
    const double xyz[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      box[a] = std::fmin(box[a], xyz[a]);
      box[3 + a] = std::fmax(box[3 + a], xyz[a]);
    }
  }
}

// What testing one triangle ahead came to.
enum class Tested { kMissed, kHit, kUnexpected };

Tested TestAhead(const RayCastCage& cage, const BvhLine& line, const Vec3& origin, const Vec3& direction,
                 int32_t id, Nearest* nearest) {
  const CageTriangle& triangle = cage.bvh->triangles[id];
  const int32_t* k = triangle.corners;
  double d = 0.0;
  double b[3] = {0.0, 0.0, 0.0};
  if (cage.rayTest(&origin, &direction, &cage.positions[k[0]], &cage.positions[k[1]], &cage.positions[k[2]], &d, b,
                   0) == 0)
    return Tested::kMissed;
  if (!(d > 0)) return Tested::kUnexpected;
  RayHit& hit = nearest->hit;
  if (nearest->id >= 0 && !(d < hit.distance || (d == hit.distance && id < nearest->id))) return Tested::kHit;
  hit.found = true;
  hit.distance = d;
  hit.polygon = triangle.polygon;
  for (int c = 0; c < 3; ++c) {
    hit.corners[c] = k[c];
    hit.barycentric[c] = b[c];
  }
  nearest->id = id;
  double box[6];
  TriangleBox(cage, triangle, box);
  bool finite = true;
  for (double bound : box) finite = finite && std::isfinite(bound);
  // A triangle with a corner that is not finite (unbounded) cuts nothing off.
  double enter = 0.0, leave = INFINITY;
  nearest->cut = finite && Span(box, line, &enter, &leave) ? leave : INFINITY;
  return Tested::kHit;
}

// Whether a triangle numbered below `below`, in a box behind the origin
// under node, reports a hit.
bool HitBehind(const RayCastCage& cage, const BvhLine& line, const Vec3& origin, const Vec3& direction,
               int32_t node, int32_t below) {
  const CageBvh& bvh = *cage.bvh;
  int32_t stack[kBvhStackSize];
  int top = 0;
  for (;;) {
    const BvhNode& n = bvh.nodes[node];
    if (Touches(n.box, line)) {
      if (n.count == 0) {
        if (top == kBvhStackSize) return true;  // deeper than any hierarchy BuildCageBvh makes
        stack[top++] = n.offset;
        ++node;
        continue;
      }
      for (int32_t i = n.offset; i < n.offset + n.count; ++i) {
        const int32_t id = bvh.order[i];
        if (below >= 0 && id >= below) continue;
        const int32_t* k = bvh.triangles[id].corners;
        double d = 0.0;
        double b[3] = {0.0, 0.0, 0.0};
        if (cage.rayTest(&origin, &direction, &cage.positions[k[0]], &cage.positions[k[1]], &cage.positions[k[2]],
                         &d, b, 0) != 0)
          return true;
      }
    }
    if (top == 0) return false;
    node = stack[--top];
  }
}

}  // namespace

RayHit FindNearestHitAlongLine(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                               CandidateScratch* scratch) {
  RayHit hit = NoHit();
  if (cage.rayTest == nullptr) return hit;
  if (!CollectCandidates(*cage.bvh, origin, direction, scratch))
    return FindNearestHitExhaustive(cage, origin, direction);
  for (int32_t i = 0; i < scratch->count; ++i) {
    const CageTriangle& triangle = cage.bvh->triangles[scratch->ids[i]];
    ConsiderTriangle(cage, origin, direction, triangle.polygon, triangle.corners, &hit);
  }
  return hit;
}

RayHit FindNearestHitAccelerated(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                                 CandidateScratch* scratch) {
  if (cage.rayTest == nullptr) return NoHit();
  const CageBvh& bvh = *cage.bvh;
  BvhLine line{};
  if (!MakeBvhLine(bvh, origin, direction, &line)) return FindNearestHitExhaustive(cage, origin, direction);

  Nearest nearest;
  nearest.hit = NoHit();
  for (int32_t i = 0; i < bvh.unboundedCount; ++i)
    if (TestAhead(cage, line, origin, direction, bvh.unbounded[i], &nearest) == Tested::kUnexpected)
      return FindNearestHitAlongLine(cage, origin, direction, scratch);

  // Ahead of the origin, nearest box first; boxes wholly behind it are set
  // aside. Each stack entry carries where the ray enters its box.
  struct Entry {
    int32_t node;
    double enter;
  };
  Entry stack[kBvhStackSize];
  int top = 0;
  int32_t behind[kBvhStackSize * 2];
  int behindCount = 0;
  bool behindOverflow = false;
  double enter = 0.0, leave = 0.0;
  if (bvh.nodeCount > 0 && Span(bvh.nodes[0].box, line, &enter, &leave)) stack[top++] = Entry{0, enter};
  while (top > 0) {
    const Entry entry = stack[--top];
    if (entry.enter > nearest.cut) continue;
    int32_t node = entry.node;
    for (;;) {
      const BvhNode& n = bvh.nodes[node];
      if (!Span(n.box, line, &enter, &leave) || enter > nearest.cut) break;
      if (!(leave >= 0)) {
        if (behindCount < static_cast<int>(sizeof behind / sizeof behind[0]))
          behind[behindCount++] = node;
        else
          behindOverflow = true;
        break;
      }
      if (n.count > 0) {
        for (int32_t i = n.offset; i < n.offset + n.count; ++i)
          if (TestAhead(cage, line, origin, direction, bvh.order[i], &nearest) == Tested::kUnexpected)
            return FindNearestHitAlongLine(cage, origin, direction, scratch);
        break;
      }
      // Into the child the ray enters first; the other waits on the stack.
      const int32_t first = node + 1, second = n.offset;
      double enterFirst = 0.0, enterSecond = 0.0, leaveChild = 0.0;
      const bool touchesFirst = Span(bvh.nodes[first].box, line, &enterFirst, &leaveChild);
      const bool touchesSecond = Span(bvh.nodes[second].box, line, &enterSecond, &leaveChild);
      if (!touchesFirst && !touchesSecond) break;
      if (touchesFirst && touchesSecond) {
        const bool secondNearer = enterSecond < enterFirst;
        if (top == kBvhStackSize) return FindNearestHitAlongLine(cage, origin, direction, scratch);
        stack[top++] = secondNearer ? Entry{first, enterFirst} : Entry{second, enterSecond};
        node = secondNearer ? second : first;
      } else {
        node = touchesFirst ? first : second;
      }
    }
  }

  if (behindOverflow) return FindNearestHitAlongLine(cage, origin, direction, scratch);
  for (int i = 0; i < behindCount; ++i)
    if (HitBehind(cage, line, origin, direction, behind[i], nearest.id))
      return FindNearestHitAlongLine(cage, origin, direction, scratch);
  return nearest.hit;
}

}  // namespace ostrand
