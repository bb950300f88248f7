// A limit on the size of the files this process writes, for the tests of a
// write that fails part way, as one on a full disk does.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace test_support {

// While it lives, a file cannot grow past limit bytes: a write beyond fails
// with EFBIG, as one on a full disk fails with ENOSPC.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) : signal_(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, signal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  void (*signal_)(int);
  rlimit saved_{};
};

}  // namespace test_support
