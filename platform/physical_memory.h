// The machine's physical memory, for refusing blocks that could only be had
// by overcommitting it.
#pragma once

#include <cstdint>

namespace ostrand {

// Bytes of physical memory installed; 0 when the platform does not say.
uint64_t PhysicalMemoryBytes();

}  // namespace ostrand
