// The one driver session of the Python process. A host stand-in holds one
// module per process, so every Binding is an effect item of the same session:
// the first Binding alive starts it, the last one gone closes it (the module
// leaves, and its settings file is as it was).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "driver/session.h"

namespace python {

struct SharedSession {
  // Held by whoever works the session; taken without the interpreter lock,
  // so that a progress callback, which takes that lock, cannot deadlock.
  std::mutex mutex;
  // The progress callback of the call under way, or none.
  std::function<void(const host::Progress&)> progress;
  std::unique_ptr<driver::Session> session;
  // Sets the module-wide count for a call on the current item: the
  // binding's own, or the module's setting. The settings file keeps what it
  // held.
  void useThreads(std::optional<int> wanted);

 private:
  std::optional<int> moduleThreads_;  // the module's own count, read at the first call
  int threads_ = 0;                   // the count set now
};

// The module file: $OSTRAND_MODULE, or the module built beside this extension.
std::string ModulePath();

// The session, started when none is alive. Call without the interpreter lock.
// Throws driver::UserError when the module cannot be loaded.
std::shared_ptr<SharedSession> AcquireSession();

}  // namespace python
