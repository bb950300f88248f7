// The module's worker threads: every thread of a loop runs once, loops inside
// loops and loops from two host threads at once run on their caller, the
// threads stop and start again, and work below the small-work threshold runs
// on the caller (evaluation_test.cpp checks it gives the same bits); the
// blocks a loop's rows are split into.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "operations/threads.h"

namespace {

using ostrand::RunOnThreads;

struct ThreadCountScope {
  explicit ThreadCountScope(int count) { ostrand::SetThreadCount(count); }
  ~ThreadCountScope() { ostrand::SetThreadCount(1); }
};

TEST(WorkerThreads, EachPlaceOfALoopRunsOnceOnItsOwnThreadAndLoopsInsideRunOnTheirCaller) {
  for (int threads : {1, 2, 5, 64}) {
    std::vector<std::atomic<int>> runs(static_cast<size_t>(threads));
    std::vector<std::thread::id> ids(static_cast<size_t>(threads));
    std::atomic<int> innerCounts{0};
    auto body = [&](int t, int T) {
      ASSERT_EQ(T, threads);
      ++runs[static_cast<size_t>(t)];
      ids[static_cast<size_t>(t)] = std::this_thread::get_id();
      // Inside a loop on threads, a loop runs on its caller alone; inside a
      // loop on the caller alone it may take the threads.
      const int innerExpected = threads > 1 ? 1 : 4;
      auto inner = [&](int innerT, int innerCount) { innerCounts += innerT == 0 && innerCount == innerExpected; };
      RunOnThreads(4, inner);
    };
    RunOnThreads(threads, body);
    for (int t = 0; t < threads; ++t) EXPECT_EQ(runs[static_cast<size_t>(t)].load(), 1) << t << " of " << threads;
    EXPECT_EQ(ids[0], std::this_thread::get_id());
    for (int t = 1; t < threads; ++t) EXPECT_NE(ids[static_cast<size_t>(t)], ids[0]);
    EXPECT_EQ(innerCounts.load(), threads);
  }
  ostrand::StopWorkerThreads();
  std::atomic<int> after{0};
  auto count = [&](int, int) { ++after; };
  RunOnThreads(3, count);  // started again
  EXPECT_EQ(after.load(), 3);
}

TEST(WorkerThreads, LoopsFromTwoHostThreadsAtOnceBothCoverEveryIndexOnce) {
  constexpr int64_t kCount = 200000;
  std::vector<std::atomic<uint8_t>> seen(2 * kCount);
  auto loops = [&](int64_t offset) {
    for (int round = 0; round < 20; ++round)
      ostrand::ForEachDynamic(0, kCount, 100, 2, [&](int64_t i) { ++seen[static_cast<size_t>(offset + i)]; });
  };
  std::thread other(loops, kCount);
  loops(0);
  other.join();
  for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i].load(), 20) << i;
}

TEST(WorkerThreads, DynamicAndStaticLoopsCoverEveryIndexOnceWhateverTheSizes) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    const int64_t first = static_cast<int64_t>(random() % 50);
    const int64_t end = first + static_cast<int64_t>(random() % 3000);
    const int64_t chunk = 1 + static_cast<int64_t>(random() % 300);
    const int threads = 1 + static_cast<int>(random() % 6);
    std::vector<std::atomic<int>> hits(static_cast<size_t>(end + 1));
    ostrand::ForEachDynamic(first, end, chunk, threads, [&](int64_t i) { ++hits[static_cast<size_t>(i)]; });
    ostrand::ForEachStatic(first, end, threads, [&](int64_t i) { ++hits[static_cast<size_t>(i)]; });
    for (int64_t i = 0; i <= end; ++i)
      ASSERT_EQ(hits[static_cast<size_t>(i)].load(), first <= i && i < end ? 2 : 0)
          << first << ".." << end << " chunk " << chunk << " threads " << threads;
  }
}

// Chunk loops end once the caller has taken the last chunk, without waiting
// for workers that have not joined yet; a worker that arrives late must find
// the loop closed and leave its chunks (and the caller's stack) alone, even
// when the next loop has already begun. Many tiny loops back to back, each
// with its own counters on the caller's stack, make late arrivals common.
TEST(WorkerThreads, TinyChunkLoopsBackToBackEachCoverTheirIndicesOnce) {
  for (int threads : {2, 3, 8}) {
    for (int round = 0; round < 3000; ++round) {
      const int64_t count = 1 + round % 7;
      std::atomic<int> hits[7] = {};
      ostrand::ForEachDynamic(0, count, 1, threads, [&](int64_t i) { ++hits[i]; });
      for (int64_t i = 0; i < 7; ++i)
        ASSERT_EQ(hits[i].load(), i < count ? 1 : 0) << "round " << round << " index " << i << " threads " << threads;
    }
  }
}

TEST(WorkerThreads, WorkBelowTheThresholdRunsOnTheCaller) {
  ThreadCountScope scope(4);
  EXPECT_EQ(ostrand::ThreadsFor(999, 1000), 1);
  EXPECT_EQ(ostrand::ThreadsFor(1000, 1000), 4);
  EXPECT_EQ(ostrand::ThreadsFor(0, 0), 4);
}

TEST(ThreadSplit, ContiguousBlocksWithTheRemainderFirst) {
  int64_t b = 0, e = 0;
  const int64_t expected[4][2] = {{0, 3}, {3, 6}, {6, 8}, {8, 10}};
  for (int t = 0; t < 4; ++t) {
    ostrand::StaticBlock(0, 10, t, 4, &b, &e);
    EXPECT_EQ(b, expected[t][0]);
    EXPECT_EQ(e, expected[t][1]);
  }
  ostrand::StaticBlock(20, 22, 3, 4, &b, &e);  // more threads than rows
  EXPECT_EQ(b, e);
}

}  // namespace
