// Module-wide state of the shell, alive from load to unload.
#pragma once

#include <atomic>
#include <cstdint>

#include "ostrand/host_api.h"

namespace ostrand {

enum { kModuleNameSize = 256, kPathBufferSize = 2048 };

// Sender name of the binding's failure messages; " " until entry writes "Ostrand".
extern char moduleName[kModuleNameSize];
// The host's lookup, from the second argument of orreryEntry.
extern HostLookup hostLookup;
// Host-function groups to resolve; kAllHostGroups from entry on.
extern uint32_t requestedGroups;
// Full paths of the log and settings files, built at entry ("" when they do not fit).
extern char logPath[kPathBufferSize];
extern char settingsPath[kPathBufferSize];
// Worker-thread count from the settings file and the "Threads" control, as
// the user gave it; the parallel loops run with WorkerThreads(), this count
// within [1, kMaxWorkerThreads]. Atomic: evaluations may arrive on other host
// threads than the one that sets it.
extern std::atomic<int32_t> num_threads;
// The geometry module's services, filled on kMessageServices with
// kServicesGeometry; an entry the host does not offer stays null.
extern void* UsefulTable[kUsefulFunctionCount];

}  // namespace ostrand

// The geometry service of that name, or null when the host does not offer it.
#define USEFUL(name) (reinterpret_cast<name##_fn>(::ostrand::UsefulTable[::ostrand::UF_##name]))
