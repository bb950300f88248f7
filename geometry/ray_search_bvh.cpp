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
// triangles numbered below W's matter there. They are tested, and a hit at
// a distance that is not positive, or one on a triangle wholly behind the
// origin (whose distance would have to be), sends the ray to the search
// along the whole line, which follows the reference's order. A positive
// distance on a triangle that reaches ahead is a hit ahead: the piece of the
// triangle holding it was tested ahead, or lies beyond the cut.
//
// A triangle cut into pieces sits in several leaves; testing it once is
// enough, as the ray test gives the same answer every time.
#include <bit>
#include <cmath>

#include "geometry/cage_bvh_line.h"
#include "geometry/ray_casting.h"

namespace ostrand {
namespace {

// Grid cells listing more triangles than this have them sifted by their
// shadows before any ray test (measured with bench/bind_scale_bench and
// bench/calculate_bench: cheaper than the tests it saves only on long lists).
constexpr int32_t kSiftFrom = 4;

// The nearest hit so far, its triangle's number and its far side.
struct Nearest {
  RayHit hit;
  int32_t id = -1;
  double cut = INFINITY;
};

// A box around the triangle's corners, as the hierarchy boxes it (a NaN
// coordinate is passed over, as std::fmin passes it over).
void TriangleBox(const RayCastCage& cage, const CageTriangle& triangle, double box[6]) {
  for (int a = 0; a < 3; ++a) {
    box[a] = INFINITY;
    box[3 + a] = -INFINITY;
  }
  for (int c = 0; c < 3; ++c) {
    const Vec3& p = cage.positions[triangle.corners[c]];
    const double xyz[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      box[a] = xyz[a] < box[a] ? xyz[a] : box[a];
      box[3 + a] = xyz[a] > box[3 + a] ? xyz[a] : box[3 + a];
    }
  }
}

// The last triangles tested on this ray: a triangle cut into pieces sits in
// several leaves, and testing it again would tell nothing new.
struct Tested {
  int32_t ids[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  int next = 0;

  bool holds(int32_t id) const {
    for (int32_t held : ids)
      if (held == id) return true;
    return false;
  }
  void add(int32_t id) {
    ids[next] = id;
    next = (next + 1) & 7;
  }
};

// The host's ray test on one triangle of the hierarchy: whether it reports a
// hit, with the distance and the corners' weights it reports.
inline bool RayTest(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, const CageTriangle& triangle,
                    double* d, double b[3]) {
  const int32_t* k = triangle.corners;
  return cage.rayTest(&origin, &direction, &cage.positions[k[0]], &cage.positions[k[1]], &cage.positions[k[2]], d, b,
                      0) != 0;
}

// Makes the triangle's hit the one taken.
inline void Take(const CageTriangle& triangle, double d, const double b[3], RayHit* hit) {
  RecordHit(triangle.polygon, triangle.corners, d, b, hit);
}

// What testing one triangle ahead came to.
enum class Outcome { kMissed, kHit, kUnexpected };

Outcome TestAhead(const RayCastCage& cage, const BvhLine& line, const Vec3& origin, const Vec3& direction,
                  int32_t id, Nearest* nearest) {
  const CageTriangle& triangle = cage.bvh->triangles[id];
  double d = 0.0;
  double b[3] = {0.0, 0.0, 0.0};
  if (!RayTest(cage, origin, direction, triangle, &d, b)) return Outcome::kMissed;
  if (!(d > 0)) return Outcome::kUnexpected;
  // Where the ray leaves the triangle's enlarged box: the cut, when the hit
  // is the nearest. A triangle with a corner that is not finite (unbounded)
  // cuts nothing off; one wholly behind the origin cannot be hit at a
  // positive distance.
  double box[6];
  TriangleBox(cage, triangle, box);
  bool finite = true;
  for (double bound : box) finite = finite && std::isfinite(bound);
  double enter = 0.0, leave = INFINITY;
  const double far = finite && Span(box, line, &enter, &leave) ? leave : INFINITY;
  if (!(far >= 0)) return Outcome::kUnexpected;
  RayHit& hit = nearest->hit;
  if (nearest->id >= 0 && !(d < hit.distance || (d == hit.distance && id < nearest->id))) return Outcome::kHit;
  Take(triangle, d, b, &hit);
  nearest->id = id;
  nearest->cut = far;
  return Outcome::kHit;
}

// Whether the ray test reports, for a triangle numbered below `below` (any
// when negative) under a child of a wide node (`child` and `size` as in
// BvhWideNode) that lies behind the origin, what the search ahead cannot account for: a
// hit at a distance that is not positive, or one on a triangle wholly behind
// the origin. A positive distance on a triangle that reaches ahead is a hit
// ahead, which that search has weighed. Triangles it tested are not tested
// again.
bool HitBehind(const RayCastCage& cage, const BvhLine& line, const Vec3& origin, const Vec3& direction,
               int32_t child, int32_t size, int32_t below, const Tested& tested) {
  const CageBvh& bvh = *cage.bvh;
  struct Child {
    int32_t child;
    int32_t size;
  };
  Child stack[kBvhStackSize * 4];
  int top = 0;
  for (;;) {
    if (child >= 0) {
      const BvhWideNode& wide = bvh.wide[child];
      double enter[4], leave[4];
      int holding = 0;
      for (int k = 0; k < 4; ++k) holding |= below < 0 || wide.lowest[k] < below ? 1 << k : 0;
      const int bits = SpanWide(wide, line, enter, leave) & holding & ((1 << wide.count) - 1);
      if (top + 4 > static_cast<int>(sizeof stack / sizeof stack[0]))
        return true;  // deeper than any hierarchy BuildCageBvh makes
      for (int left = bits; left != 0; left &= left - 1) {
        const int k = std::countr_zero(static_cast<unsigned>(left));
        stack[top++] = Child{wide.child[k], wide.size[k]};
      }
    } else {
      for (int32_t i = -1 - child; i < -1 - child + size; ++i) {
        const BvhEntry& entry = bvh.entries[i];
        const int32_t id = entry.triangle;
        if ((below >= 0 && id >= below) || !Touches(entry.box, line) || tested.holds(id)) continue;
        const CageTriangle& triangle = bvh.triangles[id];
        double d = 0.0;
        double b[3] = {0.0, 0.0, 0.0};
        if (!RayTest(cage, origin, direction, triangle, &d, b)) continue;
        if (!(d > 0)) return true;
        double box[6], enter = 0.0, leave = 0.0;
        TriangleBox(cage, triangle, box);
        if (!Span(box, line, &enter, &leave) || !(leave >= 0)) return true;
      }
    }
    if (top == 0) return false;
    --top;
    child = stack[top].child;
    size = stack[top].size;
  }
}

// The reference's rule over a list of candidates in ascending order.
RayHit OfferInOrder(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, const int32_t* ids,
                    int32_t count) {
  RayHit hit = NoHit();
  for (int32_t i = 0; i < count; ++i) {
    const CageTriangle& triangle = cage.bvh->triangles[ids[i]];
    ConsiderTriangle(cage, origin, direction, triangle.polygon, triangle.corners, &hit);
  }
  return hit;
}

RayHit OfferInOrder(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, const GridLookup& listed) {
  RayHit hit = NoHit();
  for (int32_t i = 0; i < listed.count; ++i) {
    const CageTriangle& triangle = cage.bvh->triangles[listed.entries[i].triangle];
    ConsiderTriangle(cage, origin, direction, triangle.polygon, triangle.corners, &hit);
  }
  return hit;
}

}  // namespace

// The candidates of a grid lookup, those wholly behind the origin last: the
// others in ascending order by the reference's rule, then those behind,
// numbered below the first triangle taken, for a hit. As for the
// nearest-first search, a triangle wholly behind the origin can only be hit
// at a distance that is not positive, which the reference takes only as its
// first hit; so a hit behind, or a distance that is not positive, sends the
// ray to the reference's order over the whole list.
RayHit FindNearestHitOnGrid(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                            const GridLookup& listed) {
  // Every path returns `hit`, so that it is built where the caller wants it
  // rather than copied there.
  RayHit hit = NoHit();
  if (cage.rayTest == nullptr) return hit;
  int32_t first = -1;  // the first triangle taken
  bool behind = false;
  bool inOrder = false;  // the reference's order over the whole list decides
  // A long list (a fan's many thin triangles meeting in a cell) is sifted
  // before the ray tests; a short one costs less tested outright.
  const bool sift = listed.count > kSiftFrom;
  for (int32_t i = 0; i < listed.count && !inOrder; ++i) {
    const GridEntry& entry = listed.entries[i];
    if (WhollyBehind(listed, entry)) {
      behind = true;
      continue;
    }
    const CageTriangle& triangle = cage.bvh->triangles[entry.triangle];
    if (sift && PassesWide(listed, triangle.corners)) continue;
    double d = 0.0;
    double b[3] = {0.0, 0.0, 0.0};
    if (!RayTest(cage, origin, direction, triangle, &d, b)) continue;
    inOrder = !(d > 0);
    if (inOrder || (first >= 0 && !(hit.distance > d))) continue;
    if (first < 0) first = entry.triangle;
    Take(triangle, d, b, &hit);
  }
  for (int32_t i = 0; behind && !inOrder && i < listed.count && (first < 0 || listed.entries[i].triangle < first);
       ++i) {
    const CageTriangle& triangle = cage.bvh->triangles[listed.entries[i].triangle];
    if (!WhollyBehind(listed, listed.entries[i]) || (sift && PassesWide(listed, triangle.corners))) continue;
    double d = 0.0;
    double b[3] = {0.0, 0.0, 0.0};
    inOrder = RayTest(cage, origin, direction, triangle, &d, b);
  }
  if (inOrder) hit = OfferInOrder(cage, origin, direction, listed);
  return hit;
}

RayHit FindNearestHitAlongLine(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                               CandidateScratch* scratch, int32_t sample) {
  if (cage.rayTest == nullptr) return NoHit();
  GridLookup listed{};
  if (cage.grids != nullptr && GridCandidates(*cage.grids, sample, origin, &listed))
    return FindNearestHitOnGrid(cage, origin, direction, listed);
  if (!CollectCandidates(*cage.bvh, origin, direction, scratch))
    return FindNearestHitExhaustive(cage, origin, direction);
  return OfferInOrder(cage, origin, direction, scratch->ids, scratch->count);
}

namespace {

// The nearest-first walk of one ray through the wide nodes: ahead of the
// origin, nearest box first; boxes wholly behind it are set aside, with the
// lowest triangle number under them, for the check after the walk. Every
// step says whether the walk can go on; when it cannot (something
// unexpected, or more to hold than it has room for), the ray goes to the
// search along the whole line.
class NearestFirstWalk {
 public:
  NearestFirstWalk(const RayCastCage& cage, const BvhLine& line, const Vec3& origin, const Vec3& direction)
      : cage_(cage), bvh_(*cage.bvh), line_(line), origin_(origin), direction_(direction),
        repeats_(bvh_.entryCount > bvh_.triangleCount - bvh_.unboundedCount) {
    nearest_.hit = NoHit();
  }

  // The triangles without a box, which every ray is offered.
  bool testUnbounded() {
    for (int32_t i = 0; i < bvh_.unboundedCount; ++i)
      if (TestAhead(cage_, line_, origin_, direction_, bvh_.unbounded[i], &nearest_) == Outcome::kUnexpected)
        return false;
    return true;
  }

  // Ahead of the origin, until no box left can hold a nearer hit. A child
  // (as BvhWideNode::child) is taken with where the ray enters its box,
  // worked out when its parent was.
  bool walkAhead() {
    Entry at{0, 0, -INFINITY};
    bool holding = bvh_.wideCount > 0;
    for (;;) {
      while (!holding && top_ > 0) {
        at = stack_[--top_];
        holding = !(at.enter > nearest_.cut);
      }
      if (!holding) return true;
      if (at.child < 0) {
        if (!testLeaf(at)) return false;
        holding = false;
      } else if (!descend(at, &holding)) {
        return false;
      }
    }
  }

  // The boxes set aside behind the origin, for a hit the walk ahead could
  // not weigh (see HitBehind).
  bool checkBehind() const {
    if (behindOverflow_) return false;
    for (int i = 0; i < behindCount_; ++i)
      if ((nearest_.id < 0 || behind_[i].lowest < nearest_.id) &&
          HitBehind(cage_, line_, origin_, direction_, behind_[i].child, behind_[i].size, nearest_.id, tested_))
        return false;
    return true;
  }

  const RayHit& hit() const { return nearest_.hit; }

 private:
  struct Entry {
    int32_t child;
    int32_t size;
    double enter;
  };
  struct Behind {
    int32_t child;
    int32_t size;
    int32_t lowest;
  };

  // A leaf: its entries two at a time (the last one twice when odd).
  bool testLeaf(const Entry& at) {
    const int32_t end = -1 - at.child + at.size;
    for (int32_t i = -1 - at.child; i < end; i += 2) {
      const int32_t j = i + 1 < end ? i + 1 : i;
      double enter[2], leave[2];
      int bits = SpanPair(bvh_.entries[i].box, bvh_.entries[j].box, line_, enter, leave) & (j > i ? 3 : 1);
      for (; bits != 0; bits &= bits - 1) {
        const int k = std::countr_zero(static_cast<unsigned>(bits));
        const int32_t triangle = bvh_.entries[i + k].triangle;
        if (enter[k] > nearest_.cut) continue;
        if (repeats_) {
          if (tested_.holds(triangle)) continue;
          tested_.add(triangle);
        }
        if (TestAhead(cage_, line_, origin_, direction_, triangle, &nearest_) == Outcome::kUnexpected) return false;
      }
    }
    return true;
  }

  // Into the child the ray enters first (*at, *holding); the others wait on
  // the stack, the nearer on top, and those wholly behind are set aside.
  bool descend(Entry& at, bool* holding) {
    const BvhWideNode& wide = bvh_.wide[at.child];
    double enter[4], leave[4];
    const int touched = SpanWide(wide, line_, enter, leave);
    // The children worth a look, as bits, so that only those are looped over.
    int within = 0, reaching = 0;
    for (int k = 0; k < 4; ++k) {
      within |= enter[k] > nearest_.cut ? 0 : 1 << k;
      reaching |= leave[k] >= 0 ? 1 << k : 0;
    }
    const int live = touched & within & ((1 << wide.count) - 1);
    for (int bits = live & ~reaching; bits != 0; bits &= bits - 1) {
      const int k = std::countr_zero(static_cast<unsigned>(bits));
      if (behindCount_ < kRoom)
        behind_[behindCount_++] = Behind{wide.child[k], wide.size[k], wide.lowest[k]};
      else
        behindOverflow_ = true;
    }
    Entry taken[4];
    int kept = 0;
    for (int bits = live & reaching; bits != 0; bits &= bits - 1) {
      const int k = std::countr_zero(static_cast<unsigned>(bits));
      int j = kept++;
      for (; j > 0 && taken[j - 1].enter < enter[k]; --j) taken[j] = taken[j - 1];
      taken[j] = Entry{wide.child[k], wide.size[k], enter[k]};
    }
    *holding = kept > 0;
    if (kept == 0) return true;
    if (top_ + kept > kRoom) return false;
    for (int k = 0; k + 1 < kept; ++k) stack_[top_++] = taken[k];
    at = taken[kept - 1];
    return true;
  }

  static constexpr int kRoom = kBvhStackSize * 4;
  const RayCastCage& cage_;
  const CageBvh& bvh_;
  const BvhLine& line_;
  const Vec3& origin_;
  const Vec3& direction_;
  const bool repeats_;  // a triangle may sit in several leaves
  Nearest nearest_;
  Tested tested_;
  Entry stack_[kRoom];
  int top_ = 0;
  Behind behind_[kRoom];
  int behindCount_ = 0;
  bool behindOverflow_ = false;
};

}  // namespace

RayHit FindNearestHitNearestFirst(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                                  CandidateScratch* scratch) {
  if (cage.rayTest == nullptr) return NoHit();
  BvhLine line{};
  if (!MakeBvhLine(*cage.bvh, origin, direction, &line)) return FindNearestHitExhaustive(cage, origin, direction);
  NearestFirstWalk walk(cage, line, origin, direction);
  if (!walk.testUnbounded() || !walk.walkAhead() || !walk.checkBehind())
    return FindNearestHitAlongLine(cage, origin, direction, scratch);
  return walk.hit();
}

}  // namespace ostrand
