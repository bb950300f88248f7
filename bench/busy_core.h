// Another program busy on one core, as a host's interface, its own threads
// or another plug-in keep one busy: a child process that spins until it is
// ended, and ends itself after a bound in any case.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench_support {

class BusyCore {
 public:
  explicit BusyCore(bool on, unsigned boundSeconds = 120) {
    if (!on) return;
    pid_ = fork();
    if (pid_ == 0) {
      alarm(boundSeconds);  // never outlives a benchmark that dies
      volatile unsigned long spin = 0;
      for (;;) spin = spin + 1;
    }
    usleep(20000);  // let it take its core
  }
  ~BusyCore() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  BusyCore(const BusyCore&) = delete;
  BusyCore& operator=(const BusyCore&) = delete;

 private:
  pid_t pid_ = -1;
};

}  // namespace bench_support
