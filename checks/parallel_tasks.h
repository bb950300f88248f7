// The checks spread their tasks over plain threads of their own.
#pragma once

#include <cstddef>
#include <functional>

namespace checks {

// Runs work on up to `threads` threads (0 or less: one per processor), never
// more than tasks, the calling thread among them, and returns when all are
// done. Each call of work takes its tasks from a counter of the caller's, so
// fewer threads (when the system gives none) do the same work.
void RunWorkers(int threads, size_t tasks, const std::function<void()>& work);

}  // namespace checks
