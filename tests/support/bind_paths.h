// A bind the way "Calculate" does it, with the weights kept as the module
// keeps them or through the dense rows it once used, for benchmarks and tests
// that compare the two on the same instance.
#pragma once

#include "host_interface/module_state.h"
#include "instance/instance.h"
#include "operations/calculation_driver.h"
#include "operations/threads.h"
#include "support/dense_rows.h"

namespace test_support {

// kKeptReferencesOnCaller: kKeptWeights with the cage references filled on
// the calling thread alone, as before they were spread over the workers (for
// comparisons in benchmarks).
enum class BindPath { kKeptWeights, kDenseRows, kKeptReferencesOnCaller };

// Brings the instance's targets up to date and binds them on `threads`
// worker threads: release, prepare, calculate (a target not calculated whole
// keeps nothing), compact. Mode and the weights file are left alone.
inline void Bind(EffectInstance* instance, BindPath path, int threads) {
  ostrand::SetThreadCount(threads);
  ostrand::ReleaseComputedData(instance);
  USEFUL(useful_TargetListEffectUpdate)(instance->Targets);
  if (path == BindPath::kDenseRows) {
    PrepareDenseTargets(instance);
    ostrand::CalculateCoordinates(instance, ostrand::IncompleteTarget::kRelease, DenseRows());
    CompactDenseWeights(instance);
  } else {
    ostrand::PrepareTargets(instance);
    ostrand::CalculateCoordinates(instance, ostrand::IncompleteTarget::kRelease);
    ostrand::CompactWeights(instance,
                            path == BindPath::kKeptWeights ? &ostrand::SpreadOverWorkers : nullptr);
  }
}

}  // namespace test_support
