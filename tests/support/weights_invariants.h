// The invariants an instance's computed data must keep whatever a weights file
// held: those of the whole instance (instance_invariants.h). Shared by the
// unit tests and the weights-file fuzzer. Header-only.
#pragma once

#include <string>

#include "ostrand/types.h"
#include "support/instance_invariants.h"

namespace test_support {

// "" when the instance keeps every invariant, else what broke first.
inline std::string CheckWeights(const EffectInstance* instance) { return CheckInstance(*instance); }

}  // namespace test_support
