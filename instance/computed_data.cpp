// Sizing, filling, compacting and releasing the computed data of an instance.
#include <cstring>

#include "instance/instance.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/messages.h"

namespace ostrand {
namespace {

// Dense rows are addressed with 32-bit products; they must stay below 2^31.
constexpr int64_t kDenseLimit = int64_t{1} << 31;

// Reads the cage's counts and positions into the instance.
bool ReadCage(EffectInstance* instance) {
  int32_t points = HostPointCount(instance->Cage);
  instance->CagePolys = HostPolygonCount(instance->Cage);
  FreeArray(instance->CagePositions);
  instance->CagePoints = 0;
  if (!AllocateArray(instance->CagePositions, static_cast<size_t>(points))) {
    instance->CagePolys = 0;
    ShowError(instance->EffectId, "Not enough memory to read the cage.");
    return false;
  }
  instance->CagePoints = static_cast<uint32_t>(points);
  for (int32_t k = 0; k < points; ++k) FX(fxMeshPoint)(instance->Cage, k, &instance->CagePositions[k], 1);
  return true;
}

// Allocates the arrays of one target for activeCount points and a dense row
// of cagePoints weights each. On failure the target keeps nothing.
bool AllocateDense(TargetEntry* target, uint32_t activeCount, uint32_t cagePoints) {
  size_t n = activeCount;
  bool ok = AllocateArray(target->OutPositions, n) && AllocateArray(target->RestPositions, n) &&
            AllocateArray(target->SetupPositions, n) && AllocateArray(target->PointIndices, n) &&
            AllocateArray(target->WeightCounts, n) && AllocateArray(target->WeightOffsets, n) &&
            AllocateArray(target->Weights, n * cagePoints);
  if (!ok) ReleaseTarget(target);
  return ok;
}

void PrepareTarget(EffectInstance* instance, TargetEntry* target) {
  FreeTargetArrays(target);
  target->ActiveCount = 0;
  target->WeightCount = 0;
  target->PointCount = HostPointCount(target->ObjectId);
  int32_t active = CountActive(target->ObjectId, target->PointCount, instance->SetupMask);
  uint32_t cagePoints = instance->CagePoints;

  char name[256];
  if (static_cast<int64_t>(active) * cagePoints >= kDenseLimit) {
    ObjectName(target->ObjectId, name);
    ShowErrorFormat(instance->EffectId, "Target \"%s\" has too many points for this cage (%d points, %u cage points).",
                    name, active, cagePoints);
    return;
  }
  if (!AllocateDense(target, static_cast<uint32_t>(active), cagePoints)) {
    ObjectName(target->ObjectId, name);
    ShowErrorFormat(instance->EffectId, "Not enough memory to calculate target \"%s\".", name);
    return;
  }

  // Point numbers of the active points, ascending. The second pass of weight
  // queries may find fewer points than the first; only those found count.
  uint32_t found = 0;
  if (instance->SetupMask == 0) {
    for (; found < static_cast<uint32_t>(active); ++found) target->PointIndices[found] = found;
  } else {
    for (int32_t p = 0; p < target->PointCount && found < static_cast<uint32_t>(active); ++p) {
      float value = 0.0f;
      FX(fxMeshPointWeight)(target->ObjectId, p, instance->SetupMask, 1, &value, 0);
      if (!(value == 0.0f)) target->PointIndices[found++] = static_cast<uint32_t>(p);
    }
  }
  target->ActiveCount = found;
  for (uint32_t i = 0; i < found; ++i)
    FX(fxMeshPoint)(target->ObjectId, static_cast<int32_t>(target->PointIndices[i]), &target->SetupPositions[i], 1);
  target->WeightCount = static_cast<int32_t>(found * cagePoints);
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

void ReleaseTarget(TargetEntry* target) {
  FreeTargetArrays(target);
  target->ActiveCount = 0;
  target->WeightCount = 0;
}

void ObjectName(uint32_t object, char (&name)[256]) {
  name[0] = '\0';
  FX(fxObjectGetName)(object, name, 256, 0);
  name[255] = '\0';
}

int32_t HostPointCount(uint32_t object) {
  int32_t count = 0;
  FX(fxMeshNumPoints)(object, &count, 0);
  return count < 0 ? 0 : count;
}

int32_t HostPolygonCount(uint32_t object) {
  int32_t count = 0;
  FX(fxMeshNumPolys)(object, &count, 0);
  return count < 0 ? 0 : count;
}

int32_t CountActive(uint32_t object, int32_t pointCount, uint32_t setupMask) {
  if (setupMask == 0) return pointCount;
  int32_t active = 0;
  for (int32_t p = 0; p < pointCount; ++p) {
    float value = 0.0f;
    FX(fxMeshPointWeight)(object, p, setupMask, 1, &value, 0);
    if (!(value == 0.0f)) ++active;
  }
  return active;
}

void ReleaseComputedData(EffectInstance* instance) {
  for (int32_t t = 0; t < TargetCount(instance); ++t) ReleaseTarget(TargetAt(instance, t));
  FreeArray(instance->CagePositions);
  instance->CagePoints = 0;
  instance->CagePolys = 0;
}

bool ReadCageGeometry(EffectInstance* instance) {
  if (instance->Cage == 0) return true;
  return ReadCage(instance);
}

void PrepareTargets(EffectInstance* instance) {
  if (instance->Cage == 0) return;
  if (!ReadCage(instance)) return;
  for (int32_t t = 0; t < TargetCount(instance); ++t) PrepareTarget(instance, TargetAt(instance, t));
}

void CompactWeights(EffectInstance* instance) {
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
