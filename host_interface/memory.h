// Heap arrays of the module. Every array a record owns is obtained here, zero
// filled, and released with FreeArray, so that tests can make the n-th
// allocation fail and check that nothing is used that was not obtained.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrand {

// Zero-filled block of count elements of size bytes; null when count is 0, when
// count * size overflows or exceeds the block limit, or when the heap (or the
// failure injection) refuses.
//
// The limit is the machine's physical memory: counts come from the host and
// from files, and a block larger than the memory could only be had through
// the system's overcommitment, to fail later, when the module touches it, by
// taking the whole host process down instead of with a message.
void* AllocateZeroed(size_t count, size_t size);

// Sets out to a zero-filled array of count elements. An empty array is null and
// counts as success; returns false (out null) when the memory cannot be had.
template <class T>
bool AllocateArray(T*& out, size_t count) {
  out = static_cast<T*>(AllocateZeroed(count, sizeof(T)));
  return out != nullptr || count == 0;
}

void FreeBlock(void* block);

// The block resized to count elements of size bytes, its first entries kept
// and the entries beyond them not cleared; null (block untouched and still
// owned by the caller) on the same refusals as AllocateZeroed. count 0 is
// refused too: free the block instead. A null block is allocated anew.
// Large blocks grow in place or by remapping their pages, without a copy.
void* ResizeBlock(void* block, size_t count, size_t size);

// Grows or shrinks array to count elements (see ResizeBlock); on failure
// returns false with the array as it was.
template <class T>
bool ResizeArray(T*& array, size_t count) {
  void* resized = ResizeBlock(array, count, sizeof(T));
  if (resized == nullptr) return false;
  array = static_cast<T*>(resized);
  return true;
}

// Frees and empties; harmless on an empty array.
template <class T>
void FreeArray(T*& array) {
  FreeBlock(const_cast<void*>(static_cast<const void*>(array)));
  array = nullptr;
}

// Failure injection for tests: the n-th allocation from now on (0 = the next
// one) fails; a negative n switches it off. Returns the number of allocations
// attempted since the last call.
long SetAllocationFailure(long n);

// Replaces the block limit (bytes; 0 restores the physical memory), so that
// tests and fuzzers see the same refusals on every machine.
void SetBlockLimit(uint64_t bytes);

// The blocks obtained here and not yet freed, and their bytes as the heap
// counts them (its usable size, at least what was asked for). An instance
// destroyed gives back every block it took: tests compare these before and
// after.
struct HeapUse {
  int64_t blocks = 0;
  int64_t bytes = 0;
  bool operator==(const HeapUse&) const = default;
};
HeapUse LiveBlocks();

}  // namespace ostrand
