// The cage coordinates of one target point: one weight per cage point.
#pragma once

#include <cstdint>

#include "geometry/polygon_weights.h"
#include "geometry/ray_casting.h"
#include "ostrand/types.h"

namespace ostrand {

// Per-thread working arrays for the polygons that rays hit, grown to the
// largest polygon met so far and reused for every hit and row, so that a hit
// costs no heap traffic; and the thread's list of candidate triangles for the
// accelerated search, grown the same way. Zero-initialise before use; release
// with FreeScratch.
struct PointScratch {
  int32_t capacity;  // entries of each polygon array
  int32_t* points;   // the hit polygon's point numbers
  Vec3* positions;   // their positions
  double* weights;   // their shares of the ray
  PolygonCorner* corners;  // capacity + 2 entries, as PolygonWeights wants
  CandidateScratch candidates;
};

// Makes room for n entries in every polygon array, keeping the arrays when
// they are large enough. Returns false, with the scratch as it was, when the
// memory cannot be had.
bool ReserveScratch(PointScratch* scratch, int32_t n);
void FreeScratch(PointScratch* scratch);

// Ray share of a hit nearer than 1e-5 in place of 1 / distance: the largest
// double below 100000, so that a point lying on the cage is bound to it.
inline constexpr double kNearHitInverse = 99999.99999999999;

// The settings a row is computed with.
struct RowSettings {
  int32_t samples;      // rays per point; directions holds that many
  double sampleWeight;  // solid angle per ray: 4 pi / samples
  double weightFloor;   // weights below it are dropped (the record's Tolerance)
};

// Fills row (reads.pointCount entries, one per cage point): clears it, casts
// one ray from origin along each of settings.samples directions and adds each
// hit's share, (1 / distance) * sampleWeight, to the points of the cage
// polygon hit, spread with PolygonWeights; then NormaliseRow when the sum
// exceeds 1e-6. A hit is ignored when the host gives its polygon no points,
// more points than reads.pointCount, or a point number outside [0,
// reads.pointCount). Nothing but the row and the scratch is written, so rows
// may be computed on many threads at once.
//
// Returns false when scratch could not grow for a hit's polygon; the row is
// then all zeros.
bool ComputePointCoordinates(const CageReads& reads, const RowSettings& settings, const Vec3& origin,
                             const Vec3* directions, const RayCastCage& cage, PointScratch* scratch, double* row);

// One thread's row of cage point entries for computing one point at a time:
// all zeros between points, with the entries the current point touched.
// Zero-initialise; ReserveSparseRow makes it ready; release with FreeSparseRow.
struct SparseRow {
  uint32_t size;     // entries: CagePoints
  double* values;    // the row
  uint8_t* touched;  // 1 where the current point added something
  int32_t* entries;  // those entries, each once, in the order first touched
  int32_t count;
};

// Makes row a zero row of size entries. Returns false, with row emptied,
// when the memory cannot be had.
bool ReserveSparseRow(SparseRow* row, uint32_t size);
void FreeSparseRow(SparseRow* row);

// One thread's kept weights, the rows it computed one after the other, each
// row's entries in ascending cage point order. Zero-initialise; release with
// FreeKeptWeights.
struct KeptWeights {
  double* weights;
  int32_t* indices;  // the cage point of each weight
  int64_t count;
  int64_t capacity;
};

void FreeKeptWeights(KeptWeights* kept);

// The row ComputePointCoordinates computes, without its zeros: computed in
// row (reads.pointCount entries, all zeros on entry, all zeros again on
// return), normalised and floored as there, and its entries that are not
// equal to 0.0 (a NaN stays, -0.0 goes) appended to kept in ascending cage
// point order, bit for bit those that ComputePointCoordinates leaves in its
// row. *keptCount receives how many. Costs time in proportion to the entries
// the rays touch, not to the cage's points, save when the floor leaves a
// rescale that is not finite (then the whole row is worked, as the dense
// computation does).
//
// Returns false, with nothing appended and *keptCount 0, when scratch or
// kept could not grow.
bool ComputeKeptCoordinates(const CageReads& reads, const RowSettings& settings, const Vec3& origin,
                            const Vec3* directions, const RayCastCage& cage, PointScratch* scratch, SparseRow* row,
                            KeptWeights* kept, int32_t* keptCount);

// Scales the count entries of a row by 1 / total, then applies the weight
// floor: entries below weightFloor become 0 and the rest are scaled by 1 / g,
// g being 1 minus the removed entries. When the floor would remove every
// non-zero entry (g is then about 0, of either sign), the row is left as
// scaled by 1 / total.
void NormaliseRow(double* row, uint32_t count, double total, double weightFloor);

}  // namespace ostrand
