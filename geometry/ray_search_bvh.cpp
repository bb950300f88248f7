// The nearest-hit searches through the hierarchy: nearest first with an
// early stop (nearest_first_walk.h, which says why it is exact), and along
// the whole line, over a grid lookup's candidates or the hierarchy's.
#include <cmath>

#include "geometry/avx2.h"
#include "geometry/cage_bvh_line.h"
#include "geometry/nearest_first_avx2.h"
#include "geometry/ray_casting.h"

namespace ostrand {
namespace {

// The box tests two at a time (SSE2; one at a time elsewhere).
struct WalkBoxes {
  static int span(const float (&bounds)[6][4], const BvhLine& line, double enter[4], double leave[4]) {
    return SpanFour(bounds, line, enter, leave);
  }
  static int notBeyond(const double enter[4], double cut) { return NotBeyond(enter, cut); }
  static int reaching(const double leave[4]) { return Reaching(leave); }
};

}  // namespace
}  // namespace ostrand

#define OSTRAND_WALK_TARGET
#include "geometry/nearest_first_walk.h"

namespace ostrand {
namespace {

// Grid cells listing more triangles than this have them sifted by their
// shadows before any ray test (measured with bench/bind_scale_bench and
// bench/calculate_bench: cheaper than the tests it saves only on long lists).
constexpr int32_t kSiftFrom = 4;

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

BoxLanes WidestBoxLanes() { return Avx2Offered() ? BoxLanes::kFour : BoxLanes::kTwo; }

RayHit FindNearestHitNearestFirstIn(BoxLanes lanes, const RayCastCage& cage, const Vec3& origin,
                                    const Vec3& direction, CandidateScratch* scratch) {
  if (cage.rayTest == nullptr) return NoHit();
  RayHit hit = NoHit();
#if OSTRAND_AVX2
  const bool walked = lanes == BoxLanes::kFour && Avx2Offered()
                          ? WalkNearestFirstAvx2(cage, origin, direction, &hit)
                          : WalkNearestFirst(cage, origin, direction, &hit);
#else
  (void)lanes;
  const bool walked = WalkNearestFirst(cage, origin, direction, &hit);
#endif
  return walked ? hit : FindNearestHitAlongLine(cage, origin, direction, scratch);
}

RayHit FindNearestHitNearestFirst(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                                  CandidateScratch* scratch) {
  return FindNearestHitNearestFirstIn(BoxLanes::kFour, cage, origin, direction, scratch);
}

}  // namespace ostrand
