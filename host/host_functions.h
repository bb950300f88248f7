// The host functions with behaviour, as C++ functions of exactly the types the
// module expects (the name##_fn typedefs of ostrand/host_api.h). They live in a
// namespace, so they never collide with the module's own names when both are
// linked into one test program; the lookup hands out their addresses.
#pragma once

#include <type_traits>

#include "ostrand/host_api.h"

namespace host::api {

#define OSTRAND_HOST_API(result, name, parameters) result name parameters;
#include "ostrand/host_api.inc"
#undef OSTRAND_HOST_API

// Index of each function with behaviour, for its call counter.
enum ApiIndex : int {
#define OSTRAND_HOST_API(result, name, parameters) API_##name,
#include "ostrand/host_api.inc"
#undef OSTRAND_HOST_API
  kApiCount
};

#define OSTRAND_HOST_API(result, name, parameters) \
  static_assert(std::is_same_v<decltype(&name), ::name##_fn>, #name " must have the type the module calls");
#include "ostrand/host_api.inc"
#undef OSTRAND_HOST_API

}  // namespace host::api
