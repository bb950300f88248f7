// The invariants an instance's computed data must keep whatever a weights file
// held: those of the whole instance (instance_invariants.h). Shared by the
// unit tests and the weights-file fuzzer. Header-only.
#pragma once

#include <string>

#include "support/instance_invariants.h"
#include "ostrand/types.h"

namespace weights_invariants {

// "" when the instance keeps every invariant, else what broke first.
inline std::string Check(const EffectInstance* instance) { return instance_invariants::Check(*instance); }

}  // namespace weights_invariants
