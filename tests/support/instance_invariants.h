// The invariants an EffectInstance keeps between any two calls into the
// module, whatever the host, the scene or the heap did meanwhile: every count
// within the array behind it, arrays present exactly where counts say so,
// offsets that are prefix sums, cage references into CagePositions at cage
// point numbers below CagePoints, evaluation slots filled together.
//
// Reads the records directly (no module function), so that suites that only
// load the built module can use it too, and needs no test framework, so that
// fuzzers can. Header-only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <malloc.h>  // malloc_usable_size (glibc), _msize (Windows)

#include "ostrand/types.h"

namespace test_support {

// Usable bytes of a heap block: exactly the requested size under
// AddressSanitizer, at least that size otherwise.
inline size_t BlockBytes(const void* block) {
#ifdef _WIN32
  return _msize(const_cast<void*>(block));
#else
  return malloc_usable_size(const_cast<void*>(block));
#endif
}

// True when the array is present and long enough for count entries, or
// count is not positive.
template <class T>
bool Holds(const T* array, int64_t count) {
  if (count <= 0) return true;
  return array != nullptr && BlockBytes(array) >= static_cast<size_t>(count) * sizeof(T);
}

// An array is there exactly when its count is positive, and then holds it.
template <class T>
bool Matches(const T* array, int64_t count) {
  return count > 0 ? Holds(array, count) : array == nullptr;
}

inline std::string CheckTarget(const EffectInstance& instance, const TargetEntry& e) {
  const int64_t active = e.ActiveCount, weights = e.WeightCount;
  if (e.PointCount < 0) return "negative PointCount";
  if (weights < 0) return "negative WeightCount";
  const bool pointArrays = e.PointIndices || e.RestPositions || e.SetupPositions || e.WeightCounts ||
                           e.WeightOffsets || e.OutPositions;
  const bool weightArrays = e.Weights || e.CageRefs || e.CageIndices;

  if (instance.Mode != 0) {
    // Counts alone are allowed (a counts-only weights file); nothing reads arrays.
    if (pointArrays || weightArrays) return "arrays kept while Mode is not 0";
    if (instance.Mode == -1 && (active != 0 || weights != 0)) return "counts kept while Mode is -1";
    return "";
  }
  if (!Matches(e.PointIndices, active) || !Matches(e.RestPositions, active) || !Matches(e.SetupPositions, active) ||
      !Matches(e.WeightCounts, active) || !Matches(e.WeightOffsets, active) || !Matches(e.OutPositions, active))
    return "a per-point array does not match ActiveCount";
  if (!Matches(e.Weights, weights) || !Matches(e.CageRefs, weights) || !Matches(e.CageIndices, weights))
    return "a per-weight array does not match WeightCount";

  int64_t sum = 0;
  for (int64_t i = 0; i < active; ++i) {
    if (e.WeightCounts[i] < 0) return "negative per-point count";
    if (e.WeightOffsets[i] != sum) return "offsets are not the prefix sums of the counts";
    if (static_cast<int64_t>(e.PointIndices[i]) >= e.PointCount) return "point number not below PointCount";
    sum += e.WeightCounts[i];
  }
  if (sum != weights) return "per-point counts do not add up to WeightCount";
  std::vector<uint32_t> points(e.PointIndices, e.PointIndices + active);
  std::sort(points.begin(), points.end());
  if (std::adjacent_find(points.begin(), points.end()) != points.end()) return "a point is listed twice";
  for (int64_t j = 0; j < weights; ++j) {
    const int32_t k = e.CageIndices[j];
    if (k < 0 || static_cast<uint32_t>(k) >= instance.CagePoints) return "cage point number out of range";
    if (e.CageRefs[j] != &instance.CagePositions[k]) return "CageRefs does not match CageIndices";
  }
  return "";
}

// "" when the instance keeps every invariant, else what broke first.
inline std::string CheckInstance(const EffectInstance& instance) {
  if (instance.DisplacePlain == nullptr) return "the plain displacement slot is empty";
  if ((instance.PrepareEvaluation == nullptr) != (instance.DisplaceWeighted == nullptr))
    return "the evaluation slots are half filled";
  if (!Matches(instance.CagePositions, instance.CagePoints))
    return "CagePositions does not match CagePoints";
  if (instance.CagePolys < 0) return "negative CagePolys";
  const TargetTable* table = instance.Targets;
  if (table == nullptr || table->count <= 0) return "";
  if (table->records == nullptr) return "a table with targets but no records";
  for (int32_t t = 0; t < table->count; ++t) {
    std::string broken = CheckTarget(instance, table->records[t]);
    if (!broken.empty()) return "target " + std::to_string(t) + ": " + broken;
  }
  return "";
}

}  // namespace test_support
