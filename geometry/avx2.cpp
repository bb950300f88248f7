#include "geometry/avx2.h"

namespace ostrand {

bool Avx2Offered() {
#if OSTRAND_AVX2
  static const bool kOffered = __builtin_cpu_supports("avx2");
  return kOffered;
#else
  return false;
#endif
}

}  // namespace ostrand
