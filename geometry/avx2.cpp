#include "geometry/avx2.h"

namespace ostrand {

bool Avx2Offered() {
#if OSTRAND_AVX2
  static const bool offered = __builtin_cpu_supports("avx2");
  return offered;
#else
  return false;
#endif
}

}  // namespace ostrand
