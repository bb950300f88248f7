// Connects the module's code, linked into a test program, to a host stand-in:
// the host function table and the geometry services are resolved from the
// host's lookup, as entry and message 31 would do.
#pragma once

#include "host/host.h"
#include "host_interface/host_function_table.h"
#include "shell/module_callback.h"
#include "host_interface/module_state.h"

namespace in_process_module {

// Returns false when a host function could not be resolved.
inline bool Connect(host::Host& host) {
  ostrand::hostLookup = host::Host::lookupFunction();
  ostrand::loadedGroups = 0;
  for (void*& f : ostrand::HostFunctionTable) f = nullptr;
  if (ostrand::resolveHostFunctions(0x7FFFFFFF) != 1) return false;
  ostrand::lookUpUsefulServices();
  host.setModuleCallback(ostrand::moduleCallback);
  return true;
}

}  // namespace in_process_module
