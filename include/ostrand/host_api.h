// The host interface: function-pointer types of every host call with behaviour,
// and the indices of the host function names and the geometry services.
#pragma once

#include <cstdint>

#include "ostrand/protocol.h"

extern "C" {
#define OSTRAND_HOST_API(result, name, parameters) typedef result(*name##_fn) parameters;
#include "ostrand/host_api.inc"
#undef OSTRAND_HOST_API
}

namespace ostrand {

// Index of every host function name, in resolution order.
enum HostFunctionIndex : int {
#define OSTRAND_HOST_FUNCTION(name, group) HF_##name,
#include "ostrand/host_functions.inc"
#undef OSTRAND_HOST_FUNCTION
  kHostFunctionCount
};

// Index of every geometry service, in lookup order.
enum UsefulFunctionIndex : int {
#define OSTRAND_USEFUL_FUNCTION(name) UF_##name,
#include "ostrand/useful_functions.inc"
#undef OSTRAND_USEFUL_FUNCTION
  kUsefulFunctionCount
};

static_assert(kHostFunctionCount == 728);
static_assert(kUsefulFunctionCount == 29);

struct HostFunctionName {
  const char* name;
  uint32_t group;
};

// Every host function name with its group bit, in resolution order.
inline constexpr HostFunctionName kHostFunctionNames[kHostFunctionCount] = {
#define OSTRAND_HOST_FUNCTION(name, group) {#name, group},
#include "ostrand/host_functions.inc"
#undef OSTRAND_HOST_FUNCTION
};

inline constexpr const char* kUsefulFunctionNames[kUsefulFunctionCount] = {
#define OSTRAND_USEFUL_FUNCTION(name) #name,
#include "ostrand/useful_functions.inc"
#undef OSTRAND_USEFUL_FUNCTION
};

// The groups the list gives the functions with behaviour are the named groups
// of ostrand/protocol.h.
static_assert(kHostFunctionNames[HF_fxMessageSend].group == kGroupMessages);
static_assert(kHostFunctionNames[HF_fxPluginPath].group == kGroupPaths);
static_assert(kHostFunctionNames[HF_fxObjectGetName].group == kGroupObjects);
static_assert(kHostFunctionNames[HF_fxMeshPoint].group == kGroupMeshes);
static_assert(kHostFunctionNames[HF_fxDataSet].group == kGroupData);
static_assert(kHostFunctionNames[HF_fxFormatNew].group == kGroupFormats);
static_assert(kHostFunctionNames[HF_fxCC_Button].group == kGroupControls);
static_assert(kHostFunctionNames[HF_fxModuleAccess].group == kGroupModule);

}  // namespace ostrand
