#include "operations/threads.h"

#include <omp.h>

#include "host_interface/module_state.h"

namespace ostrand {
namespace {

int WithinLimits(int32_t count) { return count < 1 ? 1 : (count > kMaxWorkerThreads ? kMaxWorkerThreads : count); }

}  // namespace

void SetThreadCount(int32_t count) {
  num_threads.store(count);
  omp_set_num_threads(WithinLimits(count));
}

// Read from num_threads rather than from the runtime, whose setting belongs to
// the host thread that made it: evaluations may arrive on other host threads.
int WorkerThreads() { return WithinLimits(num_threads.load()); }

void StaticBlock(int64_t first, int64_t end, int t, int T, int64_t* blockBegin, int64_t* blockEnd) {
  int64_t n = end > first ? end - first : 0;
  int64_t q = n / T, rem = n % T;
  int64_t begin = t < rem ? first + t * (q + 1) : first + t * q + rem;
  *blockBegin = begin;
  *blockEnd = begin + (t < rem ? q + 1 : q);
}

}  // namespace ostrand
