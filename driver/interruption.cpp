#include "driver/interruption.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace driver {
namespace {

std::recursive_mutex& StepMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

// Registered objects, in the order registered; guarded by StepMutex.
std::vector<Undo*>& Registered() {
  static std::vector<Undo*> registered;
  return registered;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "SIGHUP";
  }
}

sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

Undo::~Undo() { withdraw(); }

void Undo::enroll() {
  auto step = Step();
  if (registered_) return;
  Registered().push_back(this);
  registered_ = true;
}

void Undo::withdraw() {
  auto step = Step();
  if (!registered_) return;
  auto& list = Registered();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  registered_ = false;
}

std::unique_lock<std::recursive_mutex> Step() { return std::unique_lock(StepMutex()); }

void InstallSignalWatcher(const std::string& program, void (*beforeUndo)()) {
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([program, beforeUndo, set] {
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    // Taken for good: no change of the program's goes on from here.
    StepMutex().lock();
    if (beforeUndo != nullptr) beforeUndo();
    std::string done;
    auto& list = Registered();
    for (auto undo = list.rbegin(); undo != list.rend(); ++undo) {
      (*undo)->undoOnSignal();
      const std::string text = (*undo)->undoneText();
      if (!text.empty()) done += (done.empty() ? "" : "; ") + text;
    }
    if (done.empty()) done = "nothing was written";
    std::fprintf(stderr, "%s: interrupted (%s): %s\n", program.c_str(), SignalName(signal), done.c_str());
    std::fflush(stderr);
    ::_exit(128 + signal);
  }).detach();
}

}  // namespace driver
