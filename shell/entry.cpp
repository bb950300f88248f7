// The module's exported entry points.
#include <cstdio>
#include <cstring>

#include "operations/threads.h"
#include "host_interface/host_function_table.h"
#include "shell/module_callback.h"
#include "host_interface/module_state.h"
#include "shell/settings.h"

#if defined(_WIN32)
#define OSTRAND_EXPORT extern "C" __declspec(dllexport)
#else
#define OSTRAND_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Copies at most size - 1 characters and always terminates.
void copyBounded(char* destination, const char* source, size_t size) {
  std::strncpy(destination, source, size - 1);
  destination[size - 1] = '\0';
}

void registerModule() {
  using ostrand::moduleCallback;
  FX(fxModuleDescription)("Ostrand", 0);
  FX(fxModuleAccess)(11, 0x10001805, 0);
  FX(fxModuleAccess)(29, 1, 0);
  FX(fxModuleAccess)(10, 0x1000, 0);
  FX(fxModuleAccess)(31, 2, 0);
  FX(fxModuleRegister)(1, "Ostrand", moduleCallback, 1);
}

}  // namespace

// The plug-in interface version; may be called at any time.
OSTRAND_EXPORT int32_t orreryAPI(void) { return 0x103000; }

// Makes the module ready: 0 ready; 5 when the low four bits of hostFlags are
// not 2; 1 when hostWord has none of the bits 0xF00000; 4 when a host function
// is missing (reported through the host when it can be).
OSTRAND_EXPORT int32_t orreryEntry(char* moduleNameBuffer, HostLookup lookup, uint32_t hostWord, uint32_t hostFlags) {
  using namespace ostrand;
  requestedGroups = 0x7FFFFFFF;
  if ((hostFlags & 0xF) != 2) return 5;
  if ((hostWord & 0xF00000) == 0) return 1;

  if (moduleNameBuffer != nullptr) {
    copyBounded(moduleNameBuffer, "Ostrand", 255);
    copyBounded(moduleName, moduleNameBuffer, 255);
  } else {
    copyBounded(moduleName, "Ostrand", 255);
  }
  hostLookup = lookup;
  if (hostLookup == nullptr || !resolveHostFunctions(requestedGroups)) return 4;

  buildFilePaths();
  emptyLog();
  appendLogLine("start of log\n");
  registerModule();
  appendLogLine("Plugin registered.\n");
  readSettings();
  appendLogLine("Ini loaded.\n");
  SetThreadCount(num_threads);
  char line[64];
  std::snprintf(line, sizeof line, "Setting threads to: %u\n", static_cast<unsigned>(num_threads));
  appendLogLine(line);
  appendLogLine("FX_PLUGIN_OK\n");
  return 0;
}

// Writes the log's last line; returns the result of closing the log.
OSTRAND_EXPORT int32_t orreryExit(void) {
  using namespace ostrand;
  if (logPath[0] == '\0') return EOF;
  FILE* log = std::fopen(logPath, "a");
  if (log == nullptr) return EOF;
  std::fwrite("end of log\n", 1, 11, log);
  return std::fclose(log);
}
