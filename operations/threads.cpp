#include "operations/threads.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host_interface/module_state.h"

namespace ostrand {
namespace {

int WithinLimits(int32_t count) { return count < 1 ? 1 : (count > kMaxWorkerThreads ? kMaxWorkerThreads : count); }

// How long a waiting thread checks for its news before it sleeps: long enough
// to catch the next loop of an evaluation or the last chunk of this one, far
// too short to take a core from anyone.
constexpr std::chrono::microseconds kSpinTime{20};

template <typename Ready>
bool SpinUntil(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kSpinTime;
  for (int round = 0;; ++round) {
    if (ready()) return true;
    if ((round & 63) == 63 && std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::yield();
  }
}


// The worker threads. One loop runs at a time; a loop asked for while
// another runs (a second host thread evaluating, or a loop inside a loop's
// work) runs on its caller. (No thread-local state: the module may be
// unloaded while the host's threads live on.)
class WorkerPool {
 public:
  ~WorkerPool() { stop(); }

  void run(int threads, ThreadTask task, void* context) {
    if (threads <= 1 || !takeTurn()) return task(context, 0, 1);
    const int team = 1 + startWorkers(threads - 1);
    if (team == 1) {
      task(context, 0, 1);
      busy_.store(false);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task_ = task;
      context_ = context;
      team_ = team;
      pending_.store(team - 1);
      generation_.store(generation_.load() + 1);
    }
    wake_.notify_all();
    task(context, 0, team);
    if (!SpinUntil([&] { return pending_.load() == 0; })) {
      std::unique_lock<std::mutex> lock(mutex_);
      finished_.wait(lock, [&] { return pending_.load() == 0; });
    }
    busy_.store(false);
  }

  void stop() {
    while (!takeTurn()) std::this_thread::yield();  // the loop running ends first
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (int i = 0; i < workerCount_; ++i) pthread_join(workers_[i], nullptr);
    workerCount_ = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = false;
    }
    busy_.store(false);
  }

 private:
  bool takeTurn() {
    bool idle = false;
    return busy_.compare_exchange_strong(idle, true);
  }

  // Makes sure there are `wanted` workers; returns how many there are, which
  // is fewer when the system refuses a thread.
  int startWorkers(int wanted) {
    while (workerCount_ < wanted) {
      starting_ = workerCount_ + 1;
      if (pthread_create(&workers_[workerCount_], nullptr, &WorkerPool::start, this) != 0) break;
      // The new worker reads starting_ before it says it has.
      std::unique_lock<std::mutex> lock(mutex_);
      finished_.wait(lock, [&] { return starting_ == 0; });
      ++workerCount_;
    }
    return workerCount_ < wanted ? workerCount_ : wanted;
  }

  static void* start(void* pool) {
    auto* self = static_cast<WorkerPool*>(pool);
    int index = 0;
    uint64_t seen = 0;
    {
      // No loop is handed out while a worker starts: the generation read
      // here is the last one before this worker's first.
      std::lock_guard<std::mutex> lock(self->mutex_);
      index = self->starting_;
      seen = self->generation_.load();
      self->starting_ = 0;
    }
    self->finished_.notify_all();
    self->work(index, seen);
    return nullptr;
  }

  void work(int index, uint64_t seen) {
    for (;;) {
      SpinUntil([&] { return generation_.load() != seen; });
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_.load() != seen; });
      if (stopping_) return;
      seen = generation_.load();
      if (index >= team_) continue;
      const ThreadTask task = task_;
      void* const context = context_;
      const int team = team_;
      lock.unlock();
      task(context, index, team);
      if (pending_.fetch_sub(1) == 1) {
        lock.lock();  // the caller checks pending_ under the lock before it sleeps
        finished_.notify_one();
      }
    }
  }

  std::atomic<bool> busy_{false};  // a loop runs, or the workers stop
  std::mutex mutex_;                 // guards what a loop hands the workers
  std::condition_variable wake_, finished_;
  pthread_t workers_[kMaxWorkerThreads - 1] = {};  // worker i runs as thread i + 1
  int workerCount_ = 0;
  int starting_ = 0;  // the index of the worker being started
  std::atomic<uint64_t> generation_{0};
  std::atomic<int> pending_{0};  // workers of the loop still working
  ThreadTask task_ = nullptr;
  void* context_ = nullptr;
  int team_ = 0;
  bool stopping_ = false;
};

WorkerPool& Pool() {
  static WorkerPool pool;
  return pool;
}

std::atomic<int64_t> evaluationThreshold{SmallWork{}.evaluation};
std::atomic<int64_t> calculationThreshold{SmallWork{}.calculation};

}  // namespace

SmallWork SmallWorkThresholds() { return SmallWork{evaluationThreshold.load(), calculationThreshold.load()}; }

void SetSmallWorkThresholds(SmallWork thresholds) {
  evaluationThreshold.store(thresholds.evaluation);
  calculationThreshold.store(thresholds.calculation);
}

void SetThreadCount(int32_t count) { num_threads.store(count); }

// Read from num_threads on every loop: evaluations may arrive on any host thread.
int WorkerThreads() { return WithinLimits(num_threads.load()); }

int ThreadsFor(int64_t work, int64_t threshold) { return work < threshold ? 1 : WorkerThreads(); }

void StaticBlock(int64_t first, int64_t end, int t, int T, int64_t* blockBegin, int64_t* blockEnd) {
  int64_t n = end > first ? end - first : 0;
  int64_t q = n / T, rem = n % T;
  int64_t begin = t < rem ? first + t * (q + 1) : first + t * q + rem;
  *blockBegin = begin;
  *blockEnd = begin + (t < rem ? q + 1 : q);
}

void RunOnThreads(int threads, ThreadTask task, void* context) { Pool().run(threads, task, context); }

void StopWorkerThreads() { Pool().stop(); }


}  // namespace ostrand
