// The "Calculate" pass: cage coordinates for every active point of every
// target of an instance, in parallel loops with progress in tenths.
#pragma once

#include <cstdint>

#include "geometry/point_coordinates.h"
#include "geometry/ray_casting.h"
#include "ostrand/types.h"

namespace ostrand {

// One parallel loop over rows [firstRow, endRow) of a target; shared
// read-only by all threads of the loop.
struct RowJob {
  const Vec3* directions;  // the instance's Samples directions (null when Samples <= 0)
  RowSettings settings;    // Samples, the solid angle per ray and the weight floor
  RayCastCage cage;        // the triangulated cage and the positions its corners index
  CageReads reads;         // the host's reads of the cage, and CagePoints
  TargetEntry* target;
  int64_t firstRow;
  int64_t endRow;
};

// Work on one row; false when the row could not be computed (it is then left
// all zeros). scratch belongs to the calling thread for the whole loop.
using RowTask = bool (*)(const RowJob& job, int64_t row, PointScratch* scratch);

// The row task of the calculation: reads the active point's position,
// fxMeshPoint(ObjectId, PointIndices[row], ., 1), and computes its row.
bool CalculateRow(const RowJob& job, int64_t row, PointScratch* scratch);

// Runs task for every row of the job in one parallel region of WorkerThreads()
// threads. Thread t of T takes the contiguous block StaticBlock(firstRow,
// endRow, t, T) and runs its rows in increasing order, so a row's result
// never depends on the thread count. Returns once every thread is done, with
// the number of rows whose task returned false.
int64_t RunRowLoop(const RowJob& job, RowTask task);

// Fills every dense row of one target (see ComputePointCoordinates). Targets
// of more than 10 active points run in ten tenths and a rest, each tenth
// announced before it starts with fxMessageProgress(0, 10 b, kProgressKind,
// "<name>: calculating coordinates b / 10") and the rest after "10 / 10" at
// 100 %; smaller targets run in one loop without progress. Host calls other
// than those made per row come from the calling thread only. Returns false,
// after telling the user, when some rows could not be computed, or when
// nothing could (as CalculateCoordinates refuses, or when the host's
// triangulation is null or holds a negative count or a missing block).
bool CalculateTarget(EffectInstance* instance, TargetEntry* target);

// Shows why and returns true when nothing can be calculated: the host lacks
// the triangulation or ray test service, or the sample count is beyond
// kMaxSampleDirections.
bool RefuseCalculation(const EffectInstance* instance);

// What CalculateCoordinates does with a target some of whose rows could not
// be computed: keep its rows as they came out, or release its computed data
// (as "Calculate" does, so that evaluation leaves the target alone instead of
// moving its uncalculated points to the origin).
enum class IncompleteTarget { kKeepRows, kRelease };

// CalculateTarget for every target, in table order. Refuses with one message
// (and computes nothing: the rows stay as they are) when the host lacks the
// triangulation or ray test service or the sample count is beyond
// kMaxSampleDirections. Returns true when every row was computed.
bool CalculateCoordinates(EffectInstance* instance, IncompleteTarget incomplete = IncompleteTarget::kKeepRows);

}  // namespace ostrand
