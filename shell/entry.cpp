// The module's exported entry points.
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "operations/threads.h"
#include "host_interface/host_function_table.h"
#include "shell/module_callback.h"
#include "host_interface/module_state.h"
#include "shell/settings.h"
#include "ostrand/protocol.h"

#if defined(_WIN32)
#define OSTRAND_EXPORT extern "C" __declspec(dllexport)
#else
#define OSTRAND_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Copies at most size - 1 characters and always terminates.
void CopyBounded(char* destination, const char* source, size_t size) {
  std::strncpy(destination, source, size - 1);
  destination[size - 1] = '\0';
}

void RegisterModule() {
  using namespace ostrand;
  FX(fxModuleDescription)("Ostrand", 0);
  FX(fxModuleAccess)(kMessageInstanceData, kAccessInstanceData, 0);
  FX(fxModuleAccess)(kMessageControlPanel, kAccessControlPanel, 0);
  FX(fxModuleAccess)(kMessageEvaluate, kAccessEvaluate, 0);
  FX(fxModuleAccess)(kMessageServices, kAccessServices, 0);
  FX(fxModuleRegister)(kRegisterKind, "Ostrand", moduleCallback, 1);
}

}  // namespace

// The plug-in interface version; may be called at any time.
OSTRAND_EXPORT int32_t orreryAPI(void) { return ostrand::kApiVersion; }

// Makes the module ready: kEntryReady; kEntryHostFlagsRefused when the low
// four bits of hostFlags are not kHostFlagsRequired; kEntryHostWordRefused when
// hostWord has none of the bits of kHostWordMask; kEntryHostFunctionMissing
// when a host function is missing (reported through the host when it can be).
OSTRAND_EXPORT int32_t orreryEntry(char* moduleNameBuffer, HostLookup lookup, uint32_t hostWord, uint32_t hostFlags) {
  using namespace ostrand;
  requestedGroups = kAllHostGroups;
  if ((hostFlags & kHostFlagsMask) != kHostFlagsRequired) return kEntryHostFlagsRefused;
  if ((hostWord & kHostWordMask) == 0) return kEntryHostWordRefused;

  if (moduleNameBuffer != nullptr) {
    CopyBounded(moduleNameBuffer, "Ostrand", 255);
    CopyBounded(moduleName, moduleNameBuffer, 255);
  } else {
    CopyBounded(moduleName, "Ostrand", 255);
  }
  hostLookup = lookup;
  if (hostLookup == nullptr || !resolveHostFunctions(requestedGroups)) return kEntryHostFunctionMissing;

  BuildFilePaths();
  EmptyLog();
  appendLogLine("start of log\n");
  RegisterModule();
  appendLogLine("Plugin registered.\n");
  readSettings();
  appendLogLine("Ini loaded.\n");
  SetThreadCount(num_threads);
  char line[64];
  std::snprintf(line, sizeof line, "Setting threads to: %u\n", static_cast<unsigned>(num_threads));
  appendLogLine(line);
  appendLogLine("FX_PLUGIN_OK\n");
  return kEntryReady;
}

// Ends the worker threads (their code goes away with the module) and writes
// the log's last line; returns the result of closing the log.
OSTRAND_EXPORT int32_t orreryExit(void) {
  using namespace ostrand;
  StopWorkerThreads();
  if (logPath[0] == '\0') return EOF;
  FILE* log = std::fopen(logPath, "a");
  if (log == nullptr) return EOF;
  std::fwrite("end of log\n", 1, 11, log);
  return std::fclose(log);
}

// The definitions above must have exactly the types a host calls them through.
static_assert(std::is_same_v<decltype(&orreryAPI), OrreryApiFn>);
static_assert(std::is_same_v<decltype(&orreryEntry), OrreryEntryFn>);
static_assert(std::is_same_v<decltype(&orreryExit), OrreryExitFn>);
