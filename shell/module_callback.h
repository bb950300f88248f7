// The callback through which the host drives the module after entry.
#pragma once

#include <cstdint>

namespace ostrand {

// Dispatches kMessageEvaluate, kMessageInstanceData, kMessageControlPanel and
// kMessageServices with kServicesGeometry (look up the geometry services);
// other messages do nothing and return 0.
int32_t moduleCallback(void* handle, uint32_t effectId, int32_t message, uint64_t argument);

// Looks up the 29 geometry services into UsefulTable, nulls included.
void LookUpUsefulServices();

}  // namespace ostrand
