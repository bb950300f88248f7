#include "geometry/point_coordinates.h"

#include <cmath>

#include "host_interface/memory.h"

namespace ostrand {
namespace {

constexpr double kNearHitDistance = 1e-5;  // below this, the ray share uses kNearHitInverse
constexpr double kLeastTotal = 1e-6;       // a row summing to no more stays unnormalised
constexpr int32_t kLeastCapacity = 8;      // quads and small n-gons never grow the scratch again

bool AllCagePoints(const int32_t* points, int32_t n, uint32_t cagePoints) {
  for (int32_t m = 0; m < n; ++m)
    if (points[m] < 0 || static_cast<uint32_t>(points[m]) >= cagePoints) return false;
  return true;
}

void ClearRow(double* row, uint32_t count) {
  for (uint32_t k = 0; k < count; ++k) row[k] = 0.0;
}

}  // namespace

bool ReserveScratch(PointScratch* scratch, int32_t n) {
  if (n <= scratch->capacity) return true;
  int64_t grown = int64_t{scratch->capacity} * 2;
  if (grown < n) grown = n;
  if (grown < kLeastCapacity) grown = kLeastCapacity;
  if (grown > INT32_MAX) grown = INT32_MAX;
  const size_t size = static_cast<size_t>(grown);

  PointScratch bigger{};
  bigger.capacity = static_cast<int32_t>(grown);
  if (!AllocateArray(bigger.points, size) || !AllocateArray(bigger.positions, size) ||
      !AllocateArray(bigger.weights, size) || !AllocateArray(bigger.corners, size)) {
    FreeScratch(&bigger);
    return false;
  }
  bigger.candidates = scratch->candidates;
  scratch->candidates = CandidateScratch{};
  FreeScratch(scratch);
  *scratch = bigger;
  return true;
}

void FreeScratch(PointScratch* scratch) {
  FreeArray(scratch->points);
  FreeArray(scratch->positions);
  FreeArray(scratch->weights);
  FreeArray(scratch->corners);
  FreeCandidates(&scratch->candidates);
  scratch->capacity = 0;
}

bool ComputePointCoordinates(const CageReads& reads, const RowSettings& settings, const Vec3& origin,
                             const Vec3* directions, const RayCastCage& cage, PointScratch* scratch, double* row) {
  const uint32_t cagePoints = reads.pointCount;
  const uint32_t cageObject = reads.object;
  if (cagePoints != 0) ClearRow(row, cagePoints);
  if (settings.samples <= 0 || directions == nullptr) return true;

  double total = 0.0;
  for (int32_t s = 0; s < settings.samples; ++s) {
    const RayHit hit = FindNearestHit(cage, origin, directions[s], &scratch->candidates);
    if (!hit.found) continue;

    // The polygon's point count first (a host that does not answer leaves 0),
    // then its point numbers. Entries the host leaves unwritten read as -1,
    // outside the cage, so that such a hit is ignored whatever the scratch
    // held before.
    int32_t first = 0, n = 0, second = 0, recount = 0;
    reads.meshPoly(cageObject, hit.polygon, &first, 1, &n, &second, 0);
    // A count beyond the cage's points is not believed: reading it would cost
    // memory and time in proportion to whatever the host claims.
    if (n <= 0 || static_cast<uint32_t>(n) > cagePoints) continue;
    if (!ReserveScratch(scratch, n)) {
      if (cagePoints != 0) ClearRow(row, cagePoints);
      return false;
    }
    int32_t* points = scratch->points;
    for (int32_t m = 0; m < n; ++m) points[m] = -1;
    reads.meshPoly(cageObject, hit.polygon, points, n, &recount, &second, 0);
    if (!AllCagePoints(points, n, cagePoints)) continue;

    // The ray's share: solid angle per ray over the distance to the hit.
    const Vec3 h = HitPoint(hit, reads);
    const double dx = h.x - origin.x, dy = h.y - origin.y, dz = h.z - origin.z;
    const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double f = (r < kNearHitDistance ? kNearHitInverse : 1.0 / r) * settings.sampleWeight;

    // Spread it over the polygon's points; a point listed twice gets both parts.
    Vec3* positions = scratch->positions;
    for (int32_t m = 0; m < n; ++m) {
      positions[m] = Vec3{0.0, 0.0, 0.0};
      reads.meshPoint(cageObject, points[m], &positions[m], 1);
    }
    double* w = scratch->weights;
    PolygonWeights(n, positions, h, f, scratch->corners, w);
    for (int32_t m = 0; m < n; ++m) {
      row[points[m]] += w[m];
      total += w[m];
    }
  }

  if (total > kLeastTotal && cagePoints != 0) NormaliseRow(row, cagePoints, total, settings.tolerance);
  return true;
}

void NormaliseRow(double* row, uint32_t count, double total, double tolerance) {
  const double scale = 1.0 / total;
  for (uint32_t k = 0; k < count; ++k) row[k] = row[k] * scale;

  // Weight floor. It is decided before anything is removed, so that a floor
  // above every weight leaves the point bound rather than dividing by ~0.
  double g = 1.0;
  bool kept = false;
  for (uint32_t k = 0; k < count; ++k) {
    if (tolerance > row[k])
      g -= row[k];
    else if (row[k] != 0.0)
      kept = true;
  }
  if (!kept) return;
  for (uint32_t k = 0; k < count; ++k)
    if (tolerance > row[k]) row[k] = 0.0;
  const double rescale = 1.0 / g;
  for (uint32_t k = 0; k < count; ++k) row[k] = row[k] * rescale;
}

}  // namespace ostrand
