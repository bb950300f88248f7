// What can be wrong with the weights the module holds for its one target
// beyond their counts: values no bind gives (a damaged weights file, or a
// calculation gone wrong), and a weights file bound with a setup weight map
// read without one. The instance record is only read, never changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace driver {

struct WeightsDamage {
  // Points holding a weight that is not a finite number: how many, and the
  // first few (target point indices, ascending).
  size_t notFinite = 0;
  std::vector<uint32_t> firstNotFinite;
  // The other points whose weights add up to what no bind gives (far from 1),
  // and the first few with their sums.
  size_t badSum = 0;
  std::vector<uint32_t> firstBadSum;
  std::vector<double> firstSums;

  bool empty() const { return notFinite == 0 && badSum == 0; }
};

// The points at most named in a WeightsDamage list.
inline constexpr size_t kDamageExamples = 5;

// Reads the weights of the instance's one target (none: no damage).
WeightsDamage FindWeightsDamage(const EffectInstance& instance, size_t targetPoints);

// "2 points hold weights that are not finite numbers: 17, 240", and for sums
// "1 point holds weights that do not add up to 1: 31 (sum 1e+37)"; both parts
// joined by "; ". Points are numbered from firstNumber (1: as an OBJ file's
// `v` lines); with numbersWord ("row") each list starts "row 16" or "rows 16, 239".
std::string DescribeWeightsDamage(const WeightsDamage& damage, size_t firstNumber = 1,
                                  const std::string& numbersWord = "");

// For a weights file the module read no weights from: when its header is for
// this cage and a target of targetPoints points but holds rows for fewer of
// them, "it holds weights for 812 of the target's 3138 points, so it was
// likely bound with a setup weight map"; otherwise "".
std::string SetupMapHint(const std::string& path, size_t cagePoints, size_t cagePolygons, size_t targetPoints);

}  // namespace driver
