// The two nearest-hit searches side by side, for tests that require the
// accelerated search to give the exhaustive one's result bit for bit.
#pragma once

#include <cstring>

#include "geometry/cage_bvh.h"
#include "geometry/ray_casting.h"

namespace test_support {

// A hierarchy built over a cage and one thread's candidate list, both freed
// with this record.
class AcceleratedCage {
 public:
  explicit AcceleratedCage(const ostrand::RayCastCage& base) : cage_(base) {
    built_ = ostrand::BuildCageBvh(base.cage, base.positions, base.pointCount, &bvh_);
    cage_.bvh = &bvh_;
  }
  ~AcceleratedCage() {
    ostrand::FreeCageBvh(&bvh_);
    ostrand::FreeCandidates(&scratch_);
  }
  AcceleratedCage(const AcceleratedCage&) = delete;
  AcceleratedCage& operator=(const AcceleratedCage&) = delete;

  bool built() const { return built_; }
  const ostrand::CageBvh& bvh() const { return bvh_; }
  const ostrand::CandidateScratch& candidates() const { return scratch_; }

  ostrand::RayHit find(const Vec3& origin, const Vec3& direction) {
    return ostrand::FindNearestHitAccelerated(cage_, origin, direction, &scratch_);
  }
  ostrand::RayHit findAlongLine(const Vec3& origin, const Vec3& direction) {
    return ostrand::FindNearestHitAlongLine(cage_, origin, direction, &scratch_);
  }
  bool collect(const Vec3& origin, const Vec3& direction) {
    return ostrand::CollectCandidates(bvh_, origin, direction, &scratch_);
  }

 private:
  ostrand::RayCastCage cage_;
  ostrand::CageBvh bvh_{};
  ostrand::CandidateScratch scratch_{};
  bool built_ = false;
};

// Every field, bit for bit.
inline bool SameHit(const ostrand::RayHit& a, const ostrand::RayHit& b) {
  return a.found == b.found && a.polygon == b.polygon && std::memcmp(a.corners, b.corners, sizeof a.corners) == 0 &&
         std::memcmp(a.barycentric, b.barycentric, sizeof a.barycentric) == 0 &&
         std::memcmp(&a.distance, &b.distance, sizeof a.distance) == 0;
}

}  // namespace test_support
