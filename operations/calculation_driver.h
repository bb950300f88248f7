// The "Calculate" pass: cage coordinates for every active point of every
// target of an instance, in parallel loops with progress in tenths.
#pragma once

#include <cstdint>
#include <climits>

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

// What one worker thread keeps for itself through a target's loops: the
// polygon scratch, and for kept weights its sparse row and the weights of
// the rows it computed in the current loop.
struct WorkerScratch {
  PointScratch point;
  SparseRow row;
  KeptWeights kept;
  int64_t rowsBegin;  // the rows [rowsBegin, rowsEnd) it computed in the last loop
  int64_t rowsEnd;
  int64_t keptAt;  // where its kept weights go in the target's arrays
};

// Work on one row; false when the row could not be computed (it is then left
// all zeros, or keeps no weights). worker belongs to the calling thread for
// the whole loop.
using RowTask = bool (*)(const RowJob& job, int64_t row, WorkerScratch* worker);

// How a calculation leaves a target's weights: the kept (non-zero) ones, as
// "Calculate" does (KeptRows: PrepareTargets before, CompactWeights after),
// or another way that tests and benchmarks compare with it.
struct RowStorage {
  // Whether the target is as the calculation expects it before the rows;
  // anything else is computed as a target without active points.
  bool (*ready)(const EffectInstance* instance, const TargetEntry* target);
  RowTask task;
  // Whether the workers keep sparse rows, whose kept weights join the
  // target's arrays after each loop.
  bool keeps;
};

// The kept weights: the row task reads the active point's position,
// fxMeshPoint(ObjectId, PointIndices[row], ., 1), and computes its row into
// the worker's sparse row, whose non-zero entries go to the worker's kept
// weights and their number to WeightCounts[row].
const RowStorage& KeptRows();

// Runs task for every row of the job in one parallel loop on up to
// workerCount threads (one when the work is small), thread t working with
// workers[t]. Thread
// t of T takes the contiguous block StaticBlock(firstRow, endRow, t, T) and
// runs its rows in increasing order, so a row's result never depends on the
// thread count, and the workers' kept weights, taken in thread order, are the
// rows' in row order. Returns once every thread is done, with the number of
// rows whose task returned false.
int64_t RunRowLoop(const RowJob& job, RowTask task, WorkerScratch* workers, int workerCount);

// The most weights a target may keep: the weights file counts them in 32
// bits. SetKeptWeightLimit lowers it for tests (0 restores it).
inline constexpr int64_t kMaxKeptWeights = INT32_MAX;
void SetKeptWeightLimit(int64_t limit);

// Whether a calculation reads the cage's polygons and points once per target
// (TakeCageSnapshot; the default) or asks the host at every hit: the same
// rows either way, for tests that compare the two.
void SetCageSnapshots(bool once);

// Computes every row of one target (see ComputePointCoordinates), leaving
// its weights as storage says. With kept weights, the rows of each loop are
// added to the target's Weights and CageIndices (grown for them) in row
// order, with their WeightOffsets, once the loop is done; a target whose
// weights cannot grow or would number more than kMaxKeptWeights is released,
// the user told which. Targets
// of more than 10 active points run in ten tenths and a rest, each tenth
// announced before it starts with fxMessageProgress(0, 10 b, kProgressKind,
// "<name>: calculating coordinates b / 10") and the rest after "10 / 10" at
// 100 %; smaller targets run in one loop without progress. Host calls other
// than those made per row come from the calling thread only. Returns false,
// after telling the user, when some rows could not be computed, or when
// nothing could (as CalculateCoordinates refuses, or when the host's
// triangulation is null or holds a negative count or a missing block).
bool CalculateTarget(EffectInstance* instance, TargetEntry* target, const RowStorage& storage = KeptRows());

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
bool CalculateCoordinates(EffectInstance* instance, IncompleteTarget incomplete = IncompleteTarget::kKeepRows,
                          const RowStorage& storage = KeptRows());

}  // namespace ostrand
