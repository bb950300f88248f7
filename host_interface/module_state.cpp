#include "host_interface/module_state.h"

namespace ostrand {

char moduleName[kModuleNameSize] = " ";
HostLookup hostLookup = nullptr;
uint32_t requestedGroups = 0;
char logPath[kPathBufferSize];
char settingsPath[kPathBufferSize];
std::atomic<int32_t> num_threads{0};
void* UsefulTable[kUsefulFunctionCount];

}  // namespace ostrand
