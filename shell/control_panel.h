// The effect's control panel and its control callbacks.
#pragma once

#include <cstdint>

namespace ostrand {

// kMessageControlPanel: builds the nine controls when the argument is
// kControlPanelBuild; returns 0.
int32_t BuildControlPanel(void* handle, uint32_t effectId, uint64_t argument);

}  // namespace ostrand
