#include "geometry/ray_casting.h"

namespace ostrand {
namespace {

// Marks that no triangle has been taken yet. The ray test reports positive
// distances only, so it never collides with a real one.
constexpr double kNothingTaken = -1.0;

inline bool IsCagePoint(int32_t k, uint32_t pointCount) {
  return k >= 0 && static_cast<uint32_t>(k) < pointCount;
}

}  // namespace

RayHit NoHit() {
  RayHit hit{};
  hit.found = false;
  hit.polygon = -1;
  hit.distance = kNothingTaken;
  return hit;
}

void ConsiderTriangle(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, int32_t polygon,
                      const int32_t corners[3], RayHit* hit) {
  const int32_t k0 = corners[0], k1 = corners[1], k2 = corners[2];
  if (!IsCagePoint(k0, cage.pointCount) || !IsCagePoint(k1, cage.pointCount) || !IsCagePoint(k2, cage.pointCount))
    return;
  double d = 0.0;
  double b[3] = {0.0, 0.0, 0.0};
  if (cage.rayTest(&origin, &direction, &cage.positions[k0], &cage.positions[k1], &cage.positions[k2], &d, b, 0) == 0)
    return;
  const double best = hit->distance;
  // The first triangle hit is taken whatever its distance; after that only a
  // strictly nearer one, so equal distances keep the earlier triangle.
  if ((best > d && d > 0) || best == kNothingTaken) RecordHit(polygon, corners, d, b, hit);
}

RayHit FindNearestHitExhaustive(const RayCastCage& cage, const Vec3& origin, const Vec3& direction) {
  RayHit hit = NoHit();
  const TriangulatedCage* mesh = cage.cage;
  // Whatever the geometry module hands over, only what it validly describes
  // is read: a bad record or count reads as no triangles.
  if (cage.rayTest == nullptr || mesh == nullptr || mesh->polygons == nullptr || mesh->polygonCount <= 0) return hit;
  for (int32_t j = 0; j < mesh->polygonCount; ++j) {
    const TriangulatedPolygon& polygon = mesh->polygons[j];
    if (polygon.triangles == nullptr) continue;
    for (int32_t t = 0; t < polygon.triangleCount; ++t)
      ConsiderTriangle(cage, origin, direction, j, polygon.triangles[t], &hit);
  }
  return hit;
}

RayHit FindNearestHit(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, CandidateScratch* scratch,
                      int32_t sample) {
  if (cage.bvh == nullptr || scratch == nullptr) return FindNearestHitExhaustive(cage, origin, direction);
  if (cage.wholeLine || (cage.grids != nullptr && sample >= 0))
    return FindNearestHitAlongLine(cage, origin, direction, scratch, sample);
  return FindNearestHitNearestFirst(cage, origin, direction, scratch);
}

namespace {

Vec3 Blend(const double b[3], const Vec3& q0, const Vec3& q1, const Vec3& q2) {
  return Vec3{b[0] * q0.x + b[1] * q1.x + b[2] * q2.x,
              b[0] * q0.y + b[1] * q1.y + b[2] * q2.y,
              b[0] * q0.z + b[1] * q1.z + b[2] * q2.z};
}

}  // namespace

Vec3 HitPoint(const RayHit& hit, const CageReads& reads) {
  // The corners are cage points (a triangle with one outside is never hit).
  if (reads.snapshot != nullptr) {
    const Vec3* q = reads.snapshot->positions;
    return Blend(hit.barycentric, q[hit.corners[0]], q[hit.corners[1]], q[hit.corners[2]]);
  }
  Vec3 q[3] = {};
  for (int c = 0; c < 3; ++c) reads.meshPoint(reads.object, hit.corners[c], &q[c], 1);
  return Blend(hit.barycentric, q[0], q[1], q[2]);
}

}  // namespace ostrand
