// Code built for AVX2 beside the code every x86-64 processor runs: built
// only for x86-64 with GCC or Clang, and not for Windows, whose compilers
// here do not keep the stack aligned for it. Each function built for it
// carries OSTRAND_AVX2_TARGET and runs only where Avx2Offered() says the
// processor and system run it.
#pragma once

#if (defined(__x86_64__) || defined(__amd64__)) && defined(__GNUC__) && !defined(_WIN32)
#define OSTRAND_AVX2 1
#define OSTRAND_AVX2_TARGET __attribute__((target("avx2")))
#else
#define OSTRAND_AVX2 0
#endif

namespace ostrand {

// Whether the processor offers AVX2 (found once). Always false where
// OSTRAND_AVX2 is 0.
bool Avx2Offered();

}  // namespace ostrand
