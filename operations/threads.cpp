#include "operations/threads.h"

#include <omp.h>

#include <atomic>

namespace ostrand {
namespace {
// Kept here rather than only in the runtime, whose setting belongs to the host
// thread that made it: evaluations may arrive on other host threads.
std::atomic<int> workerThreads{1};
}  // namespace

void SetThreadCount(int32_t count) {
  int threads = count < 1 ? 1 : (count > kMaxWorkerThreads ? kMaxWorkerThreads : count);
  workerThreads.store(threads);
  omp_set_num_threads(threads);
}

int WorkerThreads() { return workerThreads.load(); }

void StaticBlock(int64_t first, int64_t end, int t, int T, int64_t* blockBegin, int64_t* blockEnd) {
  int64_t n = end > first ? end - first : 0;
  int64_t q = n / T, rem = n % T;
  int64_t begin = t < rem ? first + t * (q + 1) : first + t * q + rem;
  *blockBegin = begin;
  *blockEnd = begin + (t < rem ? q + 1 : q);
}

}  // namespace ostrand
