// The host interface: function-pointer types of every host call with behaviour,
// and the indices of the host function names and the geometry services.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

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

// Group word passed with the lookup of the geometry services.
constexpr uint32_t kUsefulGroup = 0x80000000u;

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

}  // namespace ostrand
