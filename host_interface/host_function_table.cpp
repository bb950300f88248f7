#include "host_interface/host_function_table.h"

#include "host_interface/module_state.h"
#include "ostrand/protocol.h"

namespace ostrand {

void* HostFunctionTable[kHostFunctionCount];
uint32_t loadedGroups = 0;

namespace {

// Bit of the group being resolved; passed with each of its lookups.
uint32_t currentGroup = 0;

// "<name> could not be found!" for every host function name, each a fixed text.
constexpr const char* kMissingTexts[kHostFunctionCount] = {
#define OSTRAND_HOST_FUNCTION(name, group) #name " could not be found!",
#include "ostrand/host_functions.inc"
#undef OSTRAND_HOST_FUNCTION
};

}  // namespace

uint32_t resolveHostFunctions(uint32_t groups) {
  // Names of one group are contiguous in resolution order, so a group begins
  // wherever the group bit changes.
  bool resolving = false;
  uint32_t group = 0;
  for (int i = 0; i < kHostFunctionCount; ++i) {
    const HostFunctionName& entry = kHostFunctionNames[i];
    if (i == 0 || entry.group != group) {
      group = entry.group;
      resolving = (groups & group) != 0 && (loadedGroups & group) == 0;
      if (resolving) {
        loadedGroups |= group;
        currentGroup = group;
      }
    }
    if (!resolving) continue;

    void* address = hostLookup(entry.name, currentGroup);
    HostFunctionTable[i] = address;
    if (address == nullptr) {
      if (HostFunctionTable[HF_fxMessageSend] != nullptr)
        FX(fxMessageSend)(0, moduleName, kMessageKindMissingFunction, kMissingTexts[i], nullptr);
      return 0;
    }
  }
  return 1;
}

}  // namespace ostrand
