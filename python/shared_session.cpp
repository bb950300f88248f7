#include "python/shared_session.h"

#include <cstdlib>

namespace python {

void SharedSession::useThreads(std::optional<int> wanted) {
  if (!moduleThreads_) moduleThreads_ = threads_ = session->threads();
  const int count = wanted.value_or(*moduleThreads_);
  if (count == threads_) return;
  session->setThreads(count, false);
  threads_ = count;
}

std::string ModulePath() {
  const char* named = std::getenv("OSTRAND_MODULE");
  return named != nullptr && *named != '\0' ? named : OSTRAND_MODULE_PATH;
}

std::shared_ptr<SharedSession> AcquireSession() {
  static std::mutex startMutex;
  static std::weak_ptr<SharedSession> alive;
  std::lock_guard lock(startMutex);
  if (std::shared_ptr<SharedSession> shared = alive.lock()) return shared;
  auto shared = std::make_shared<SharedSession>();
  SharedSession* raw = shared.get();
  shared->session = std::make_unique<driver::Session>(ModulePath(), [raw](const host::Progress& report) {
    if (raw->progress) raw->progress(report);
  });
  alive = shared;
  return shared;
}

}  // namespace python
