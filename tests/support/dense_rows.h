// The dense weight rows of a calculation, one row of CagePoints entries per
// active point, and their compaction: how the weights were once computed,
// kept outside the module so that tests and benchmarks can hold the kept
// weights of "Calculate" to it bit for bit and measure the two side by side.
#pragma once

#include "operations/calculation_driver.h"
#include "ostrand/types.h"

namespace test_support {

// PrepareTargets with, besides, one zero-filled dense row of CagePoints
// weights per active point (WeightCount = ActiveCount x CagePoints), refused
// with a message when that reaches 2^31 entries, and the target released.
void PrepareDenseTargets(EffectInstance* instance);

// The calculation into the dense rows PrepareDenseTargets made: each row
// task reads the active point's position, fxMeshPoint(ObjectId,
// PointIndices[row], ., 1), and computes its row in place. A target without
// them is computed as a target without active points.
const ostrand::RowStorage& DenseRows();

// Keeps only the non-zero weights of the dense rows (a NaN stays, -0.0
// goes), with per-point counts and offsets and a reference from each weight
// to its cage position: the arrays CompactWeights completes.
void CompactDenseWeights(EffectInstance* instance);

}  // namespace test_support
