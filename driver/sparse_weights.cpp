#include "driver/sparse_weights.h"
#include "ostrand/settings.h"

#include <stdexcept>
#include <string>

namespace driver {

SparseWeights ReadSparseWeights(const EffectInstance& instance, size_t targetPoints, size_t cagePoints) {
  SparseWeights table;
  table.rows = targetPoints;
  table.columns = cagePoints;
  table.rowStarts.assign(targetPoints + 1, 0);
  if (instance.Mode != ostrand::kModeWeights || instance.Targets == nullptr || instance.Targets->count < 1)
    return table;
  const TargetEntry& target = instance.Targets->records[0];
  if (target.WeightCounts == nullptr || target.WeightOffsets == nullptr || target.PointIndices == nullptr)
    return table;

  // Count each row, then place each active point's weights at its row.
  std::vector<uint32_t> activeOf(targetPoints, UINT32_MAX);
  for (uint32_t i = 0; i < target.ActiveCount; ++i) {
    const uint32_t point = target.PointIndices[i];
    if (point >= targetPoints || activeOf[point] != UINT32_MAX)
      throw std::runtime_error("the module's weights name target point " + std::to_string(point) + " wrongly");
    activeOf[point] = i;
    table.rowStarts[point + 1] = target.WeightCounts[i] > 0 ? target.WeightCounts[i] : 0;
  }
  for (size_t r = 0; r < targetPoints; ++r) table.rowStarts[r + 1] += table.rowStarts[r];
  const auto total = static_cast<size_t>(table.rowStarts[targetPoints]);
  table.columnOf.resize(total);
  table.values.resize(total);
  for (size_t r = 0; r < targetPoints; ++r) {
    if (activeOf[r] == UINT32_MAX) continue;
    const uint32_t i = activeOf[r];
    const int64_t begin = target.WeightOffsets[i];
    for (int64_t k = 0; k < table.rowStarts[r + 1] - table.rowStarts[r]; ++k) {
      const int32_t column = target.CageIndices[begin + k];
      if (column < 0 || static_cast<size_t>(column) >= cagePoints)
        throw std::runtime_error("the module's weights name cage point " + std::to_string(column) +
                                 " of a cage of " + std::to_string(cagePoints));
      table.columnOf[table.rowStarts[r] + k] = column;
      table.values[table.rowStarts[r] + k] = target.Weights[begin + k];
    }
  }
  return table;
}

}  // namespace driver
