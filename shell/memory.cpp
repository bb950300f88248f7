#include "shell/memory.h"

#include <atomic>
#include <cstdlib>

namespace ostrand {
namespace {
std::atomic<long> failAt{-1};
std::atomic<long> attempts{0};
}  // namespace

void* AllocateZeroed(size_t count, size_t size) {
  if (count == 0 || size == 0) return nullptr;
  if (count > SIZE_MAX / size) return nullptr;
  long n = attempts.fetch_add(1, std::memory_order_relaxed);
  if (n == failAt.load(std::memory_order_relaxed)) return nullptr;
  return std::calloc(count, size);
}

void FreeBlock(void* block) { std::free(block); }

long SetAllocationFailure(long n) {
  long made = attempts.exchange(0);
  failAt.store(n < 0 ? -1 : n);
  return made;
}

}  // namespace ostrand
