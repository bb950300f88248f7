// Sizing, filling, compacting and releasing the computed data of an instance.
#include <cstring>

#include "instance/instance.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/messages.h"

namespace ostrand {
namespace {

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

// Allocates the per-point arrays of one target for activeCount points. On
// failure the target keeps nothing.
bool AllocateTarget(TargetEntry* target, uint32_t activeCount) {
  size_t n = activeCount;
  bool ok = AllocateArray(target->OutPositions, n) && AllocateArray(target->RestPositions, n) &&
            AllocateArray(target->SetupPositions, n) && AllocateArray(target->PointIndices, n) &&
            AllocateArray(target->WeightCounts, n) && AllocateArray(target->WeightOffsets, n);
  if (!ok) ReleaseTarget(target);
  return ok;
}

void PrepareTarget(EffectInstance* instance, TargetEntry* target) {
  FreeTargetArrays(target);
  target->ActiveCount = 0;
  target->WeightCount = 0;
  target->PointCount = HostPointCount(target->ObjectId);
  int32_t active = CountActive(target->ObjectId, target->PointCount, instance->SetupMask);
  if (!AllocateTarget(target, static_cast<uint32_t>(active))) {
    char name[256];
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
}

// Gives every kept weight of a calculated target its reference into the
// cage positions. A target whose weights are not all there keeps nothing.
struct ReferenceFill {
  Vec3** refs;
  Vec3* positions;
  const int32_t* indices;

  static void run(void* self, int64_t begin, int64_t end) {
    const auto* fill = static_cast<const ReferenceFill*>(self);
    for (int64_t j = begin; j < end; ++j) fill->refs[j] = &fill->positions[fill->indices[j]];
  }
};

// A reference from each weight to its cage position. The array is fresh
// memory, so most of the fill's time goes to the system handing out its
// pages, which threads share well.
bool ReferenceCagePositions(EffectInstance* instance, TargetEntry* target, SpreadRange spread) {
  FreeArray(target->CageRefs);
  if (target->ActiveCount == 0 || target->WeightCount <= 0) {
    FreeArray(target->Weights);
    FreeArray(target->CageIndices);
    target->WeightCount = 0;
    return true;
  }
  const auto n = static_cast<size_t>(target->WeightCount);
  if (target->Weights == nullptr || target->CageIndices == nullptr || !AllocateArray(target->CageRefs, n)) {
    ReleaseTarget(target);
    return false;
  }
  ReferenceFill fill{target->CageRefs, instance->CagePositions, target->CageIndices};
  if (spread != nullptr)
    spread(static_cast<int64_t>(n), &ReferenceFill::run, &fill);
  else
    ReferenceFill::run(&fill, 0, static_cast<int64_t>(n));
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

void CompactWeights(EffectInstance* instance, SpreadRange spread) {
  for (int32_t t = 0; t < TargetCount(instance); ++t) {
    TargetEntry* target = TargetAt(instance, t);
    if (!ReferenceCagePositions(instance, target, spread)) {
      char name[256];
      ObjectName(target->ObjectId, name);
      ShowErrorFormat(instance->EffectId, "Not enough memory to keep the weights of target \"%s\".", name);
    }
  }
}

}  // namespace ostrand
