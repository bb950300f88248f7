// The module's worker threads in the child of a fork, which has only the
// thread that forked: the child makes workers of its own and gets the same
// bits, whether the parent's pool was idle or in the middle of a loop run by
// another thread. Each child reports by its exit code and is killed when it
// takes too long, so that a child waiting for workers it does not have fails
// the test instead of hanging it. (Not run under ThreadSanitizer, which ends
// a child that starts threads after a fork with other threads running.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "operations/calculation_driver.h"
#include "operations/threads.h"
#include "support/cages.h"
#include "support/coordinate_fixture.h"

namespace {

using namespace std::chrono_literals;
using ostrand::RunOnThreads;

constexpr int kTimedOut = -1;
constexpr int kThreads = 3;

// Built with AddressSanitizer (GCC says so with a macro, clang with a feature).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

// The exit code of body run in a forked child; kTimedOut when the child had
// to be killed, 128 + the signal when one ended it.
int ExitOfChild(const std::function<int()>& body, std::chrono::seconds limit = 30s) {
  const pid_t child = fork();
  if (child == 0) _exit(body());  // no exit handlers: they are the parent's
  if (child < 0) return 200;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0 && errno != EINTR) return 201;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return kTimedOut;
    }
    std::this_thread::sleep_for(5ms);
  }
}

// Whether a loop of `threads` runs every place once, on as many threads.
bool LoopRunsOnThreadsOfItsOwn(int threads) {
  std::vector<std::thread::id> ids(static_cast<size_t>(threads));
  std::atomic<int> places{0}, teams{0};
  auto body = [&](int t, int T) {
    ids[static_cast<size_t>(t)] = std::this_thread::get_id();
    ++places;
    teams += T == threads;
  };
  RunOnThreads(threads, body);
  if (places.load() != threads || teams.load() != threads) return false;
  for (int a = 0; a < threads; ++a)
    for (int b = a + 1; b < threads; ++b)
      if (ids[static_cast<size_t>(a)] == ids[static_cast<size_t>(b)]) return false;
  return true;
}

class WorkerThreadsFork : public test_support::CoordinateTest {
 protected:
  void SetUp() override {
    CoordinateTest::SetUp();
    ostrand::SetThreadCount(kThreads);
    test_support::CageCase star = test_support::StarCase();
    instance_ = prepare(star.mesh, {star.inside, test_support::PointsInCube(40)}, 48, 0.01);
    ASSERT_TRUE(ostrand::CalculateCoordinates(instance_));
    reference_ = weights();
  }
  void TearDown() override {
    ostrand::SetThreadCount(1);
    CoordinateTest::TearDown();
  }

  std::vector<double> weights() {
    std::vector<double> all;
    for (int32_t t = 0; t < 2; ++t) {
      const std::vector<double> rows = test_support::Rows(instance_, target(instance_, t));
      all.insert(all.end(), rows.begin(), rows.end());
    }
    return all;
  }

  // In the child: 0 when it calculates the same bits again on the parent's
  // thread count and its loops have threads of their own; else which failed.
  int calculateAgain() {
    if (ostrand::WorkerThreads() != kThreads) return 2;
    reprepare(instance_);
    if (!ostrand::CalculateCoordinates(instance_)) return 3;
    if (!test_support::SameBits(weights(), reference_)) return 4;
    if (!LoopRunsOnThreadsOfItsOwn(kThreads)) return 5;
    return 0;
  }

  EffectInstance* instance_ = nullptr;
  std::vector<double> reference_;
};

TEST_F(WorkerThreadsFork, AChildCalculatesTheSameBitsAfterTheParentDid) {
  EXPECT_EQ(ExitOfChild([&] { return calculateAgain(); }), 0);
  // The parent's workers are its own still.
  EXPECT_TRUE(LoopRunsOnThreadsOfItsOwn(kThreads));
  reprepare(instance_);
  ASSERT_TRUE(ostrand::CalculateCoordinates(instance_));
  EXPECT_TRUE(test_support::SameBits(weights(), reference_));
}

// Forked while another thread's loop holds the turn, one worker is in that
// loop's work and the other waits for the next.
TEST_F(WorkerThreadsFork, AChildForkedInTheMiddleOfAnotherThreadsLoopHasWorkersOfItsOwn) {
  std::atomic<bool> inside{false}, forked{false};
  std::thread other([&] {
    auto body = [&](int t, int) {
      if (t != 1) return;
      inside = true;
      while (!forked) std::this_thread::sleep_for(1ms);
    };
    RunOnThreads(kThreads, body);
  });
  while (!inside) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);  // the caller and the idle worker wait asleep by now
  const int code = ExitOfChild([&] { return calculateAgain(); });
  forked = true;
  other.join();
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(LoopRunsOnThreadsOfItsOwn(kThreads));
}

// Forks at any moment of another thread's tiny loops, back to back: the
// pool's lock and counters are caught in every state. Not under
// AddressSanitizer: its runtime (GCC 12's) takes none of its own locks around
// fork, so a child forked while another thread holds one waits forever for
// it, whatever the pool does.
TEST_F(WorkerThreadsFork, ChildrenForkedAtAnyMomentOfLoopsBackToBackAllHaveWorkingLoops) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "the sanitizer's runtime is not fork-safe with threads";
  std::atomic<bool> stop{false};
  std::thread other([&] {
    while (!stop) {
      std::atomic<int> hits{0};
      auto count = [&](int, int) { ++hits; };
      ostrand::ForEachDynamic(0, 5, 1, kThreads, [&](int64_t) { ++hits; });
      RunOnThreads(kThreads, count);
    }
  });
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    const int code = ExitOfChild([] {
      std::vector<std::atomic<int>> hits(1000);
      ostrand::ForEachDynamic(0, 1000, 7, kThreads, [&](int64_t i) { ++hits[static_cast<size_t>(i)]; });
      for (const std::atomic<int>& hit : hits)
        if (hit.load() != 1) return 6;
      return LoopRunsOnThreadsOfItsOwn(kThreads) ? 0 : 5;
    });
    if (code != 0) {
      ADD_FAILURE() << "child of round " << round << " ended with " << code;
      break;
    }
  }
  stop = true;
  other.join();
}

}  // namespace
