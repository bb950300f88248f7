#include "instance/control_panel.h"

namespace ostrand {

int32_t BuildControlPanel(void*, uint32_t, uint64_t) { return 0; }

}  // namespace ostrand
