// The dense weight rows of a calculation, one row of CagePoints entries per
// active point, and their compaction: how the weights were once computed,
// kept so that tests and benchmarks can hold the kept-weights calculation to
// it bit for bit and measure the two side by side.
#include "instance/instance.h"
#include "host_interface/memory.h"
#include "host_interface/messages.h"

namespace ostrand {
namespace {

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

}  // namespace ostrand
