#include "python/shared_session.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <stdexcept>

namespace python {
namespace {

// The session alive, and the lock held while one is started.
std::mutex startMutex;
std::weak_ptr<SharedSession> alive;
// Sessions made and not yet closed: at most one.
std::atomic<int> sessionsOpen{0};
// The module file of the session alive ("" when none), under its own lock:
// reading it never waits for a session to start.
std::mutex inUseMutex;
std::string inUse;
// The module file in the package's folder (FindPackagedModule).
std::string packaged = OSTRAND_MODULE_FILE_NAME;

// In the child of a fork (os.fork, a multiprocessing worker) only the thread
// that forked goes on; a lock another thread held stays held, by nobody. The
// child is freed of those: the parent's bindings go on working in it, and a
// bind or load under way in another thread is simply not there (what it had
// made in the host stays unused). A fork from the thread that holds the
// session (from a progress callback) leaves it held: that thread goes on with
// its call. Runs in the child before anything else can.
void AfterForkInChild() {
  new (&startMutex) std::mutex;
  new (&inUseMutex) std::mutex;
  const std::shared_ptr<SharedSession> shared = alive.lock();
  if (!shared || shared->holder.load() == std::this_thread::get_id()) return;
  new (&shared->mutex) std::mutex;
  shared->holder.store(std::thread::id());
  shared->progress = nullptr;  // the callback of a call that is not there
}

// Registered as the extension loads, before any thread can take either lock.
[[maybe_unused]] const bool kForkHandled = pthread_atfork(nullptr, nullptr, &AfterForkInChild) == 0;

}  // namespace

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

void FindPackagedModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&FindPackagedModule), &info) == 0 || info.dli_fname == nullptr) return;
  std::error_code error;
  const std::filesystem::path extension = std::filesystem::absolute(info.dli_fname, error);
  if (!error) packaged = (extension.parent_path() / OSTRAND_MODULE_FILE_NAME).string();
}

std::string ModulePath() {
  const char* named = std::getenv("OSTRAND_MODULE");
  return named != nullptr && *named != '\0' ? named : packaged;
}

std::string ModulePathInUse() {
  {
    std::lock_guard lock(inUseMutex);
    if (!inUse.empty()) return inUse;
  }
  return ModulePath();
}

std::shared_ptr<SharedSession> AcquireSession() {
  std::lock_guard lock(startMutex);
  if (std::shared_ptr<SharedSession> shared = alive.lock()) return shared;
  // The last session may still be closing on another thread (a bind left on
  // Ctrl-C ends on its own): one host lives in a process at a time.
  while (sessionsOpen.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  sessionsOpen.fetch_add(1);
  std::shared_ptr<SharedSession> shared(new SharedSession, [](SharedSession* closing) {
    delete closing;
    {
      std::lock_guard lock(inUseMutex);
      inUse.clear();
    }
    sessionsOpen.fetch_sub(1);
  });
  SharedSession* raw = shared.get();
  // A private copy of the module: a binding's own thread count goes to the
  // copy's settings file, never to that of the module the user installed.
  const std::string module = ModulePath();
  shared->session = std::make_unique<driver::Session>(
      module,
      [raw](const host::Progress& report) {
        if (raw->progress) raw->progress(report);
      },
      true);
  {
    std::lock_guard lock(inUseMutex);
    inUse = module;
  }
  alive = shared;
  return shared;
}

}  // namespace python
