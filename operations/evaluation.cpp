// Moving every active point of every target to the weighted sum of the current
// cage positions, plain or blended by a weight map.
#include "operations/evaluation.h"

#include "operations/threads.h"
#include "instance/instance.h"
#include "host_interface/host_function_table.h"
#include "ostrand/protocol.h"
#include "ostrand/settings.h"

namespace ostrand {
namespace {

// Points a thread takes at a time in the displacement loops.
constexpr int64_t kPointsPerChunk = 100;

// The weighted sum of the current cage positions of one active point, summed
// in stored order from +0.0. Each point's sum is formed by one thread, so the
// result does not depend on the thread count.
inline Vec3 CageSum(const TargetEntry* target, int64_t i) {
  double x = 0.0, y = 0.0, z = 0.0;
  const int32_t begin = target->WeightOffsets[i];
  const int32_t end = begin + target->WeightCounts[i];
  const double* weights = target->Weights;
  Vec3* const* refs = target->CageRefs;
  for (int32_t k = begin; k < end; ++k) {
    const Vec3& p = *refs[k];
    const double w = weights[k];
    x += w * p.x;
    y += w * p.y;
    z += w * p.z;
  }
  return Vec3{x, y, z};
}

// The threads a loop over count points runs on: one point's work is its
// weights (at least one host call's worth).
int LoopThreads(bool parallel, int64_t count, int64_t weights) {
  return parallel ? ThreadsFor(weights > count ? weights : count, SmallWorkThresholds().evaluation) : 1;
}

int64_t StoredWeights(const TargetEntry* target) {
  const int64_t count = target->ActiveCount;
  if (count == 0 || target->WeightOffsets == nullptr || target->WeightCounts == nullptr) return 0;
  return static_cast<int64_t>(target->WeightOffsets[count - 1]) + target->WeightCounts[count - 1];
}

void Prepare(EffectInstance* instance, bool parallel) {
  if (instance->Cage == 0) return;
  for (int32_t t = 0; t < TargetCount(instance); ++t) {
    TargetEntry* target = TargetAt(instance, t);
    const int64_t count = target->ActiveCount;
    // On the threads that will displace this target's points.
    ForEachDynamic(0, count, kPointsPerChunk, LoopThreads(parallel, count, StoredWeights(target)), [target](int64_t i) {
      target->OutPositions[i] = Vec3{0.0, 0.0, 0.0};
      FX(fxMeshPoint)(target->ObjectId, static_cast<int32_t>(target->PointIndices[i]), &target->RestPositions[i], 1);
    });
  }
  const int64_t cagePoints = instance->CagePoints;
  const uint32_t cage = instance->Cage;
  Vec3* positions = instance->CagePositions;
  ForEachStatic(0, cagePoints, LoopThreads(parallel, cagePoints, 0),
                [cage, positions](int64_t n) { FX(fxMeshPoint)(cage, static_cast<int32_t>(n), &positions[n], 1); });
}

void DisplacePlain(TargetEntry* target, bool parallel) {
  const uint32_t object = target->ObjectId;
  const int64_t count = target->ActiveCount;
  const int threads = LoopThreads(parallel, count, StoredWeights(target));
  const auto displace = FX(fxDisplacePoint);
  FX(fxDisplaceBegin)(object, 0);
  ForEachDynamic(0, count, kPointsPerChunk, threads, [=](int64_t i) {
    const Vec3 sum = CageSum(target, i);
    target->OutPositions[i] = sum;
    displace(object, static_cast<int32_t>(target->PointIndices[i]), sum.x, sum.y, sum.z);
  });
  FX(fxDisplaceEnd)(object, 0);
}

void DisplaceWeighted(EffectInstance* instance, TargetEntry* target, bool parallel) {
  const uint32_t object = target->ObjectId;
  const uint32_t map = static_cast<uint32_t>(instance->Weight[0]);
  const int32_t mapPart = instance->Weight[1];
  const int64_t count = target->ActiveCount;
  const int threads = LoopThreads(parallel, count, StoredWeights(target));
  const auto weightOf = FX(fxMeshPointWeight);
  const auto displace = FX(fxDisplacePoint);

  float first = 0.0f;  // asked once on the calling thread; the value is not used
  weightOf(object, 0, map, mapPart, &first, 0);
  FX(fxDisplaceBegin)(object, 0);
  ForEachDynamic(0, count, kPointsPerChunk, threads, [=](int64_t i) {
    const int32_t point = static_cast<int32_t>(target->PointIndices[i]);
    float w = 0.0f;
    weightOf(object, point, map, mapPart, &w, 0);
    if (w == 0.0f) return;  // +0 and -0 leave the point alone; NaN does not
    const Vec3 sum = CageSum(target, i);
    const double wide = static_cast<double>(w);
    const double rest = static_cast<double>(1.0f - w);  // formed in single precision
    Vec3& r = target->RestPositions[i];
    r = Vec3{r.x * rest, r.y * rest, r.z * rest};
    Vec3& out = target->OutPositions[i];
    out = Vec3{r.x + sum.x * wide, r.y + sum.y * wide, r.z + sum.z * wide};
    displace(object, point, out.x, out.y, out.z);
  });
  FX(fxDisplaceEnd)(object, 0);
}

}  // namespace

void PrepareEvaluationSerial(EffectInstance* instance) { Prepare(instance, false); }
void PrepareEvaluationParallel(EffectInstance* instance) { Prepare(instance, true); }
void DisplacePlainSerial(EffectInstance*, TargetEntry* target) { DisplacePlain(target, false); }
void DisplacePlainParallel(EffectInstance*, TargetEntry* target) { DisplacePlain(target, true); }
void DisplaceWeightedSerial(EffectInstance* instance, TargetEntry* target) {
  DisplaceWeighted(instance, target, false);
}
void DisplaceWeightedParallel(EffectInstance* instance, TargetEntry* target) {
  DisplaceWeighted(instance, target, true);
}

void InstallParallelEvaluation(EffectInstance* instance) {
  instance->PrepareEvaluation = PrepareEvaluationParallel;
  instance->DisplacePlain = DisplacePlainParallel;
  instance->DisplaceWeighted = DisplaceWeightedParallel;
}

int32_t EvaluateInstance(uint32_t effectId, uint64_t argument) {
  if (argument != kEvaluateDisplace) return 0;
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (instance->Mode != kModeWeights) return 0;

  // Before the host has sent the prepare-for-evaluation message the slots may
  // still be empty; the serial routines then give the same first frame.
  (instance->PrepareEvaluation ? instance->PrepareEvaluation : PrepareEvaluationSerial)(instance);
  const bool weighted = instance->Weight[0] != 0;
  for (int32_t t = 0; t < TargetCount(instance); ++t) {
    TargetEntry* target = TargetAt(instance, t);
    if (weighted)
      (instance->DisplaceWeighted ? instance->DisplaceWeighted : DisplaceWeightedSerial)(instance, target);
    else
      (instance->DisplacePlain ? instance->DisplacePlain : DisplacePlainSerial)(instance, target);
  }
  return 0;
}

}  // namespace ostrand
