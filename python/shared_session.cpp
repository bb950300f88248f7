#include "python/shared_session.h"

#include <cstdlib>
#include <stdexcept>

namespace python {

void SharedSession::useThreads(std::optional<int> wanted) {
  if (!moduleThreads_) moduleThreads_ = threads_ = session->threads();
  const int count = wanted.value_or(*moduleThreads_);
  if (count == threads_) return;
  session->setThreads(count, false);
  threads_ = count;
}

Hold::Hold(SharedSession& shared) : shared_(shared) {
  if (shared.holder.load() == std::this_thread::get_id())
    throw std::runtime_error("ostrand cannot be called from a progress callback");
  lock_ = std::unique_lock(shared.mutex);
  shared.holder.store(std::this_thread::get_id());
}

Hold::~Hold() {
  for (uint32_t item : shared_.removeLater) {
    try {
      shared_.session->removeItem(item);
    } catch (const std::exception&) {
      // It goes with the session.
    }
  }
  shared_.removeLater.clear();
  shared_.holder.store(std::thread::id());
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
  // A private copy of the module: a binding's own thread count goes to the
  // copy's settings file, never to that of the module the user installed.
  shared->session = std::make_unique<driver::Session>(
      ModulePath(),
      [raw](const host::Progress& report) {
        if (raw->progress) raw->progress(report);
      },
      true);
  alive = shared;
  return shared;
}

}  // namespace python
