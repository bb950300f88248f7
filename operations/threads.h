// The module-wide worker-thread count of the parallel loops.
#pragma once

#include <cstdint>

namespace ostrand {

// The largest count handed to the parallel runtime; larger requests are kept
// by the caller (and shown to the user) but run with this many threads.
inline constexpr int32_t kMaxWorkerThreads = 1024;

// Sets num_threads, the worker count of every later parallel loop; below 1
// counts as 1.
void SetThreadCount(int32_t count);

// The count last set within [1, kMaxWorkerThreads], as the parallel loops use
// it (1 before any was set).
int WorkerThreads();

// The contiguous block of rows [first, end) that thread t of T takes: the
// first (n mod T) threads take one row more than the others.
void StaticBlock(int64_t first, int64_t end, int t, int T, int64_t* blockBegin, int64_t* blockEnd);

}  // namespace ostrand
