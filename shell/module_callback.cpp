#include "shell/module_callback.h"

#include "operations/evaluation.h"
#include "shell/control_panel.h"
#include "shell/instance_data.h"
#include "host_interface/module_state.h"

namespace ostrand {

void lookUpUsefulServices() {
  for (int i = 0; i < kUsefulFunctionCount; ++i) UsefulTable[i] = hostLookup(kUsefulFunctionNames[i], kUsefulGroup);
}

int32_t moduleCallback(void* handle, uint32_t effectId, int32_t message, uint64_t argument) {
  switch (message) {
    case 10:
      return EvaluateInstance(effectId, argument);
    case 11:
      return InstanceDataHandler(handle, effectId, argument);
    case 29:
      return BuildControlPanel(handle, effectId, argument);
    case 31:
      if (argument == 2 && hostLookup != nullptr) lookUpUsefulServices();
      return 0;
    default:
      return 0;
  }
}

}  // namespace ostrand
