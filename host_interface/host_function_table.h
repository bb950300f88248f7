// The host function table: one address per host function name, resolved by name
// once at load and called through by every other part of the module.
#pragma once

#include <cstdint>

#include "ostrand/host_api.h"

namespace ostrand {

// Null until resolved; each entry is written once, right after its lookup.
extern void* HostFunctionTable[kHostFunctionCount];
// Bits of the groups whose resolution has begun (kept even when it failed).
extern uint32_t loadedGroups;

// Resolves every name of every group in groups that has not been begun
// yet, in resolution order, through hostLookup. Returns 1 when all were found.
// At the first missing name it stops, reports the name through fxMessageSend
// (kind kMessageKindMissingFunction, sender moduleName) when that function is
// known by then, and returns 0. Needs hostLookup and moduleName.
uint32_t resolveHostFunctions(uint32_t groups);

}  // namespace ostrand

// Calls a host function through the table by its name: FX(fxMeshPoint)(...).
#define FX(name) (reinterpret_cast<name##_fn>(::ostrand::HostFunctionTable[::ostrand::HF_##name]))
