#include "shell/module_callback.h"

#include "operations/evaluation.h"
#include "shell/control_panel.h"
#include "shell/instance_data.h"
#include "host_interface/module_state.h"
#include "ostrand/protocol.h"

namespace ostrand {

void LookUpUsefulServices() {
  for (int i = 0; i < kUsefulFunctionCount; ++i) UsefulTable[i] = hostLookup(kUsefulFunctionNames[i], kUsefulGroup);
}

int32_t moduleCallback(void* handle, uint32_t effectId, int32_t message, uint64_t argument) {
  switch (message) {
    case kMessageEvaluate:
      return EvaluateInstance(effectId, argument);
    case kMessageInstanceData:
      return InstanceDataHandler(handle, effectId, argument);
    case kMessageControlPanel:
      return BuildControlPanel(handle, effectId, argument);
    case kMessageServices:
      if (argument == kServicesGeometry && hostLookup != nullptr) LookUpUsefulServices();
      return 0;
    default:
      return 0;
  }
}

}  // namespace ostrand
