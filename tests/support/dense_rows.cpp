#include "support/dense_rows.h"

#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/messages.h"
#include "instance/instance.h"

namespace test_support {
namespace {

using ostrand::AllocateArray;
using ostrand::FreeArray;
using ostrand::ObjectName;
using ostrand::ReleaseTarget;
using ostrand::ShowErrorFormat;
using ostrand::TargetAt;
using ostrand::TargetCount;

// Dense rows are addressed with 32-bit products; they must stay below 2^31.
constexpr int64_t kDenseLimit = int64_t{1} << 31;

// Gives a prepared target its zero-filled dense rows; false, with the
// target released and the user told, when they cannot be had.
bool AddDenseRows(EffectInstance* instance, TargetEntry* target) {
  const uint32_t active = target->ActiveCount, cagePoints = instance->CagePoints;
  if (target->PointIndices == nullptr) return true;  // prepared with nothing: stays so
  char name[256];
  if (static_cast<int64_t>(active) * cagePoints >= kDenseLimit) {
    ReleaseTarget(target);
    ObjectName(target->ObjectId, name);
    ShowErrorFormat(instance->EffectId, "Target \"%s\" has too many points for this cage (%u points, %u cage points).",
                    name, active, cagePoints);
    return false;
  }
  if (!AllocateArray(target->Weights, static_cast<size_t>(active) * cagePoints)) {
    ReleaseTarget(target);
    ObjectName(target->ObjectId, name);
    ShowErrorFormat(instance->EffectId, "Not enough memory to calculate target \"%s\".", name);
    return false;
  }
  target->WeightCount = static_cast<int32_t>(active * cagePoints);
  return true;
}

// Whether the target holds dense rows for its active points, as
// PrepareDenseTargets leaves them.
bool HasDenseRows(const EffectInstance* instance, const TargetEntry* target) {
  if (target->ActiveCount == 0) return true;
  if (target->PointIndices == nullptr) return false;
  if (instance->CagePoints == 0) return true;
  return target->Weights != nullptr && instance->CagePositions != nullptr &&
         static_cast<int64_t>(target->WeightCount) ==
             static_cast<int64_t>(target->ActiveCount) * static_cast<int64_t>(instance->CagePoints);
}

bool CalculateDenseRow(const ostrand::RowJob& job, int64_t row, ostrand::WorkerScratch* worker) {
  TargetEntry* target = job.target;
  Vec3 position{0.0, 0.0, 0.0};
  FX(fxMeshPoint)(target->ObjectId, static_cast<int32_t>(target->PointIndices[row]), &position, 1);
  double* weights =
      job.reads.pointCount != 0 ? target->Weights + static_cast<size_t>(row) * job.reads.pointCount : nullptr;
  return ostrand::ComputePointCoordinates(job.reads, job.settings, position, job.directions, job.cage,
                                          &worker->point, weights);
}

// Replaces one target's dense rows by the non-zero weights. On failure the
// target keeps nothing.
bool CompactTarget(EffectInstance* instance, TargetEntry* target) {
  uint32_t cagePoints = instance->CagePoints;
  uint32_t active = target->ActiveCount;
  if (active == 0) {
    FreeArray(target->Weights);
    target->WeightCount = 0;
    return true;
  }
  const double* dense = target->Weights;
  int64_t total = 0;
  for (uint32_t i = 0; i < active; ++i) {
    int32_t count = 0;
    const double* row = dense + static_cast<size_t>(i) * cagePoints;
    for (uint32_t k = 0; k < cagePoints; ++k)
      if (!(row[k] == 0.0)) ++count;
    target->WeightCounts[i] = count;
    target->WeightOffsets[i] = static_cast<int32_t>(total);
    total += count;
  }

  double* weights = nullptr;
  Vec3** refs = nullptr;
  int32_t* indices = nullptr;
  size_t n = static_cast<size_t>(total);
  if (!AllocateArray(weights, n) || !AllocateArray(refs, n) || !AllocateArray(indices, n)) {
    FreeArray(weights);
    FreeArray(refs);
    FreeArray(indices);
    ReleaseTarget(target);
    return false;
  }
  size_t next = 0;
  for (uint32_t i = 0; i < active; ++i) {
    const double* row = dense + static_cast<size_t>(i) * cagePoints;
    for (uint32_t k = 0; k < cagePoints; ++k) {
      if (row[k] == 0.0) continue;
      weights[next] = row[k];
      refs[next] = &instance->CagePositions[k];
      indices[next] = static_cast<int32_t>(k);
      ++next;
    }
  }
  FreeArray(target->Weights);
  FreeArray(target->CageRefs);
  FreeArray(target->CageIndices);
  target->Weights = weights;
  target->CageRefs = refs;
  target->CageIndices = indices;
  target->WeightCount = static_cast<int32_t>(total);
  return true;
}

}  // namespace

void PrepareDenseTargets(EffectInstance* instance) {
  ostrand::PrepareTargets(instance);
  // Without a cage, or when its points could not be read, PrepareTargets
  // leaves the targets as they were; with no cage points the rows are empty.
  if (instance->Cage == 0 || instance->CagePoints == 0) return;
  for (int32_t t = 0; t < TargetCount(instance); ++t) AddDenseRows(instance, TargetAt(instance, t));
}

const ostrand::RowStorage& DenseRows() {
  static constexpr ostrand::RowStorage kDense{HasDenseRows, CalculateDenseRow, false};
  return kDense;
}

void CompactDenseWeights(EffectInstance* instance) {
  for (int32_t t = 0; t < TargetCount(instance); ++t) {
    TargetEntry* target = TargetAt(instance, t);
    if (!CompactTarget(instance, target)) {
      char name[256];
      ObjectName(target->ObjectId, name);
      ShowErrorFormat(instance->EffectId, "Not enough memory to keep the weights of target \"%s\".", name);
    }
  }
}

}  // namespace test_support
