#include "operations/threads.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "host_interface/module_state.h"

namespace ostrand {
namespace {

int WithinLimits(int32_t count) { return count < 1 ? 1 : (count > kMaxWorkerThreads ? kMaxWorkerThreads : count); }

// How long a waiting thread checks for its news before it sleeps: long enough
// to catch the next loop of an evaluation (the points' loop follows the rest
// positions' loop within microseconds) or the last chunk of this one, too
// short to take a core from anyone. A waiting thread keeps its core while it
// checks instead of yielding it: on a core shared with another program, a
// yield hands the core over for a whole time slice, and a thread that keeps
// asking for its core is the one the scheduler then preempts in the middle of
// its chunk. bench/threads_bench.cpp compares spin times and yielding
// (docs/benchmarks.md, "Worker threads").
constexpr std::chrono::microseconds kSpinTime{5};

inline void PauseWhileSpinning() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

template <typename Ready>
bool SpinUntil(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kSpinTime;
  for (int round = 0;; ++round) {
    if (ready()) return true;
    if ((round & 63) == 63 && std::chrono::steady_clock::now() >= until) return false;
    PauseWhileSpinning();
  }
}

// The chunks of one thread's block not yet taken, [front, back) in chunk
// numbers, in one word: the owner takes from the front, the others from the
// back, and the compare-and-swap on the word gives each chunk to one thread.
struct alignas(64) ChunkRange {
  std::atomic<uint64_t> word{0};
};

constexpr uint64_t PackRange(uint64_t front, uint64_t back) { return back << 32 | front; }

// Takes the front chunk (fromBack false) or the back one; false when none is left.
bool TakeChunk(ChunkRange& range, bool fromBack, uint64_t* chunk) {
  uint64_t seen = range.word.load(std::memory_order_relaxed);
  for (;;) {
    const uint64_t front = seen & 0xFFFFFFFFu, back = seen >> 32;
    if (front >= back) return false;
    const uint64_t taken = fromBack ? PackRange(front, back - 1) : PackRange(front + 1, back);
    if (range.word.compare_exchange_weak(seen, taken, std::memory_order_relaxed)) {
      *chunk = fromBack ? back - 1 : front;
      return true;
    }
  }
}

// The worker threads. One loop runs at a time; a loop asked for while
// another runs (a second host thread evaluating, or a loop inside a loop's
// work) runs on its caller. (No thread-local state: the module may be
// unloaded while the host's threads live on.)
class WorkerPool {
 public:
  WorkerPool();
  ~WorkerPool() { stop(); }

  // setup(context, team), when given, runs on the caller once the team is
  // known and before any thread starts the task; not for a team of 1.
  // Optional places (a chunk loop, whose work any thread may take) run only
  // on the workers that join before the caller has finished its own: the
  // loop then ends without waiting for a worker whose core another program
  // holds, which matters most for small loops.
  void run(int threads, ThreadTask task, void* context, ThreadTask setup = nullptr, bool optional = false) {
    if (threads <= 1 || !takeTurn()) return task(context, 0, 1);
    const int team = 1 + startWorkers(threads - 1);
    if (team > 1 && setup != nullptr) setup(context, 0, team);
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
      done_.store(0);
      const uint64_t generation = generation_.load() + 1;
      entry_.store((generation & kEntryGeneration) << 32);
      generation_.store(generation);
    }
    wake_.notify_all();
    task(context, 0, team);
    const uint64_t joined = optional ? entry_.fetch_or(kEntryClosed) & kEntryCount : static_cast<uint64_t>(team - 1);
    if (!SpinUntil([&] { return done_.load() == joined; })) {
      std::unique_lock<std::mutex> lock(mutex_);
      finished_.wait(lock, [&] { return done_.load() == joined; });
    }
    busy_.store(false);
  }

  // What a chunk loop's threads take their chunks from; only for the loop
  // that has the turn.
  ChunkRange* chunkRanges() { return chunkRanges_; }

  // In the child of a fork only the thread that forked goes on: the workers
  // are not there, and the lock, the turn and a loop's counters stay as the
  // parent's threads left them, perhaps in the middle of a loop. The child's
  // pool starts empty, as a newly loaded module's does; its first loop makes
  // the workers it needs. Runs in the child before anything else can. (A
  // loop's work never forks: a child that went on inside a loop would wait
  // for workers it does not have.)
  void forgetAfterFork() {
    // Made anew, not destroyed: destroying a lock or a condition another
    // thread held or waited on is undefined, and may wait for that thread.
    new (&mutex_) std::mutex;
    new (&wake_) std::condition_variable;
    new (&finished_) std::condition_variable;
    workerCount_ = 0;
    starting_ = 0;
    stopping_ = false;
    task_ = nullptr;
    context_ = nullptr;
    team_ = 0;
    entry_.store(0);
    done_.store(0);
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
      if (!join(seen)) continue;
      task(context, index, team);
      done_.fetch_add(1);
      lock.lock();  // the caller checks done_ under the lock before it sleeps
      finished_.notify_one();
    }
  }

  // Counts this worker in on the loop of `generation`; false when that loop
  // has closed (or another has begun).
  bool join(uint64_t generation) {
    uint64_t word = entry_.load();
    for (;;) {
      if ((word >> 32) != (generation & kEntryGeneration) || (word & kEntryClosed) != 0) return false;
      if (entry_.compare_exchange_weak(word, word + 1)) return true;
    }
  }

  // entry_: the loop's generation (low 32 bits) in the high half, a closed
  // flag, and the count of workers that joined.
  static constexpr uint64_t kEntryGeneration = 0xFFFFFFFFu;
  static constexpr uint64_t kEntryClosed = uint64_t{1} << 31;
  static constexpr uint64_t kEntryCount = kEntryClosed - 1;

  std::atomic<bool> busy_{false};  // a loop runs, or the workers stop
  std::mutex mutex_;                 // guards what a loop hands the workers
  std::condition_variable wake_, finished_;
  pthread_t workers_[kMaxWorkerThreads - 1] = {};  // worker i runs as thread i + 1
  int workerCount_ = 0;
  int starting_ = 0;  // the index of the worker being started
  std::atomic<uint64_t> generation_{0};
  std::atomic<uint64_t> entry_{0};  // who joined the loop, as above
  std::atomic<uint64_t> done_{0};   // workers that joined the loop and finished
  ThreadTask task_ = nullptr;
  void* context_ = nullptr;
  int team_ = 0;
  bool stopping_ = false;
  ChunkRange chunkRanges_[kMaxWorkerThreads];
};

WorkerPool& Pool() {
  static WorkerPool pool;
  return pool;
}

#ifndef _WIN32
// Not through Pool(): a fork may come while another thread is still making the pool.
WorkerPool* poolMade = nullptr;

void ForgetWorkersAfterFork() { poolMade->forgetAfterFork(); }
#endif

// The handler goes with the module: the system drops a library's fork
// handlers when it unloads the library. Windows has no fork.
WorkerPool::WorkerPool() {
#ifndef _WIN32
  poolMade = this;
  pthread_atfork(nullptr, nullptr, &ForgetWorkersAfterFork);
#endif
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

namespace {

struct ChunkLoop {
  int64_t first, end, chunk, chunks;
  ChunkTask range;
  void* context;
  ChunkRange* ranges;

  void runChunk(uint64_t c) const {
    const int64_t begin = first + static_cast<int64_t>(c) * chunk;
    range(context, begin, end - begin < chunk ? end : begin + chunk);
  }

  // Every thread's block of chunks, before any thread takes one.
  static void setup(void* self, int, int T) {
    auto* loop = static_cast<ChunkLoop*>(self);
    for (int t = 0; t < T; ++t) {
      int64_t begin = 0, stop = 0;
      StaticBlock(0, loop->chunks, t, T, &begin, &stop);
      loop->ranges[t].word.store(PackRange(static_cast<uint64_t>(begin), static_cast<uint64_t>(stop)),
                                 std::memory_order_relaxed);
    }
  }

  static void run(void* self, int t, int T) {
    const auto* loop = static_cast<const ChunkLoop*>(self);
    if (T == 1) {  // the caller alone: the blocks are not set up
      for (int64_t c = 0; c < loop->chunks; ++c) loop->runChunk(static_cast<uint64_t>(c));
      return;
    }
    uint64_t c = 0;
    while (TakeChunk(loop->ranges[t], false, &c)) loop->runChunk(c);
    for (int k = 1; k < T; ++k)
      while (TakeChunk(loop->ranges[(t + k) % T], true, &c)) loop->runChunk(c);
  }
};

}  // namespace

void RunChunks(int64_t first, int64_t end, int64_t chunk, int threads, ChunkTask range, void* context) {
  if (end <= first) return;
  const int64_t count = end - first;
  // Chunk numbers fit the 32 bits of a block's bounds.
  constexpr int64_t kMostChunks = 0xFFFFFFFE;
  if (chunk < 1) chunk = 1;
  if (count / chunk >= kMostChunks) chunk = count / kMostChunks + 1;
  ChunkLoop loop{first, end, chunk, (count + chunk - 1) / chunk, range, context, Pool().chunkRanges()};
  Pool().run(threads, &ChunkLoop::run, &loop, &ChunkLoop::setup, true);
}

void SpreadOverWorkers(int64_t count, ChunkTask fill, void* context) {
  constexpr int64_t kPiece = 65536;  // entries: whole pages of any array, few handed out
  RunChunks(0, count, kPiece, ThreadsFor(count, SmallWorkThresholds().evaluation), fill, context);
}

void StopWorkerThreads() { Pool().stop(); }


}  // namespace ostrand
