// The instance-data message of the module callback.
#pragma once

#include <cstdint>

namespace ostrand {

// Message 11: create (0x1), destroy (0x4), load (0x800), save (0x1000),
// existence query (0x8000000), prepare for evaluation (0x10000000). Returns 1
// when the item has no instance (after the not-found message), else 0.
int32_t InstanceDataHandler(void* handle, uint32_t effectId, uint64_t subMessage);

}  // namespace ostrand
