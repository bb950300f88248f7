#include "cli/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "driver/user_error.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

long HolderOf(int descriptor) {
  char text[32] = {};
  const ssize_t length = ::pread(descriptor, text, sizeof text - 1, 0);
  return length > 0 ? std::strtol(text, nullptr, 10) : 0;
}

// Whether the name still leads to the file locked: a run that ends removes
// its lock file, and one that waited on it must then lock the new one.
bool StillNamed(int descriptor, const fs::path& file) {
  struct stat opened {}, named {};
  return ::fstat(descriptor, &opened) == 0 && ::stat(file.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

}  // namespace

FolderLock::FolderLock(const fs::path& folder, bool wait, const std::function<void(long)>& waiting)
    : file_((folder.empty() ? fs::path(".") : folder) / kLockName) {
  bool told = false;
  for (;;) {
    int descriptor = -1;
    {
      // Made and noted before a signal is answered, so that it goes with the run.
      auto step = driver::Step();
      descriptor = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (descriptor < 0) {
        if (errno == ENOENT) throw FolderGone{};
        throw driver::UserError(driver::ErrorKind::kOutput, folder.string(),
                                std::string("cannot be locked for this run: ") + std::strerror(errno));
      }
      if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
        if (take(descriptor)) return;
        continue;
      }
    }
    const long holder = HolderOf(descriptor);
    if (!wait) {
      ::close(descriptor);
      throw driver::UserError(driver::ErrorKind::kRefused, folder.string(),
                              "another ostrand run" + (holder > 0 ? " (process " + std::to_string(holder) + ")" : "") +
                                  " is writing into this folder; wait for it to end, or write elsewhere with -o");
    }
    if (!told && waiting) waiting(holder);
    told = true;
    while (::flock(descriptor, LOCK_EX) != 0 && errno == EINTR) {
    }
    auto step = driver::Step();
    if (take(descriptor)) return;
  }
}

bool FolderLock::take(int descriptor) {
  if (!StillNamed(descriptor, file_)) {
    ::close(descriptor);
    return false;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(descriptor, 0) != 0 || ::pwrite(descriptor, pid.data(), pid.size(), 0) < 0) {
    // The lock holds without the note of who holds it.
  }
  descriptor_ = descriptor;
  enroll();
  return true;
}

FolderLock::~FolderLock() { release(); }

void FolderLock::undoOnSignal() noexcept { release(); }

void FolderLock::release() noexcept {
  auto step = driver::Step();
  if (descriptor_ < 0) return;
  // Removed while still held, so that no run locks the file about to go.
  ::unlink(file_.c_str());
  ::close(descriptor_);
  descriptor_ = -1;
}

}  // namespace cli
