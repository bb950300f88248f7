#include "host/file_replace.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace host {

namespace {

// errno after a library call that failed, never 0.
std::error_code LastError() { return {errno != 0 ? errno : EIO, std::generic_category()}; }

// Flushes the stream and asks the system to put its data on the device, so
// that the rename that follows never leaves an empty file after a crash.
std::error_code FlushToDevice(std::FILE* stream) {
  errno = 0;
  if (std::fflush(stream) != 0) return LastError();
#ifdef _WIN32
  if (::_commit(::_fileno(stream)) != 0) return LastError();
#else
  // A file system that cannot sync this file (EINVAL, EROFS) has nothing to lose by it.
  if (::fsync(::fileno(stream)) != 0 && errno != EINVAL && errno != EROFS) return LastError();
#endif
  return {};
}

// Removes a temporary this process wrote; a folder under its name is
// someone else's and stays.
void RemoveTemporary(const std::string& temporary) {
  std::error_code error;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(temporary, error)))
    std::filesystem::remove(temporary, error);
}

}  // namespace

ReplaceResult ReplaceFile(const std::string& destination, const std::string& temporary, std::string_view content) {
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(temporary.c_str(), "wb"), &std::fclose);
  if (!file) return {ReplaceStep::kCreate, LastError()};
  // The first error is the one told: a full disk often shows only when the
  // buffered rest is flushed, and the close after a failure may fail too.
  errno = 0;
  std::error_code error;
  if (std::fwrite(content.data(), 1, content.size(), file.get()) != content.size()) error = LastError();
  if (!error) error = FlushToDevice(file.get());
  errno = 0;
  if (std::fclose(file.release()) != 0 && !error) error = LastError();
  if (error) {
    RemoveTemporary(temporary);
    return {ReplaceStep::kWrite, error};
  }
  error = MoveFileOver(temporary, destination);
  return {error ? ReplaceStep::kMove : ReplaceStep::kNone, error};
}

std::error_code MoveFileOver(const std::string& temporary, const std::string& destination) {
  // std::filesystem::rename, unlike std::rename, replaces an existing file on
  // Windows too.
  std::error_code error;
  std::filesystem::rename(temporary, destination, error);
  if (error) RemoveTemporary(temporary);
  return error;
}

}  // namespace host
