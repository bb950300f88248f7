#include "platform/file_replace.h"

#include <atomic>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ostrand {
namespace {

struct Injection {
  std::atomic<long> failAt{-1};
  std::atomic<long> calls{0};
  std::atomic<int> error{0};
};
Injection injections[static_cast<int>(FileStep::kCount)];

// The injected error when this call of step is the one to fail, else 0.
int Injected(FileStep step) {
  Injection& injection = injections[static_cast<int>(step)];
  const long n = injection.calls.fetch_add(1, std::memory_order_relaxed);
  return n == injection.failAt.load(std::memory_order_relaxed) ? injection.error.load(std::memory_order_relaxed) : 0;
}

// errno after a library call that failed, never 0.
int LastError() { return errno != 0 ? errno : EIO; }

#ifdef _WIN32
int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    default:
      return EIO;
  }
}
#endif

}  // namespace

int WriteFileBytes(FILE* stream, const void* bytes, size_t size) {
  if (int error = Injected(FileStep::kWrite)) return error;
  errno = 0;
  return std::fwrite(bytes, 1, size, stream) == size ? 0 : LastError();
}

int FlushFileToDevice(FILE* stream) {
  if (int error = Injected(FileStep::kFlush)) return error;
  errno = 0;
  if (std::fflush(stream) != 0) return LastError();
#ifndef _WIN32
  // A file system that cannot sync this file (EINVAL, EROFS) has nothing to lose by it.
  if (fsync(fileno(stream)) != 0 && errno != EINVAL && errno != EROFS) return LastError();
#endif
  return 0;
}

int CloseFile(FILE* stream) {
  const int injected = Injected(FileStep::kClose);
  errno = 0;
  const int error = std::fclose(stream) == 0 ? 0 : LastError();
  return injected != 0 ? injected : error;
}

int MoveFileOver(const char* from, const char* to) {
  if (int error = Injected(FileStep::kReplace)) return error;
#ifdef _WIN32
  // Kernel32 alone; on failure the file at to is left as it was.
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  return ErrnoOf(GetLastError());
#else
  errno = 0;
  return std::rename(from, to) == 0 ? 0 : LastError();
#endif
}

long SetFileFailure(FileStep step, long n, int error) {
  Injection& injection = injections[static_cast<int>(step)];
  const long made = injection.calls.exchange(0);
  injection.error.store(error);
  injection.failAt.store(n < 0 ? -1 : n);
  return made;
}

}  // namespace ostrand
