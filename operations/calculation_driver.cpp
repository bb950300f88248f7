#include "operations/calculation_driver.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "geometry/ray_search.h"
#include "geometry/sample_directions.h"
#include "operations/threads.h"
#include "instance/instance.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/messages.h"
#include "host_interface/module_state.h"
#include "ostrand/protocol.h"

namespace ostrand {
namespace {

constexpr double kFullSphere = 12.566370614359172;  // 4 pi: the solid angle all rays share
constexpr uint32_t kLoopsWithoutProgress = 10;      // targets up to this size run in one loop
constexpr int kTenths = 10;

void SendProgress(const char* name, int tenth) {
  char text[320];
  std::snprintf(text, sizeof text, "%s: calculating coordinates %d / %d", name, tenth, kTenths);
  FX(fxMessageProgress)(0, kTenths * tenth, kProgressKind, text);
}

std::atomic<int64_t> keptWeightLimit{kMaxKeptWeights};
std::atomic<bool> cageSnapshots{true};

// Whether the target is as PrepareTargets leaves it: per-point arrays and no
// weights yet. Anything else (weights already there) is computed as a target
// without active points, so nothing is added to them.
bool AwaitsKeptWeights(const EffectInstance* instance, const TargetEntry* target) {
  if (target->ActiveCount == 0) return true;
  if (target->PointIndices == nullptr || target->WeightCounts == nullptr || target->WeightOffsets == nullptr)
    return false;
  if (instance->CagePoints != 0 && instance->CagePositions == nullptr) return false;
  return target->WeightCount == 0 && target->Weights == nullptr && target->CageIndices == nullptr &&
         target->CageRefs == nullptr;
}

// What joining a loop's kept weights to the target came to.
enum class Joined { kDone, kOutOfMemory, kTooMany };

// Appends the workers' kept weights (thread order is row order) to the
// target's arrays and sets the offsets of their rows. The arrays grow on the
// calling thread; the weights are copied, into memory the target touches for
// the first time, on the worker threads.
Joined JoinKeptWeights(TargetEntry* target, WorkerScratch* workers, int threads) {
  int64_t added = 0;
  for (int t = 0; t < threads; ++t) added += workers[t].kept.count;
  const int64_t total = target->WeightCount + added;
  if (total > keptWeightLimit.load(std::memory_order_relaxed)) return Joined::kTooMany;
  if (added > 0 && (!ResizeArray(target->Weights, static_cast<size_t>(total)) ||
                    !ResizeArray(target->CageIndices, static_cast<size_t>(total))))
    return Joined::kOutOfMemory;
  int64_t next = target->WeightCount;
  for (int t = 0; t < threads; ++t) {
    workers[t].keptAt = next;
    next += workers[t].kept.count;
  }
  auto copy = [&](int t, int T) {
    for (int w = t; w < threads; w += T) {
      const KeptWeights& kept = workers[w].kept;
      if (kept.count > 0) {  // a worker without rows may hold no arrays
        const auto count = static_cast<size_t>(kept.count);
        std::memcpy(target->Weights + workers[w].keptAt, kept.weights, count * sizeof(double));
        std::memcpy(target->CageIndices + workers[w].keptAt, kept.indices, count * sizeof(int32_t));
      }
      int64_t offset = workers[w].keptAt;
      for (int64_t row = workers[w].rowsBegin; row < workers[w].rowsEnd; ++row) {
        target->WeightOffsets[row] = static_cast<int32_t>(offset);
        offset += target->WeightCounts[row];
      }
    }
  };
  RunOnThreads(ThreadsFor(added, SmallWorkThresholds().evaluation), copy);
  for (int t = 0; t < threads; ++t) workers[t].kept.count = 0;
  target->WeightCount = static_cast<int32_t>(total);
  return Joined::kDone;
}

// One scratch per worker thread, with sparse rows of rowSize entries when
// the workers keep weights; null when the memory cannot be had.
WorkerScratch* MakeWorkers(int threads, bool keeps, uint32_t rowSize) {
  WorkerScratch* workers = nullptr;
  if (!AllocateArray(workers, static_cast<size_t>(threads))) return nullptr;
  if (keeps)
    for (int t = 0; t < threads; ++t)
      if (!ReserveSparseRow(&workers[t].row, rowSize)) {
        for (int u = 0; u < t; ++u) FreeSparseRow(&workers[u].row);
        FreeArray(workers);
        return nullptr;
      }
  return workers;
}

void FreeWorkers(WorkerScratch*& workers, int threads) {
  if (workers == nullptr) return;
  for (int t = 0; t < threads; ++t) {
    FreeScratch(&workers[t].point);
    FreeSparseRow(&workers[t].row);
    FreeKeptWeights(&workers[t].kept);
  }
  FreeArray(workers);
}

// The geometry module's record can be read as it says: no negative count,
// and a block behind every count that is not zero.
bool UsableTriangulation(const TriangulatedCage* mesh) {
  if (mesh == nullptr || mesh->polygonCount < 0) return false;
  if (mesh->polygonCount == 0) return true;
  if (mesh->polygons == nullptr) return false;
  for (int32_t j = 0; j < mesh->polygonCount; ++j) {
    const TriangulatedPolygon& polygon = mesh->polygons[j];
    if (polygon.triangleCount < 0 || (polygon.triangleCount > 0 && polygon.triangles == nullptr)) return false;
  }
  return true;
}

// The grids across the directions, the directions shared among the worker
// threads. False, with the grids emptied, when their memory cannot be had.
bool BuildGridsOnThreads(const CageBvh& bvh, const RayCastCage& cage, const Vec3* directions, int32_t samples,
                         DirectionGrids* grids) {
  if (!StartDirectionGrids(bvh, cage.positions, directions, samples, grids)) return false;
  std::atomic<bool> built{true};
  auto build = [&](int t, int T) {
    int64_t first = 0, end = 0;
    StaticBlock(0, samples, t, T, &first, &end);
    if (!BuildDirectionGridRange(bvh, cage.positions, cage.pointCount, directions, static_cast<int32_t>(first),
                                 static_cast<int32_t>(end), grids))
      built.store(false);
  };
  const int threads = ThreadsFor(int64_t{samples} * bvh.triangleCount, SmallWorkThresholds().calculation);
  RunOnThreads(threads < samples ? threads : samples, build);
  if (built.load()) return true;
  FreeDirectionGrids(grids);
  return false;
}

}  // namespace

bool RefuseCalculation(const EffectInstance* instance) {
  if (USEFUL(useful_TriangulateTarget) == nullptr || USEFUL(useful_FreeMesh) == nullptr ||
      USEFUL(useful_RayIntersectTriangle) == nullptr) {
    ShowError(instance->EffectId, "Cannot calculate: the host offers no cage triangulation or ray test.");
    return true;
  }
  if (instance->Samples > kMaxSampleDirections) {
    ShowErrorFormat(instance->EffectId, "Cannot calculate with %d samples: at most %d are possible.",
                    instance->Samples, kMaxSampleDirections);
    return true;
  }
  return false;
}

void SetKeptWeightLimit(int64_t limit) {
  keptWeightLimit.store(limit > 0 ? limit : kMaxKeptWeights, std::memory_order_relaxed);
}

void SetCageSnapshots(bool once) { cageSnapshots.store(once, std::memory_order_relaxed); }

namespace {

// The row task of the kept weights (KeptRows).
bool CalculateKeptRow(const RowJob& job, int64_t row, WorkerScratch* worker) {
  TargetEntry* target = job.target;
  Vec3 position{0.0, 0.0, 0.0};
  FX(fxMeshPoint)(target->ObjectId, static_cast<int32_t>(target->PointIndices[row]), &position, 1);
  int32_t kept = 0;
  const bool computed = ComputeKeptCoordinates(job.reads, job.settings, position, job.directions, job.cage,
                                               &worker->point, &worker->row, &worker->kept, &kept);
  target->WeightCounts[row] = kept;
  return computed;
}

}  // namespace

int64_t RunRowLoop(const RowJob& job, RowTask task, WorkerScratch* workers, int workerCount) {
  std::atomic<int64_t> failed{0};
  const int64_t work = (job.endRow - job.firstRow) * (job.settings.samples > 0 ? job.settings.samples : 1);
  for (int t = 0; t < workerCount; ++t) workers[t].rowsBegin = workers[t].rowsEnd = 0;
  auto block = [&](int t, int T) {
    int64_t begin = 0, end = 0;
    StaticBlock(job.firstRow, job.endRow, t, T, &begin, &end);
    WorkerScratch* worker = &workers[t];
    worker->rowsBegin = begin;
    worker->rowsEnd = end;
    int64_t failedHere = 0;
    for (int64_t row = begin; row < end; ++row)
      if (!task(job, row, worker)) ++failedHere;
    failed += failedHere;
  };
  // The thread count may have changed since the workers were made: never more
  // threads than workers.
  const int threads = ThreadsFor(work, SmallWorkThresholds().calculation);
  RunOnThreads(threads < workerCount ? threads : workerCount, block);
  return failed.load();
}

namespace {

// What a target's calculation holds: freed on every path, in the order
// taken, last first, when it goes out of scope.
struct TargetResources {
  TargetResources() = default;
  TargetResources(const TargetResources&) = delete;
  TargetResources& operator=(const TargetResources&) = delete;
  ~TargetResources() {
    FreeWorkers(workers, threads);
    FreeCageSnapshot(&snapshot);
    FreeDirectionGrids(&grids);
    FreeCageBvh(&bvh);
    if (mesh != nullptr) USEFUL(useful_FreeMesh)(mesh);
    FreeArray(directions);
  }

  Vec3* directions = nullptr;
  TriangulatedCage* mesh = nullptr;
  WorkerScratch* workers = nullptr;
  int threads = 0;
  CageSnapshot snapshot{};
  CageBvh bvh{};
  DirectionGrids grids{};
};

// The directions, the triangulated cage and the workers, each of which the
// calculation cannot go without; false, with the message shown, when one
// cannot be had. *rows: the rows to compute (none when the target is not
// ready for this storage).
bool TakeRequiredResources(const EffectInstance* instance, const TargetEntry* target, const RowStorage& storage,
                           const char* name, int64_t* rows, TargetResources* held) {
  const int32_t samples = instance->Samples;
  held->directions = BuildSampleDirections(samples);
  if (samples > 0 && held->directions == nullptr) {
    ShowErrorFormat(instance->EffectId, "Not enough memory for %d sample directions: target \"%s\" was not calculated.",
                    samples, name);
    return false;
  }
  held->mesh = static_cast<TriangulatedCage*>(USEFUL(useful_TriangulateTarget)(instance->Cage, 0));
  *rows = storage.ready(instance, target) ? target->ActiveCount : 0;
  if (*rows > 0 && !UsableTriangulation(held->mesh)) {
    ShowErrorFormat(instance->EffectId,
                    "Target \"%s\" was not calculated: the host's triangulation of the cage is unusable.", name);
    return false;
  }
  held->threads = WorkerThreads();
  held->workers = MakeWorkers(held->threads, storage.keeps, *rows > 0 ? instance->CagePoints : 0);
  if (held->workers == nullptr) {
    ShowErrorFormat(instance->EffectId, "Not enough memory to calculate target \"%s\".", name);
    return false;
  }
  return true;
}

// The job of the target's loops, with what speeds it up where its memory
// can be had (each without changing a bit of the result): the cage read
// once, the hierarchy, the grids.
RowJob MakeJob(const EffectInstance* instance, TargetEntry* target, int64_t rows,
               TargetResources* held) {
  const int32_t samples = instance->Samples;
  RowJob job{};
  job.directions = held->directions;
  job.settings = RowSettings{samples, kFullSphere / (samples > 0 ? samples : 1), instance->Tolerance};
  job.cage.cage = held->mesh;
  job.cage.positions = instance->CagePositions;
  job.cage.pointCount = instance->CagePositions != nullptr ? instance->CagePoints : 0;
  job.cage.rayTest = USEFUL(useful_RayIntersectTriangle);
  job.reads = CageReads{instance->Cage, instance->CagePoints, FX(fxMeshPoint), FX(fxMeshPoly)};
  job.target = target;
  if (rows == 0 || held->mesh == nullptr) return job;
  // The cage's polygons and points, read here for every hit of every thread.
  if (cageSnapshots.load(std::memory_order_relaxed) &&
      TakeCageSnapshot(job.reads, held->mesh->polygonCount, &held->snapshot))
    job.reads.snapshot = &held->snapshot;
  // The hierarchy lives as long as the triangulation it indexes.
  const RaySearch search = ChosenRaySearch();
  if (search != RaySearch::kExhaustive &&
      BuildCageBvh(held->mesh, job.cage.positions, job.cage.pointCount, &held->bvh))
    job.cage.bvh = &held->bvh;
  job.cage.wholeLine = WholeLineFor(search, held->bvh.triangleCount, held->bvh.entryCount);
  if (job.cage.bvh != nullptr &&
      DirectionGridsFor(search, rows, samples, held->bvh.triangleCount, job.cage.pointCount) &&
      BuildGridsOnThreads(held->bvh, job.cage, held->directions, samples, &held->grids))
    job.cage.grids = &held->grids;
  return job;
}

// What the loops came to: rows that could not be computed, and how the
// kept weights were joined to the target.
struct LoopsDone {
  int64_t failed = 0;
  Joined joined = Joined::kDone;
};

// The rows in tenths, each message naming the tenth about to start; the
// rows left over by the integer division run after "10 / 10". Targets of
// kLoopsWithoutProgress rows or fewer run in one loop without progress.
LoopsDone RunInTenths(RowJob& job, const RowStorage& storage, int64_t rows, const char* name,
                      TargetResources* held) {
  const bool inTenths = rows > kLoopsWithoutProgress;
  const int64_t chunk = inTenths ? rows / kTenths : 0;
  LoopsDone done;
  for (int loop = inTenths ? 0 : kTenths; loop <= kTenths && done.joined == Joined::kDone; ++loop) {
    if (inTenths) SendProgress(name, loop);
    job.firstRow = loop * chunk;
    job.endRow = loop < kTenths ? job.firstRow + chunk : rows;
    done.failed += RunRowLoop(job, storage.task, held->workers, held->threads);
    if (storage.keeps && rows > 0)
      done.joined = JoinKeptWeights(job.target, held->workers, held->threads);
  }
  return done;
}

// Tells what went wrong, if anything; true when every row was computed.
bool ReportLoops(const EffectInstance* instance, TargetEntry* target, const char* name, int64_t rows,
                 const LoopsDone& done) {
  if (done.joined != Joined::kDone) {
    ReleaseTarget(target);
    if (done.joined == Joined::kOutOfMemory)
      ShowErrorFormat(instance->EffectId, "Not enough memory to keep the weights of target \"%s\".", name);
    else
      ShowErrorFormat(instance->EffectId,
                      "Target \"%s\" was not calculated: it would keep more than %lld weights, the most a weights "
                      "file can hold. Bind it in parts, or raise the weight floor.",
                      name, static_cast<long long>(keptWeightLimit.load(std::memory_order_relaxed)));
    return false;
  }
  if (done.failed != 0)
    ShowErrorFormat(instance->EffectId,
                    "Not enough memory: %lld of the %lld points of target \"%s\" were not calculated.",
                    static_cast<long long>(done.failed), static_cast<long long>(rows), name);
  return done.failed == 0;
}

}  // namespace

const RowStorage& KeptRows() {
  static constexpr RowStorage kKept{AwaitsKeptWeights, CalculateKeptRow, true};
  return kKept;
}

bool CalculateTarget(EffectInstance* instance, TargetEntry* target, const RowStorage& storage) {
  if (RefuseCalculation(instance)) return false;
  char name[256];
  ObjectName(target->ObjectId, name);
  int64_t rows = 0;
  LoopsDone done;
  {
    // Everything the loops used is freed before the outcome is told.
    TargetResources held;
    if (!TakeRequiredResources(instance, target, storage, name, &rows, &held)) return false;
    RowJob job = MakeJob(instance, target, rows, &held);
    done = RunInTenths(job, storage, rows, name, &held);
  }
  return ReportLoops(instance, target, name, rows, done);
}

bool CalculateCoordinates(EffectInstance* instance, IncompleteTarget incomplete, const RowStorage& storage) {
  const int32_t targets = TargetCount(instance);
  if (targets == 0) return true;
  if (RefuseCalculation(instance)) return false;  // one message, not one per target
  bool complete = true;
  for (int32_t t = 0; t < targets; ++t) {
    TargetEntry* target = TargetAt(instance, t);
    if (CalculateTarget(instance, target, storage)) continue;
    complete = false;
    if (incomplete == IncompleteTarget::kRelease) ReleaseTarget(target);
  }
  return complete;
}

}  // namespace ostrand
