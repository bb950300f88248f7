#include "host_interface/memory.h"

#include <atomic>
#include <cstdlib>

#include "platform/physical_memory.h"

namespace ostrand {
namespace {
std::atomic<long> failAt{-1};
std::atomic<long> attempts{0};
std::atomic<uint64_t> blockLimit{0};  // 0: the machine's physical memory, looked up at first use

uint64_t BlockLimit() {
  uint64_t limit = blockLimit.load(std::memory_order_relaxed);
  if (limit != 0) return limit;
  limit = PhysicalMemoryBytes();
  if (limit == 0) limit = UINT64_MAX;  // unknown: the heap alone decides
  blockLimit.store(limit, std::memory_order_relaxed);
  return limit;
}
}  // namespace

void* AllocateZeroed(size_t count, size_t size) {
  if (count == 0 || size == 0) return nullptr;
  if (count > SIZE_MAX / size) return nullptr;
  if (static_cast<uint64_t>(count) * size > BlockLimit()) return nullptr;
  long n = attempts.fetch_add(1, std::memory_order_relaxed);
  if (n == failAt.load(std::memory_order_relaxed)) return nullptr;
  return std::calloc(count, size);
}

void* ResizeBlock(void* block, size_t count, size_t size) {
  if (count == 0 || size == 0) return nullptr;
  if (count > SIZE_MAX / size) return nullptr;
  if (static_cast<uint64_t>(count) * size > BlockLimit()) return nullptr;
  long n = attempts.fetch_add(1, std::memory_order_relaxed);
  if (n == failAt.load(std::memory_order_relaxed)) return nullptr;
  return std::realloc(block, count * size);
}

void FreeBlock(void* block) { std::free(block); }

long SetAllocationFailure(long n) {
  long made = attempts.exchange(0);
  failAt.store(n < 0 ? -1 : n);
  return made;
}

void SetBlockLimit(uint64_t bytes) { blockLimit.store(bytes, std::memory_order_relaxed); }

}  // namespace ostrand
