// The one driver session of the Python process. A host stand-in holds one
// module per process, so every Binding is an effect item of the same session:
// the first Binding alive starts it, the last one gone closes it. It loads a
// private copy of the module (driver/private_module.h), so that no count of
// threads ever reaches the settings file of the module the user installed.
// The child of a fork goes on with the parent's session, freed of what
// another thread of the parent held at the fork.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/session.h"

namespace python {

struct SharedSession {
  // Held by whoever works the session (through a Hold); taken without the
  // interpreter lock, so that a progress callback, which takes that lock,
  // cannot deadlock.
  std::mutex mutex;
  // The thread holding it, so that a progress callback calling back into
  // ostrand is refused instead of waiting on itself.
  std::atomic<std::thread::id> holder{};
  // Items of bindings that went while the session was held by their own
  // thread (from a progress callback): removed when the hold ends.
  std::vector<uint32_t> removeLater;
  // The progress callback of the call under way, or none.
  std::function<void(const host::Progress&)> progress;
  std::unique_ptr<driver::Session> session;
  // Sets the module-wide count for a call on the current item: the
  // binding's own, or the module's setting. Only the private copy's settings
  // file is written.
  void useThreads(std::optional<int> wanted);

 private:
  std::optional<int> moduleThreads_;  // the module's own count, read at the first call
  int threads_ = 0;                   // the count set now
};

// The session held for one call. Throws std::runtime_error when this thread
// holds it already (a progress callback calling into ostrand).
class Hold {
 public:
  explicit Hold(SharedSession& shared);
  ~Hold();
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  SharedSession& shared_;
  std::unique_lock<std::mutex> lock_;
};

// Notes the module file that ships in the package's folder, beside this
// extension's file. Called as the extension is imported, before the process
// can change its working folder.
void FindPackagedModule();

// The module file the next session loads: $OSTRAND_MODULE when set and not
// empty, else the one in the package's folder.
std::string ModulePath();

// The module file of the session alive, else ModulePath().
std::string ModulePathInUse();

// The session, started when none is alive. Call without the interpreter lock.
// Throws driver::UserError (refused: RuntimeError) when the module cannot be loaded.
std::shared_ptr<SharedSession> AcquireSession();

}  // namespace python
