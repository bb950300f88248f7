#include "geometry/point_coordinates.h"

#include <algorithm>
#include <bit>
#include <cstring>
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
      !AllocateArray(bigger.weights, size) || !AllocateArray(bigger.corners, size + 2)) {
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

namespace {

// A point's rays are searched a batch at a time before their hits are
// spread. With grids, the cells of all of them are found first and then
// their lists: the lookups' memory reads then overlap instead of each ray
// waiting for its own.
constexpr int32_t kBatch = 32;

void SearchBatch(const RayCastCage& cage, const Vec3& origin, const Vec3* directions, int32_t first, int32_t batch,
                 PointScratch* scratch, RayHit hits[kBatch]) {
  GridLookup listed[kBatch];
  bool onGrid[kBatch] = {};
  if (cage.grids != nullptr) {
    FindGridCells(*cage.grids, first, batch, origin, listed, onGrid);
    for (int32_t k = 0; k < batch; ++k)
      if (onGrid[k]) ReadGridCell(&listed[k]);
  }
  for (int32_t k = 0; k < batch; ++k)
    hits[k] = onGrid[k] ? FindNearestHitOnGrid(cage, origin, directions[first + k], listed[k])
                        : FindNearestHit(cage, origin, directions[first + k], &scratch->candidates, first + k);
}

// What reading a hit's polygon came to.
enum class HitPolygon { kIgnored, kRead, kNoMemory };

// The hit polygon's point count (*n) and point numbers (*points), from the
// snapshot, which holds the host's answers read once, or from the host: the
// count first (a host that does not answer leaves 0), then the point numbers,
// entries the host leaves unwritten reading as -1, outside the cage, so that
// such a hit is ignored whatever the scratch held before. A count beyond the
// cage's points is not believed: reading it would cost memory and time in
// proportion to whatever the host claims.
HitPolygon ReadHitPolygon(const CageReads& reads, const RayHit& hit, PointScratch* scratch, int32_t* n,
                          const int32_t** points) {
  const CageSnapshot* snapshot = reads.snapshot;
  const bool snapped = snapshot != nullptr && hit.polygon >= 0 && hit.polygon < snapshot->polygonCount;
  int32_t first = 0, second = 0, recount = 0;
  *n = 0;
  if (snapped)
    *n = snapshot->counts[hit.polygon];
  else
    reads.meshPoly(reads.object, hit.polygon, &first, 1, n, &second, 0);
  if (*n <= 0 || static_cast<uint32_t>(*n) > reads.pointCount) return HitPolygon::kIgnored;
  if (*n > scratch->capacity && !ReserveScratch(scratch, *n)) return HitPolygon::kNoMemory;
  if (snapped) {
    *points = snapshot->points + snapshot->starts[hit.polygon];
    return snapshot->usable[hit.polygon] != 0 ? HitPolygon::kRead : HitPolygon::kIgnored;
  }
  for (int32_t m = 0; m < *n; ++m) scratch->points[m] = -1;
  reads.meshPoly(reads.object, hit.polygon, scratch->points, *n, &recount, &second, 0);
  *points = scratch->points;
  return AllCagePoints(scratch->points, *n, reads.pointCount) ? HitPolygon::kRead : HitPolygon::kIgnored;
}

// The positions of the hit polygon's corners: the snapshot's, or the host's
// read into the scratch.
const Vec3* HitCorners(const CageReads& reads, const RayHit& hit, int32_t n, const int32_t* points,
                       PointScratch* scratch) {
  const CageSnapshot* snapshot = reads.snapshot;
  if (snapshot != nullptr && hit.polygon >= 0 && hit.polygon < snapshot->polygonCount)
    return snapshot->corners + snapshot->starts[hit.polygon];
  for (int32_t m = 0; m < n; ++m) {
    scratch->positions[m] = Vec3{0.0, 0.0, 0.0};
    reads.meshPoint(reads.object, points[m], &scratch->positions[m], 1);
  }
  return scratch->positions;
}

// Adds w[0, n) to the row at the polygon's points (a point listed twice gets
// both parts) and to *sum; with a sparse row, also records the entries
// touched for the first time.
inline void AddToRow(const int32_t* points, const double* w, int32_t n, double* row, SparseRow* sparse, double* sum) {
  double total = *sum;
  if (sparse == nullptr) {
    for (int32_t m = 0; m < n; ++m) {
      row[points[m]] += w[m];
      total += w[m];
    }
    *sum = total;
    return;
  }
  uint8_t* touched = sparse->touched;
  int32_t* entries = sparse->entries;
  int32_t count = sparse->count;
  for (int32_t m = 0; m < n; ++m) {
    const int32_t k = points[m];
    row[k] += w[m];
    total += w[m];
    if (touched[k] != 0) continue;
    touched[k] = 1;
    entries[count++] = k;
  }
  sparse->count = count;
  *sum = total;
}

// Adds every ray's share to row (cleared by the caller) and its sum to
// *total; with a sparse row, also records the entries touched. False when
// scratch could not grow for a hit's polygon.
bool AccumulateRays(const CageReads& reads, const RowSettings& settings, const Vec3& origin, const Vec3* directions,
                    const RayCastCage& cage, PointScratch* scratch, double* row, SparseRow* sparse, double* total) {
  double sum = *total;  // in a register, not through the pointer row might alias
  RayHit hits[kBatch];
  for (int32_t s = 0; s < settings.samples; ++s) {
    const int32_t b = s % kBatch;
    if (b == 0) {
      const int32_t batch = settings.samples - s < kBatch ? settings.samples - s : kBatch;
      SearchBatch(cage, origin, directions, s, batch, scratch, hits);
    }
    const RayHit& hit = hits[b];
    if (!hit.found) continue;
    int32_t n = 0;
    const int32_t* points = nullptr;
    const HitPolygon read = ReadHitPolygon(reads, hit, scratch, &n, &points);
    if (read == HitPolygon::kNoMemory) {
      *total = sum;
      return false;
    }
    if (read == HitPolygon::kIgnored) continue;
    // The ray's share: solid angle per ray over the distance to the hit,
    // spread over the polygon's points.
    const Vec3 h = HitPoint(hit, reads);
    const double dx = h.x - origin.x, dy = h.y - origin.y, dz = h.z - origin.z;
    const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double f = (r < kNearHitDistance ? kNearHitInverse : 1.0 / r) * settings.sampleWeight;
    const Vec3* positions = HitCorners(reads, hit, n, points, scratch);
    PolygonWeights(n, positions, h, f, scratch->corners, scratch->weights);
    AddToRow(points, scratch->weights, n, row, sparse, &sum);
  }
  *total = sum;
  return true;
}

// Puts the touched entries in ascending order: a sort when they are few, a
// pass over the flags when they are many, eight at a time.
void SortTouched(SparseRow* row) {
  if (static_cast<uint64_t>(row->count) * 64 < row->size) {
    std::sort(row->entries, row->entries + row->count);
    return;
  }
  const uint8_t* touched = row->touched;
  int32_t next = 0;
  uint32_t k = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; k + 8 <= row->size; k += 8) {
      uint64_t flags = 0;
      std::memcpy(&flags, touched + k, sizeof flags);
      for (; flags != 0; flags &= flags - 1)  // flags are 0 or 1: a bit for each entry touched
        row->entries[next++] = static_cast<int32_t>(k + std::countr_zero(flags) / 8);
    }
  }
  for (; k < row->size; ++k)
    if (touched[k] != 0) row->entries[next++] = static_cast<int32_t>(k);
}

// NormaliseRow on the touched entries alone, when that is exact: an entry
// nobody touched is 0, which the scaling keeps at 0 (or -0.0, dropped all
// the same) and which the floor subtracts without changing g, so only a
// rescale that is not finite (0 times infinity is NaN) needs the whole row.
// Returns false, with the row untouched, in that case. Otherwise appends the
// entries that are not 0.0 to kept (which has room for them), in the order
// of row->entries, and leaves the row cleared.
bool KeepTouched(SparseRow* row, double total, double weightFloor, KeptWeights* kept) {
  // In locals: the stores below could otherwise be the records' own fields.
  double* values = row->values;
  uint8_t* touched = row->touched;
  const int32_t* entries = row->entries;
  const int32_t count = row->count;
  const double scale = 1.0 / total;
  double g = 1.0;
  bool floored = false;
  for (int32_t e = 0; e < count; ++e) {
    const double v = values[entries[e]] * scale;
    if (weightFloor > v)
      g -= v;
    else if (v != 0.0)
      floored = true;
  }
  const double rescale = 1.0 / g;
  if (floored && !std::isfinite(rescale)) return false;
  double* weights = kept->weights;
  int32_t* indices = kept->indices;
  int64_t next = kept->count;
  for (int32_t e = 0; e < count; ++e) {
    const int32_t k = entries[e];
    double value = values[k] * scale;
    if (floored) {
      if (weightFloor > value) value = 0.0;
      value = value * rescale;
    }
    values[k] = 0.0;
    touched[k] = 0;
    if (value == 0.0) continue;
    weights[next] = value;
    indices[next++] = k;
  }
  kept->count = next;
  row->count = 0;
  return true;
}

// Clears what the point touched; the whole row after a whole-row pass.
void ClearTouched(SparseRow* row, bool wholeRow) {
  if (wholeRow) {
    ClearRow(row->values, row->size);
  } else {
    for (int32_t e = 0; e < row->count; ++e) row->values[row->entries[e]] = 0.0;
  }
  for (int32_t e = 0; e < row->count; ++e) row->touched[row->entries[e]] = 0;
  row->count = 0;
}

// Room for n more kept weights.
bool ReserveKept(KeptWeights* kept, int64_t n) {
  if (kept->count + n <= kept->capacity) return true;
  int64_t grown = kept->capacity * 2;
  if (grown < kept->count + n) grown = kept->count + n;
  if (grown < 256) grown = 256;
  const auto size = static_cast<size_t>(grown);
  if (!ResizeArray(kept->weights, size) || !ResizeArray(kept->indices, size)) return false;
  kept->capacity = grown;
  return true;
}

}  // namespace

bool ReserveSparseRow(SparseRow* row, uint32_t size) {
  FreeSparseRow(row);
  if (!AllocateArray(row->values, size) || !AllocateArray(row->touched, size) ||
      !AllocateArray(row->entries, size)) {
    FreeSparseRow(row);
    return false;
  }
  row->size = size;
  return true;
}

void FreeSparseRow(SparseRow* row) {
  FreeArray(row->values);
  FreeArray(row->touched);
  FreeArray(row->entries);
  row->size = 0;
  row->count = 0;
}

void FreeKeptWeights(KeptWeights* kept) {
  FreeArray(kept->weights);
  FreeArray(kept->indices);
  kept->count = 0;
  kept->capacity = 0;
}

bool ComputePointCoordinates(const CageReads& reads, const RowSettings& settings, const Vec3& origin,
                             const Vec3* directions, const RayCastCage& cage, PointScratch* scratch, double* row) {
  const uint32_t cagePoints = reads.pointCount;
  if (cagePoints != 0) ClearRow(row, cagePoints);
  if (settings.samples <= 0 || directions == nullptr) return true;

  double total = 0.0;
  if (!AccumulateRays(reads, settings, origin, directions, cage, scratch, row, nullptr, &total)) {
    if (cagePoints != 0) ClearRow(row, cagePoints);
    return false;
  }
  if (total > kLeastTotal && cagePoints != 0) NormaliseRow(row, cagePoints, total, settings.weightFloor);
  return true;
}

bool ComputeKeptCoordinates(const CageReads& reads, const RowSettings& settings, const Vec3& origin,
                            const Vec3* directions, const RayCastCage& cage, PointScratch* scratch, SparseRow* row,
                            KeptWeights* kept, int32_t* keptCount) {
  *keptCount = 0;
  if (settings.samples <= 0 || directions == nullptr || row->size == 0) return true;

  double total = 0.0;
  if (!AccumulateRays(reads, settings, origin, directions, cage, scratch, row->values, row, &total) ||
      !ReserveKept(kept, row->count)) {
    ClearTouched(row, false);
    return false;
  }
  SortTouched(row);
  const int64_t before = kept->count;
  if (total > kLeastTotal) {
    if (!KeepTouched(row, total, settings.weightFloor, kept)) {
      // The rescale is not finite: the whole row is worked, and may then be
      // NaN anywhere, so it is read whole.
      NormaliseRow(row->values, row->size, total, settings.weightFloor);
      if (!ReserveKept(kept, row->size)) {
        ClearTouched(row, true);
        return false;
      }
      int64_t next = kept->count;
      for (uint32_t k = 0; k < row->size; ++k)
        if (!(row->values[k] == 0.0)) {
          kept->weights[next] = row->values[k];
          kept->indices[next++] = static_cast<int32_t>(k);
        }
      kept->count = next;
      ClearTouched(row, true);
    }
  } else {
    // Too little to normalise: the sums are kept as they are.
    int64_t next = kept->count;
    for (int32_t e = 0; e < row->count; ++e) {
      const int32_t k = row->entries[e];
      if (row->values[k] == 0.0) continue;
      kept->weights[next] = row->values[k];
      kept->indices[next++] = k;
    }
    kept->count = next;
    ClearTouched(row, false);
  }
  *keptCount = static_cast<int32_t>(kept->count - before);
  return true;
}

void NormaliseRow(double* row, uint32_t count, double total, double weightFloor) {
  const double scale = 1.0 / total;
  for (uint32_t k = 0; k < count; ++k) row[k] = row[k] * scale;

  // Weight floor. It is decided before anything is removed, so that a floor
  // above every weight leaves the point bound rather than dividing by ~0.
  double g = 1.0;
  bool kept = false;
  for (uint32_t k = 0; k < count; ++k) {
    if (weightFloor > row[k])
      g -= row[k];
    else if (row[k] != 0.0)
      kept = true;
  }
  if (!kept) return;
  for (uint32_t k = 0; k < count; ++k)
    if (weightFloor > row[k]) row[k] = 0.0;
  const double rescale = 1.0 / g;
  for (uint32_t k = 0; k < count; ++k) row[k] = row[k] * rescale;
}

}  // namespace ostrand
