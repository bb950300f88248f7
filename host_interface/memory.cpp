#include "host_interface/memory.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>

#include "platform/physical_memory.h"

namespace ostrand {
namespace {
std::atomic<long> failAt{-1};
std::atomic<long> attempts{0};
std::atomic<uint64_t> blockLimit{0};  // 0: the machine's physical memory, looked up at first use
std::atomic<int64_t> liveBlocks{0};
std::atomic<int64_t> liveBytes{0};

int64_t UsableBytes(void* block) {
#if defined(_WIN32)
  return static_cast<int64_t>(_msize(block));
#else
  return static_cast<int64_t>(malloc_usable_size(block));
#endif
}

void* Counted(void* block) {
  if (block == nullptr) return nullptr;
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  liveBytes.fetch_add(UsableBytes(block), std::memory_order_relaxed);
  return block;
}

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
  return Counted(std::calloc(count, size));
}

void* ResizeBlock(void* block, size_t count, size_t size) {
  if (count == 0 || size == 0) return nullptr;
  if (count > SIZE_MAX / size) return nullptr;
  if (static_cast<uint64_t>(count) * size > BlockLimit()) return nullptr;
  long n = attempts.fetch_add(1, std::memory_order_relaxed);
  if (n == failAt.load(std::memory_order_relaxed)) return nullptr;
  // The old block's bytes are counted out before realloc may free it.
  const int64_t before = block != nullptr ? UsableBytes(block) : 0;
  void* resized = std::realloc(block, count * size);
  if (resized == nullptr) return nullptr;
  if (block != nullptr) {
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    liveBytes.fetch_sub(before, std::memory_order_relaxed);
  }
  return Counted(resized);
}

void FreeBlock(void* block) {
  if (block == nullptr) return;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  liveBytes.fetch_sub(UsableBytes(block), std::memory_order_relaxed);
  std::free(block);
}

HeapUse LiveBlocks() {
  return {liveBlocks.load(std::memory_order_relaxed), liveBytes.load(std::memory_order_relaxed)};
}

long SetAllocationFailure(long n) {
  long made = attempts.exchange(0);
  failAt.store(n < 0 ? -1 : n);
  return made;
}

void SetBlockLimit(uint64_t bytes) { blockLimit.store(bytes, std::memory_order_relaxed); }

}  // namespace ostrand
