// The effect instance and its target records: creation and lookup, and the
// operations that size, fill, compact and release the computed data.
#pragma once

#include <cstdint>

#include "ostrand/protocol.h"
#include "ostrand/types.h"

namespace ostrand {

// The item's instance, or null after showing "Ostrand data not found!".
EffectInstance* FindInstance(uint32_t effectId);

// A new instance with the defaults, registered with the host under
// kInstanceDataKey; displacePlain fills its plain displacement slot (the other
// two stay empty).
// Tells the user when the host gives no target list (the instance then has
// no targets) or when the record cannot be allocated (null; nothing registered).
EffectInstance* CreateInstance(uint32_t effectId, DisplaceFn displacePlain);
// Releases the computed data, forgets and frees the record, and hands the
// target list back to the host (telling the user when the host offers no way).
void DestroyInstance(EffectInstance* instance);

// Whether the host offers useful_TargetListEffectUpdate; tells the user when not.
bool CanUpdateTargets(uint32_t effectId);

// Frees every target's computed arrays (ActiveCount and WeightCount become 0)
// and the cage positions; CagePoints and CagePolys become 0. Settings, Mode and
// the weights path stay. Harmless when repeated.
void ReleaseComputedData(EffectInstance* instance);

// Reads the cage's point and polygon counts and its point positions. Run after
// ReleaseComputedData; nothing happens when Cage is 0. Returns false (and leaves
// no cage data) when the positions cannot be allocated, after telling the user.
bool ReadCageGeometry(EffectInstance* instance);

// Reads the cage, picks each target's active points (all, or those with a
// non-zero value in SetupMask) and allocates their per-point arrays; the
// weights come later, from the calculation, as kept weights only
// (WeightCount 0 until then). A target whose arrays cannot be had keeps none
// (counts 0) and the user is told which target.
void PrepareTargets(EffectInstance* instance);

// Frees one target's computed arrays; ActiveCount and WeightCount become 0.
void ReleaseTarget(TargetEntry* target);

// How a long fill is spread over threads: calls fill(context, begin, end)
// for pieces that cover [0, count) once each, and returns when all have run.
using SpreadRange = void (*)(int64_t count, void (*fill)(void* context, int64_t begin, int64_t end), void* context);

// Completes the kept weights of a calculation (Weights and CageIndices,
// WeightCount of them, with per-point counts and offsets) with a reference
// from each weight to its cage position, filled through `spread` when given
// (on the calling thread otherwise). A target whose references cannot be had
// keeps nothing, and the user is told which target.
void CompactWeights(EffectInstance* instance, SpreadRange spread = nullptr);

// Target-list callbacks. Records are addressed as records + index * sizeof(TargetEntry).
extern "C" {
void InitTargetEntry(void* records, int32_t index, uint32_t objectId);
void FreeTargetEntry(void* records, int32_t index);
void CopyTargetEntry(void* srcRecords, int32_t srcIndex, void* dstRecords, int32_t dstIndex);
}

// Frees and empties the nine arrays of one record (each only if present).
void FreeTargetArrays(TargetEntry* target);

// The instance's target records and their count (0 when there is no table or
// its count is not positive).
int32_t TargetCount(const EffectInstance* instance);
TargetEntry* TargetAt(const EffectInstance* instance, int32_t index);

// The object's name as the host gives it, always terminated; "" when the
// host gives none.
void ObjectName(uint32_t object, char (&name)[256]);

// A host count read through fxMeshNumPoints / fxMeshNumPolys; a negative answer
// counts as 0.
int32_t HostPointCount(uint32_t object);
int32_t HostPolygonCount(uint32_t object);

// The number of active points of a target: every point when setupMask is 0,
// else those whose weight in the map does not compare equal to 0 (NaN counts).
int32_t CountActive(uint32_t object, int32_t pointCount, uint32_t setupMask);

}  // namespace ostrand
