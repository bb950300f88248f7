// The nearest-first search of one ray through the wide nodes of a CageBvh,
// and what it shares with the search on grids. Included by the files that
// build it for their lanes: ray_search_bvh.cpp with the boxes two at a time
// (SSE2) and nearest_first_avx2.cpp four at a time (AVX2). Each defines,
// before including it, OSTRAND_WALK_TARGET, the target every function here
// is built for, and WalkBoxes, the box tests for its lanes (span, notBeyond
// and reaching, as SpanFour, NotBeyond and Reaching in cage_bvh_line.h), all
// giving the same bits. Everything here is local to each of them, so that no
// function built for wider lanes is ever shared with code that runs without
// them.
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
// triangle number, which is what the search keeps. The walk's boxes, rounded
// outwards to float, only ever hold the exact ones: a box they keep out of
// reach is out of reach.
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
#pragma once

#include <bit>
#include <cmath>

#include "geometry/cage_bvh_line.h"
#include "geometry/ray_casting.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrand {
namespace {

// The nearest hit so far, its triangle's number and its far side.
struct Nearest {
  RayHit hit;
  int32_t id = -1;
  double cut = INFINITY;
};

// A box around the triangle's corners, as the hierarchy boxes it (a NaN
// coordinate is passed over, as std::fmin passes it over).
OSTRAND_WALK_TARGET void TriangleBox(const RayCastCage& cage, const CageTriangle& triangle, double box[6]) {
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

  OSTRAND_WALK_TARGET bool holds(int32_t id) const {
    for (int32_t held : ids)
      if (held == id) return true;
    return false;
  }
  OSTRAND_WALK_TARGET void add(int32_t id) {
    ids[next] = id;
    next = (next + 1) & 7;
  }
};

// The host's ray test on one triangle of the hierarchy: whether it reports a
// hit, with the distance and the corners' weights it reports.
OSTRAND_WALK_TARGET inline bool RayTest(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                                        const CageTriangle& triangle, double* d, double b[3]) {
  const int32_t* k = triangle.corners;
  return cage.rayTest(&origin, &direction, &cage.positions[k[0]], &cage.positions[k[1]], &cage.positions[k[2]], d, b,
                      0) != 0;
}

// Makes the triangle's hit the one taken.
OSTRAND_WALK_TARGET inline void Take(const CageTriangle& triangle, double d, const double b[3], RayHit* hit) {
  RecordHit(triangle.polygon, triangle.corners, d, b, hit);
}

// What testing one triangle ahead came to.
enum class Outcome { kMissed, kHit, kUnexpected };

OSTRAND_WALK_TARGET Outcome TestAhead(const RayCastCage& cage, const BvhLine& line, const Vec3& origin,
                                      const Vec3& direction, int32_t id, Nearest* nearest) {
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

// Bit c set when numbers[c] < bound.
OSTRAND_WALK_TARGET inline int LowerThan(const int32_t numbers[4], int32_t bound) {
#if defined(__SSE2__)
  const __m128i lower =
      _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(numbers)), _mm_set1_epi32(bound));
  return _mm_movemask_ps(_mm_castsi128_ps(lower));
#else
  int bits = 0;
  for (int c = 0; c < 4; ++c) bits |= numbers[c] < bound ? 1 << c : 0;
  return bits;
#endif
}

// Whether the ray test reports, for a triangle numbered below `below` (any
// when negative) under a child of a wide node (`child` and `size` as in
// BvhWideNode) that lies behind the origin, what the search ahead cannot account for: a
// hit at a distance that is not positive, or one on a triangle wholly behind
// the origin. A positive distance on a triangle that reaches ahead is a hit
// ahead, which that search has weighed. Triangles it tested are not tested
// again.
OSTRAND_WALK_TARGET bool HitBehind(const RayCastCage& cage, const BvhLine& line, const Vec3& origin,
                                   const Vec3& direction, int32_t child, int32_t size, int32_t below,
                                   const Tested& tested) {
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
      const int holding = below < 0 ? 15 : LowerThan(wide.lowest, below);
      const int bits = WalkBoxes::span(wide.bounds, line, enter, leave) & holding & ((1 << wide.count) - 1);
      if (top + 4 > static_cast<int>(sizeof stack / sizeof stack[0]))
        return true;  // deeper than any hierarchy BuildCageBvh makes
      for (int left = bits; left != 0; left &= left - 1) {
        const int k = std::countr_zero(static_cast<unsigned>(left));
        stack[top++] = Child{wide.child[k], wide.size[k]};
      }
    } else {
      for (int32_t g = -1 - child; g < -1 - child + size; ++g) {
        const BvhLeafGroup& group = bvh.groups[g];
        double enter[4], leave[4];
        for (int bits = WalkBoxes::span(group.bounds, line, enter, leave); bits != 0; bits &= bits - 1) {
          const int32_t id = group.triangle[std::countr_zero(static_cast<unsigned>(bits))];
          if ((below >= 0 && id >= below) || tested.holds(id)) continue;
          const CageTriangle& triangle = bvh.triangles[id];
          double d = 0.0;
          double b[3] = {0.0, 0.0, 0.0};
          if (!RayTest(cage, origin, direction, triangle, &d, b)) continue;
          if (!(d > 0)) return true;
          double box[6], from = 0.0, to = 0.0;
          TriangleBox(cage, triangle, box);
          if (!Span(box, line, &from, &to) || !(to >= 0)) return true;
        }
      }
    }
    if (top == 0) return false;
    --top;
    child = stack[top].child;
    size = stack[top].size;
  }
}

// The nearest-first walk of one ray through the wide nodes: ahead of the
// origin, nearest box first; boxes wholly behind it are set aside, with the
// lowest triangle number under them, for the check after the walk. Every
// step says whether the walk can go on; when it cannot (something
// unexpected, or more to hold than it has room for), the ray goes to the
// search along the whole line.
class NearestFirstWalk {
 public:
  OSTRAND_WALK_TARGET NearestFirstWalk(const RayCastCage& cage, const BvhLine& line, const Vec3& origin,
                                       const Vec3& direction)
      : cage_(cage),
        bvh_(*cage.bvh),
        line_(line),
        origin_(origin),
        direction_(direction),
        repeats_(bvh_.entryCount > bvh_.triangleCount - bvh_.unboundedCount) {
    nearest_.hit = NoHit();
  }

  // The triangles without a box, which every ray is offered.
  OSTRAND_WALK_TARGET bool testUnbounded() {
    for (int32_t i = 0; i < bvh_.unboundedCount; ++i)
      if (TestAhead(cage_, line_, origin_, direction_, bvh_.unbounded[i], &nearest_) == Outcome::kUnexpected)
        return false;
    return true;
  }

  // Ahead of the origin, until no box left can hold a nearer hit. A child
  // (as BvhWideNode::child) is taken with where the ray enters its box,
  // worked out when its parent was.
  OSTRAND_WALK_TARGET bool walkAhead() {
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
  OSTRAND_WALK_TARGET bool checkBehind() const {
    if (behindOverflow_) return false;
    for (int i = 0; i < behindCount_; ++i)
      if ((nearest_.id < 0 || behind_[i].lowest < nearest_.id) &&
          HitBehind(cage_, line_, origin_, direction_, behind_[i].child, behind_[i].size, nearest_.id, tested_))
        return false;
    return true;
  }

  OSTRAND_WALK_TARGET const RayHit& hit() const { return nearest_.hit; }

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

  // A leaf: its entries four at a time.
  OSTRAND_WALK_TARGET bool testLeaf(const Entry& at) {
    for (int32_t g = -1 - at.child; g < -1 - at.child + at.size; ++g) {
      const BvhLeafGroup& group = bvh_.groups[g];
      double enter[4], leave[4];
      for (int bits = WalkBoxes::span(group.bounds, line_, enter, leave); bits != 0; bits &= bits - 1) {
        const int k = std::countr_zero(static_cast<unsigned>(bits));
        const int32_t triangle = group.triangle[k];
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
  OSTRAND_WALK_TARGET bool descend(Entry& at, bool* holding) {
    const BvhWideNode& wide = bvh_.wide[at.child];
    double enter[4], leave[4];
    const int touched = WalkBoxes::span(wide.bounds, line_, enter, leave);
    // The children worth a look, as bits, so that only those are looped over.
    const int live = touched & WalkBoxes::notBeyond(enter, nearest_.cut) & ((1 << wide.count) - 1);
    const int ahead = live & WalkBoxes::reaching(leave);
    for (int bits = live & ~ahead; bits != 0; bits &= bits - 1) {
      const int k = std::countr_zero(static_cast<unsigned>(bits));
      if (behindCount_ < kRoom)
        behind_[behindCount_++] = Behind{wide.child[k], wide.size[k], wide.lowest[k]};
      else
        behindOverflow_ = true;
    }
    *holding = ahead != 0;
    if (ahead == 0) return true;
    if (top_ + 4 > kRoom) return false;
    // The nearest is taken now; the others wait on the stack.
    int nearest = std::countr_zero(static_cast<unsigned>(ahead));
    for (int bits = ahead & (ahead - 1); bits != 0; bits &= bits - 1) {
      const int k = std::countr_zero(static_cast<unsigned>(bits));
      nearest = enter[k] < enter[nearest] ? k : nearest;
    }
    for (int bits = ahead & ~(1 << nearest); bits != 0; bits &= bits - 1) {
      const int k = std::countr_zero(static_cast<unsigned>(bits));
      stack_[top_++] = Entry{wide.child[k], wide.size[k], enter[k]};
    }
    at = Entry{wide.child[nearest], wide.size[nearest], enter[nearest]};
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

// The whole search of one ray: false when the walk cannot take it (the
// hierarchy cannot take the ray, or something unexpected came up), and the
// ray must go to the search along the whole line.
OSTRAND_WALK_TARGET bool WalkNearestFirst(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                                          RayHit* hit) {
  BvhLine line{};
  if (!MakeBvhLine(*cage.bvh, origin, direction, &line)) return false;
  NearestFirstWalk walk(cage, line, origin, direction);
  if (!walk.testUnbounded() || !walk.walkAhead() || !walk.checkBehind()) return false;
  *hit = walk.hit();
  return true;
}

}  // namespace
}  // namespace ostrand
