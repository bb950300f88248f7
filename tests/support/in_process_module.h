// Connects the module's code, linked into a test program, to a host stand-in:
// the host function table and the geometry services are resolved from the
// host's lookup, as entry and message 31 would do.
#pragma once

#include "host/host.h"
#include "host_interface/host_function_table.h"
#include "host_interface/module_state.h"
#include "operations/threads.h"
#include "shell/module_callback.h"

namespace test_support {

// Returns false when a host function could not be resolved.
inline bool ConnectInProcessModule(host::Host& host) {
  ostrand::hostLookup = host::Host::lookupFunction();
  ostrand::loadedGroups = 0;
  for (void*& f : ostrand::HostFunctionTable) f = nullptr;
  if (ostrand::resolveHostFunctions(ostrand::kAllHostGroups) != 1) return false;
  ostrand::LookUpUsefulServices();
  host.setModuleCallback(ostrand::moduleCallback);
  return true;
}

// The amounts of work below which the module's loops run on the calling
// thread (evaluation: stored weights; calculation: rows x samples); 0 puts
// every loop on threads.
inline void SetSmallWorkThresholds(int64_t evaluation, int64_t calculation) {
  ostrand::SetSmallWorkThresholds({evaluation, calculation});
}

}  // namespace test_support
