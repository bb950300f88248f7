// The module's exported entry points.
#include <cstdint>

#if defined(_WIN32)
#define OSTRAND_EXPORT extern "C" __declspec(dllexport)
#else
#define OSTRAND_EXPORT extern "C" __attribute__((visibility("default")))
#endif

OSTRAND_EXPORT int32_t orreryAPI(void) { return 0x103000; }
