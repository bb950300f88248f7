#include "checks/parallel_tasks.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace checks {

void RunWorkers(int threads, size_t tasks, const std::function<void()>& work) {
  size_t workers = threads > 0 ? static_cast<size_t>(threads) : std::max(1u, std::thread::hardware_concurrency());
  workers = std::min(workers, tasks);
  std::vector<std::thread> pool;
  for (size_t k = 1; k < workers; ++k) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads do the same work
    }
  }
  work();
  for (std::thread& thread : pool) thread.join();
}

}  // namespace checks
