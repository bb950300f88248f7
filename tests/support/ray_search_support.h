// The two nearest-hit searches side by side, for tests that require the
// accelerated search to give the exhaustive one's result bit for bit.
#pragma once

#include <chrono>
#include <cstring>
#include <vector>

#include "geometry/cage_bvh.h"
#include "geometry/direction_grids.h"
#include "geometry/ray_casting.h"
#include "host/host.h"
#include "support/cages.h"

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
    ostrand::FreeDirectionGrids(&grids_);
    ostrand::FreeCageBvh(&bvh_);
    ostrand::FreeCandidates(&scratch_);
  }
  AcceleratedCage(const AcceleratedCage&) = delete;
  AcceleratedCage& operator=(const AcceleratedCage&) = delete;

  bool built() const { return built_; }
  const ostrand::CageBvh& bvh() const { return bvh_; }
  const ostrand::CandidateScratch& candidates() const { return scratch_; }

  ostrand::RayHit find(const Vec3& origin, const Vec3& direction) {
    return ostrand::FindNearestHitNearestFirst(cage_, origin, direction, &scratch_);
  }
  // The nearest-first search with the boxes tested `lanes` at a time.
  ostrand::RayHit findIn(ostrand::BoxLanes lanes, const Vec3& origin, const Vec3& direction) {
    return ostrand::FindNearestHitNearestFirstIn(lanes, cage_, origin, direction, &scratch_);
  }
  ostrand::RayHit findAlongLine(const Vec3& origin, const Vec3& direction) {
    return ostrand::FindNearestHitAlongLine(cage_, origin, direction, &scratch_);
  }
  bool collect(const Vec3& origin, const Vec3& direction) {
    return ostrand::CollectCandidates(bvh_, origin, direction, &scratch_);
  }

  // Grids across these directions, replacing any built before.
  bool buildGrids(const std::vector<Vec3>& directions) {
    ostrand::FreeDirectionGrids(&grids_);
    return ostrand::BuildDirectionGrids(bvh_, cage_.positions, cage_.pointCount, directions.data(),
                                        static_cast<int32_t>(directions.size()), &grids_);
  }
  const ostrand::DirectionGrids& grids() const { return grids_; }
  // The search along directions[sample] of the grids.
  ostrand::RayHit findOnGrid(const Vec3& origin, const Vec3& direction, int32_t sample) {
    ostrand::RayCastCage cage = cage_;
    cage.grids = &grids_;
    return ostrand::FindNearestHitAlongLine(cage, origin, direction, &scratch_, sample);
  }

 private:
  ostrand::RayCastCage cage_;
  ostrand::DirectionGrids grids_{};
  ostrand::CageBvh bvh_{};
  ostrand::CandidateScratch scratch_{};
  bool built_ = false;
};

// A mesh's hierarchy (and grids across the directions given), built once
// and searched from several threads with the host's ray test called
// directly, each thread with a candidate list of its own (Scratch): the
// search alone, for benchmarks.
class SharedSearch {
 public:
  SharedSearch(const host::Mesh& mesh, const std::vector<Vec3>& directions)
      : triangulation_(mesh),
        cage_{&triangulation_.cage, mesh.points.data(), static_cast<uint32_t>(mesh.points.size()),
              &host::RayIntersectTriangle, nullptr} {
    built_ = ostrand::BuildCageBvh(cage_.cage, cage_.positions, cage_.pointCount, &bvh_);
    cage_.bvh = &bvh_;
    const auto start = std::chrono::steady_clock::now();
    gridsBuilt_ = built_ && ostrand::BuildDirectionGrids(bvh_, cage_.positions, cage_.pointCount, directions.data(),
                                                         static_cast<int32_t>(directions.size()), &grids_);
    gridSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  ~SharedSearch() {
    ostrand::FreeDirectionGrids(&grids_);
    ostrand::FreeCageBvh(&bvh_);
  }
  SharedSearch(const SharedSearch&) = delete;
  SharedSearch& operator=(const SharedSearch&) = delete;

  bool built() const { return built_ && gridsBuilt_; }
  const ostrand::CageBvh& bvh() const { return bvh_; }
  double gridSeconds() const { return gridSeconds_; }

  struct Scratch {
    ostrand::CandidateScratch candidates{};
    Scratch() = default;
    ~Scratch() { ostrand::FreeCandidates(&candidates); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
  };

  enum class Way { kNearestFirst, kWholeLine, kGrids };

  // The ray from origin along directions[sample] (as given to the
  // constructor), searched the way asked.
  ostrand::RayHit find(const Vec3& origin, const Vec3& direction, int32_t sample, Way way, Scratch* scratch) const {
    ostrand::RayCastCage cage = cage_;
    cage.wholeLine = way == Way::kWholeLine;
    if (way == Way::kGrids) cage.grids = &grids_;
    return ostrand::FindNearestHit(cage, origin, direction, &scratch->candidates, sample);
  }

 private:
  OwnedTriangulation triangulation_;
  ostrand::RayCastCage cage_;
  ostrand::CageBvh bvh_{};
  ostrand::DirectionGrids grids_{};
  bool built_ = false;
  bool gridsBuilt_ = false;
  double gridSeconds_ = 0;
};

// Every field, bit for bit.
inline bool SameHit(const ostrand::RayHit& a, const ostrand::RayHit& b) {
  return a.found == b.found && a.polygon == b.polygon && std::memcmp(a.corners, b.corners, sizeof a.corners) == 0 &&
         std::memcmp(a.barycentric, b.barycentric, sizeof a.barycentric) == 0 &&
         std::memcmp(&a.distance, &b.distance, sizeof a.distance) == 0;
}

}  // namespace test_support
