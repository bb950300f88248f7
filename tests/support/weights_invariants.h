// The invariants an instance's computed data must keep whatever the module was
// fed: every count within the array behind it, cage point numbers below
// CagePoints, references to the right cage positions, offsets as prefix sums.
// Shared by the unit tests and the weights-file fuzzer. Header-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <malloc.h>  // malloc_usable_size (glibc), _msize (Windows)

#include "instance/instance.h"
#include "ostrand/types.h"

namespace weights_invariants {

// Usable bytes of a heap block (exactly the requested size under
// AddressSanitizer, at least that size otherwise).
inline size_t BlockBytes(const void* block) {
#ifdef _WIN32
  return _msize(const_cast<void*>(block));
#else
  return malloc_usable_size(const_cast<void*>(block));
#endif
}

template <class T>
bool Holds(const T* array, int64_t count) {
  if (count <= 0) return true;
  return array != nullptr && BlockBytes(array) >= static_cast<size_t>(count) * sizeof(T);
}

// "" when the instance keeps every invariant, else what broke first.
inline std::string Check(const EffectInstance* instance) {
  auto fail = [](int32_t t, const std::string& what) { return "target " + std::to_string(t) + ": " + what; };
  if (!Holds(instance->CagePositions, instance->CagePoints)) return "CagePositions shorter than CagePoints";
  for (int32_t t = 0; t < ostrand::TargetCount(instance); ++t) {
    const TargetEntry* e = ostrand::TargetAt(instance, t);
    const int64_t active = e->ActiveCount, weights = e->WeightCount;
    if (weights < 0) return fail(t, "negative WeightCount");
    if (instance->Mode != 0) continue;  // counts only; nothing reads the arrays
    if (!Holds(e->PointIndices, active) || !Holds(e->RestPositions, active) || !Holds(e->SetupPositions, active) ||
        !Holds(e->WeightCounts, active) || !Holds(e->WeightOffsets, active) || !Holds(e->OutPositions, active))
      return fail(t, "a per-point array is shorter than ActiveCount");
    if (!Holds(e->Weights, weights) || !Holds(e->CageRefs, weights) || !Holds(e->CageIndices, weights))
      return fail(t, "a per-weight array is shorter than WeightCount");
    int64_t sum = 0;
    for (int64_t i = 0; i < active; ++i) {
      if (e->WeightCounts[i] < 0) return fail(t, "negative per-point count");
      if (e->WeightOffsets[i] != sum) return fail(t, "offsets are not the prefix sums of the counts");
      if (static_cast<int64_t>(e->PointIndices[i]) >= e->PointCount) return fail(t, "point number not below PointCount");
      sum += e->WeightCounts[i];
    }
    if (sum != weights) return fail(t, "per-point counts do not add up to WeightCount");
    for (int64_t j = 0; j < weights; ++j) {
      const int32_t k = e->CageIndices[j];
      if (k < 0 || static_cast<uint32_t>(k) >= instance->CagePoints) return fail(t, "cage point number out of range");
      if (e->CageRefs[j] != &instance->CagePositions[k]) return fail(t, "CageRefs does not match CageIndices");
    }
  }
  return "";
}

}  // namespace weights_invariants
