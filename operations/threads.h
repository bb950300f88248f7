// The module's worker threads and the parallel loops that run on them.
//
// The threads are the module's own: a loop wakes as many as it needs, the
// calling thread works as one of them, and a thread that waits (for work, or
// for the others to finish) spins only for a few microseconds before it
// sleeps. Inside a busy host that matters: a thread that spins holds a core
// that the thread it waits for, or the host, needs.
//
// Every loop gives each index to exactly one thread, so what an iteration
// computes does not depend on how many threads there are.
//
// A host may fork, even while another of its threads is in a loop: the
// child's first loop makes workers of its own.
#pragma once

#include <cstdint>

namespace ostrand {

// The largest count handed to the loops; larger requests are kept by the
// caller (and shown to the user) but run with this many threads.
inline constexpr int32_t kMaxWorkerThreads = 1024;

// Sets num_threads, the thread count of every later parallel loop; below 1
// counts as 1.
void SetThreadCount(int32_t count);

// The count last set within [1, kMaxWorkerThreads], as the parallel loops use
// it (1 before any was set).
int WorkerThreads();

// Work below which threads do not pay: waking them costs more than they
// gain. Evaluation: stored weights (at least one per active point);
// calculation: rows x sample directions. bench/threads_bench.cpp measures
// where they begin to pay (docs/benchmarks.md, "Worker threads").
struct SmallWork {
  int64_t evaluation = 30000;
  int64_t calculation = 4000;
};
SmallWork SmallWorkThresholds();
// For tests and benchmarks: other thresholds (0: threads for any work).
void SetSmallWorkThresholds(SmallWork thresholds);

// The threads a loop of this much work runs on: the calling thread alone
// below threshold, else WorkerThreads().
int ThreadsFor(int64_t work, int64_t threshold);

// The contiguous block of rows [first, end) that thread t of T takes: the
// first (n mod T) threads take one row more than the others.
void StaticBlock(int64_t first, int64_t end, int t, int T, int64_t* blockBegin, int64_t* blockEnd);

// Calls task(context, t, T) for t = 0 .. T-1, each on its own thread (t = 0 on
// the calling thread), and returns when every call has returned. T is
// `threads`, or 1 while another loop runs (called from inside a loop's work,
// or from another host thread: the work then runs on the caller), or fewer
// when the system refuses more threads.
using ThreadTask = void (*)(void* context, int t, int T);
void RunOnThreads(int threads, ThreadTask task, void* context);

// The same for any callable body(t, T).
template <typename Body>
void RunOnThreads(int threads, Body& body) {
  RunOnThreads(
      threads, [](void* context, int t, int T) { (*static_cast<Body*>(context))(t, T); }, &body);
}

// body(i) for every i in [first, end): in contiguous blocks, one per thread
// (ForEachStatic), or in chunks of `chunk` (ForEachDynamic). In the dynamic
// loop each thread starts on its own contiguous block of chunks, front to
// back, and a thread that finishes its block takes chunks from the back of the
// others' blocks. That keeps every thread busy when one of them runs slower
// (its core shared with another program), while two threads write next to
// each other only where their blocks meet, not at every chunk.
template <typename Body>
void ForEachStatic(int64_t first, int64_t end, int threads, Body&& body) {
  auto block = [&](int t, int T) {
    int64_t begin = 0, stop = 0;
    StaticBlock(first, end, t, T, &begin, &stop);
    for (int64_t i = begin; i < stop; ++i) body(i);
  };
  RunOnThreads(threads, block);
}

// Calls range(context, begin, stop) for chunks covering [first, end) once, as
// described above; ForEachDynamic is the form to use.
using ChunkTask = void (*)(void* context, int64_t begin, int64_t stop);
void RunChunks(int64_t first, int64_t end, int64_t chunk, int threads, ChunkTask range, void* context);

template <typename Body>
void ForEachDynamic(int64_t first, int64_t end, int64_t chunk, int threads, Body&& body) {
  if (threads <= 1 || end - first <= chunk) {
    for (int64_t i = first; i < end; ++i) body(i);
    return;
  }
  auto range = [&](int64_t begin, int64_t stop) {
    for (int64_t i = begin; i < stop; ++i) body(i);
  };
  RunChunks(
      first, end, chunk, threads,
      [](void* context, int64_t begin, int64_t stop) { (*static_cast<decltype(range)*>(context))(begin, stop); },
      &range);
}

// fill(context, begin, end) over [0, count) in pieces on the worker threads,
// for long fills of one array entry per stored weight (the calling thread
// alone below the evaluation's threshold).
void SpreadOverWorkers(int64_t count, ChunkTask fill, void* context);

// Ends the worker threads (the module's exit calls it, before the module's
// code goes away); a later loop starts them again.
void StopWorkerThreads();

}  // namespace ostrand
