// The instance-data message of the module callback.
#pragma once

#include <cstdint>

namespace ostrand {

// kMessageInstanceData: kInstanceCreate, kInstanceDestroy, kInstanceLoad,
// kInstanceSave, kInstanceExists (existence query), kInstancePrepare (prepare
// for evaluation). Returns 1 when the item has no instance (after the
// not-found message), else 0.
int32_t InstanceDataHandler(void* handle, uint32_t effectId, uint64_t subMessage);

}  // namespace ostrand
