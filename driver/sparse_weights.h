// The module's weights of its one target as a compressed sparse row table:
// one row per target point (empty for a point the setup weight map left
// out), one column per cage point, the entries in stored order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/host.h"

namespace driver {

struct SparseWeights {
  size_t rows = 0, columns = 0;
  std::vector<int64_t> rowStarts;  // rows + 1 entries; row r is [rowStarts[r], rowStarts[r + 1])
  std::vector<int32_t> columnOf;   // cage point number of each entry
  std::vector<double> values;      // the weights, exactly as the module holds them
};

// Reads the weights (never changing them). An instance without weights gives
// a table of empty rows; a stored cage index outside the cage, which the
// module never makes, throws std::runtime_error.
SparseWeights ReadSparseWeights(const EffectInstance& instance, size_t targetPoints, size_t cagePoints);

}  // namespace driver
