#include "operations/calculation_driver.h"

#include <atomic>
#include <cstdio>

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

// Whether the target holds dense rows for its active points, as PrepareTargets
// leaves them. Anything else is computed as a target without active points.
bool HasDenseRows(const EffectInstance* instance, const TargetEntry* target) {
  if (target->ActiveCount == 0) return true;
  if (target->PointIndices == nullptr) return false;
  if (instance->CagePoints == 0) return true;
  return target->Weights != nullptr && instance->CagePositions != nullptr &&
         static_cast<int64_t>(target->WeightCount) ==
             static_cast<int64_t>(target->ActiveCount) * static_cast<int64_t>(instance->CagePoints);
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

bool CalculateRow(const RowJob& job, int64_t row, PointScratch* scratch) {
  const TargetEntry* target = job.target;
  Vec3 position{0.0, 0.0, 0.0};
  FX(fxMeshPoint)(target->ObjectId, static_cast<int32_t>(target->PointIndices[row]), &position, 1);
  double* weights = job.reads.pointCount != 0 ? target->Weights + static_cast<size_t>(row) * job.reads.pointCount : nullptr;
  return ComputePointCoordinates(job.reads, job.settings, position, job.directions, job.cage, scratch, weights);
}

int64_t RunRowLoop(const RowJob& job, RowTask task) {
  std::atomic<int64_t> failed{0};
  const int64_t work = (job.endRow - job.firstRow) * (job.settings.samples > 0 ? job.settings.samples : 1);
  auto block = [&](int t, int T) {
    int64_t begin = 0, end = 0;
    StaticBlock(job.firstRow, job.endRow, t, T, &begin, &end);
    PointScratch scratch{};
    int64_t failedHere = 0;
    for (int64_t row = begin; row < end; ++row)
      if (!task(job, row, &scratch)) ++failedHere;
    FreeScratch(&scratch);
    failed += failedHere;
  };
  RunOnThreads(ThreadsFor(work, SmallWorkThresholds().calculation), block);
  return failed.load();
}

bool CalculateTarget(EffectInstance* instance, TargetEntry* target) {
  if (RefuseCalculation(instance)) return false;
  char name[256];
  ObjectName(target->ObjectId, name);

  const int32_t samples = instance->Samples;
  Vec3* directions = BuildSampleDirections(samples);
  if (samples > 0 && directions == nullptr) {
    ShowErrorFormat(instance->EffectId, "Not enough memory for %d sample directions: target \"%s\" was not calculated.",
                    samples, name);
    return false;
  }
  const double sampleWeight = kFullSphere / (samples > 0 ? samples : 1);

  auto* mesh = static_cast<TriangulatedCage*>(USEFUL(useful_TriangulateTarget)(instance->Cage, 0));
  const int64_t rows = HasDenseRows(instance, target) ? target->ActiveCount : 0;
  if (rows > 0 && !UsableTriangulation(mesh)) {
    ShowErrorFormat(instance->EffectId,
                    "Target \"%s\" was not calculated: the host's triangulation of the cage is unusable.", name);
    if (mesh != nullptr) USEFUL(useful_FreeMesh)(mesh);
    FreeArray(directions);
    return false;
  }
  RowJob job{};
  job.directions = directions;
  job.settings = RowSettings{samples, sampleWeight, instance->Tolerance};
  job.cage.cage = mesh;
  job.cage.positions = instance->CagePositions;
  job.cage.pointCount = instance->CagePositions != nullptr ? instance->CagePoints : 0;
  job.cage.rayTest = USEFUL(useful_RayIntersectTriangle);
  job.reads = CageReads{instance->Cage, instance->CagePoints, FX(fxMeshPoint), FX(fxMeshPoly)};
  job.target = target;

  // The hierarchy lives as long as the triangulation it indexes. Without the
  // memory for it the target is still calculated, exhaustively and with the
  // same result.
  CageBvh bvh{};
  if (rows > 0 && mesh != nullptr && ChosenRaySearch() == RaySearch::kAccelerated &&
      BuildCageBvh(mesh, job.cage.positions, job.cage.pointCount, &bvh))
    job.cage.bvh = &bvh;
  int64_t failed = 0;
  if (rows <= kLoopsWithoutProgress) {
    job.firstRow = 0;
    job.endRow = rows;
    failed += RunRowLoop(job, CalculateRow);
  } else {
    // Each message names the tenth about to start; the rows left over by the
    // integer division run after "10 / 10".
    const int64_t chunk = rows / kTenths;
    for (int tenth = 0; tenth < kTenths; ++tenth) {
      SendProgress(name, tenth);
      job.firstRow = tenth * chunk;
      job.endRow = job.firstRow + chunk;
      failed += RunRowLoop(job, CalculateRow);
    }
    SendProgress(name, kTenths);
    job.firstRow = kTenths * chunk;
    job.endRow = rows;
    failed += RunRowLoop(job, CalculateRow);
  }

  FreeCageBvh(&bvh);
  if (mesh != nullptr) USEFUL(useful_FreeMesh)(mesh);
  FreeArray(directions);
  if (failed != 0)
    ShowErrorFormat(instance->EffectId,
                    "Not enough memory: %lld of the %lld points of target \"%s\" were not calculated.",
                    static_cast<long long>(failed), static_cast<long long>(rows), name);
  return failed == 0;
}

bool CalculateCoordinates(EffectInstance* instance, IncompleteTarget incomplete) {
  const int32_t targets = TargetCount(instance);
  if (targets == 0) return true;
  if (RefuseCalculation(instance)) return false;  // one message, not one per target
  bool complete = true;
  for (int32_t t = 0; t < targets; ++t) {
    TargetEntry* target = TargetAt(instance, t);
    if (CalculateTarget(instance, target)) continue;
    complete = false;
    if (incomplete == IncompleteTarget::kRelease) ReleaseTarget(target);
  }
  return complete;
}

}  // namespace ostrand
