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
  PolygonCorner* corners;
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
  double tolerance;     // the weight floor
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

// Scales the count entries of a row by 1 / total, then applies the weight
// floor: entries below tolerance become 0 and the rest are scaled by 1 / g,
// g being 1 minus the removed entries. When the floor would remove every
// non-zero entry (g is then about 0, of either sign), the row is left as
// scaled by 1 / total.
void NormaliseRow(double* row, uint32_t count, double total, double tolerance);

}  // namespace ostrand
