// Moving the targets with the cage at every evaluation.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

namespace ostrand {

// kMessageEvaluate: acts only on kEvaluateDisplace. Returns 1 when the item
// has no instance.
int32_t EvaluateInstance(uint32_t effectId, uint64_t argument);

// The evaluation routines an instance holds in its three slots.
// The serial forms run on the calling thread, points in ascending order; the
// parallel forms use the worker threads.
void PrepareEvaluationSerial(EffectInstance* instance);
void PrepareEvaluationParallel(EffectInstance* instance);
void DisplacePlainSerial(EffectInstance* instance, TargetEntry* target);
void DisplacePlainParallel(EffectInstance* instance, TargetEntry* target);
void DisplaceWeightedSerial(EffectInstance* instance, TargetEntry* target);
void DisplaceWeightedParallel(EffectInstance* instance, TargetEntry* target);

// Fills the three slots with the parallel routines.
void InstallParallelEvaluation(EffectInstance* instance);

}  // namespace ostrand
