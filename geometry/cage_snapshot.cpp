#include "geometry/cage_snapshot.h"

#include "geometry/ray_casting.h"
#include "host_interface/memory.h"

namespace ostrand {
namespace {

// More point numbers than this in all, for a cage of this many points and
// polygons, is a host's claim, not a cage: not worth the memory.
int64_t MostPointNumbers(uint32_t cagePoints, int32_t polygonCount) {
  return 16 * (int64_t{cagePoints} + int64_t{polygonCount}) + 1024;
}

}  // namespace

bool TakeCageSnapshot(const CageReads& reads, int32_t polygonCount, CageSnapshot* snapshot) {
  *snapshot = CageSnapshot{};
  if (polygonCount < 0 || reads.meshPoly == nullptr || reads.meshPoint == nullptr) return false;
  const auto polygons = static_cast<size_t>(polygonCount);
  if (!AllocateArray(snapshot->counts, polygons) || !AllocateArray(snapshot->usable, polygons) ||
      !AllocateArray(snapshot->starts, polygons + 1) || !AllocateArray(snapshot->positions, reads.pointCount)) {
    FreeCageSnapshot(snapshot);
    return false;
  }
  // The counts first, as a hit asks for them: one entry of room.
  int64_t total = 0;
  for (int32_t j = 0; j < polygonCount; ++j) {
    int32_t first = 0, n = 0, second = 0;
    reads.meshPoly(reads.object, j, &first, 1, &n, &second, 0);
    snapshot->counts[j] = n;
    snapshot->starts[j] = total;
    if (n > 0 && static_cast<uint32_t>(n) <= reads.pointCount) total += n;
  }
  snapshot->starts[polygonCount] = total;
  if (total > MostPointNumbers(reads.pointCount, polygonCount) ||
      !AllocateArray(snapshot->points, static_cast<size_t>(total))) {
    FreeCageSnapshot(snapshot);
    return false;
  }
  // Then each polygon's point numbers, entries the host leaves unwritten
  // reading as -1, outside the cage.
  for (int32_t j = 0; j < polygonCount; ++j) {
    const int32_t n = snapshot->counts[j];
    if (n <= 0 || static_cast<uint32_t>(n) > reads.pointCount) continue;
    int32_t* points = snapshot->points + snapshot->starts[j];
    for (int32_t m = 0; m < n; ++m) points[m] = -1;
    int32_t recount = 0, second = 0;
    reads.meshPoly(reads.object, j, points, n, &recount, &second, 0);
    bool usable = true;
    for (int32_t m = 0; m < n; ++m)
      usable = usable && points[m] >= 0 && static_cast<uint32_t>(points[m]) < reads.pointCount;
    snapshot->usable[j] = usable ? 1 : 0;
  }
  for (uint32_t k = 0; k < reads.pointCount; ++k)
    reads.meshPoint(reads.object, static_cast<int32_t>(k), &snapshot->positions[k], 1);
  if (!AllocateArray(snapshot->corners, static_cast<size_t>(total))) {
    FreeCageSnapshot(snapshot);
    return false;
  }
  for (int32_t j = 0; j < polygonCount; ++j) {
    if (snapshot->usable[j] == 0) continue;
    const int64_t start = snapshot->starts[j];
    for (int32_t m = 0; m < snapshot->counts[j]; ++m)
      snapshot->corners[start + m] = snapshot->positions[snapshot->points[start + m]];
  }
  snapshot->polygonCount = polygonCount;
  return true;
}

void FreeCageSnapshot(CageSnapshot* snapshot) {
  FreeArray(snapshot->counts);
  FreeArray(snapshot->usable);
  FreeArray(snapshot->starts);
  FreeArray(snapshot->points);
  FreeArray(snapshot->positions);
  FreeArray(snapshot->corners);
  snapshot->polygonCount = 0;
}

}  // namespace ostrand
