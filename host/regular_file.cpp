#include "host/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

namespace host {

namespace {

// NotARegularFile's text for a file of this mode.
std::string ModeProblem(unsigned mode) {
  if (S_ISREG(mode)) return "";
  if (S_ISDIR(mode)) return "is a folder, not a file";
  const char* kind = "of an unknown kind";
  if (S_ISCHR(mode)) kind = "a character device";
  if (S_ISFIFO(mode)) kind = "a FIFO";
#ifdef S_ISBLK
  if (S_ISBLK(mode)) kind = "a block device";
#endif
#ifdef S_ISSOCK
  if (S_ISSOCK(mode)) kind = "a socket";
#endif
  return std::string("is not a regular file (") + kind + ")";
}

std::string OpenProblem(int error) {
  if (error == ENOENT || error == ENOTDIR) return "no such file";
  return std::string("cannot be opened: ") + std::strerror(error);
}

}  // namespace

std::string NotARegularFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return OpenProblem(errno);
  return ModeProblem(status.st_mode);
}

std::FILE* OpenRegularFile(const std::string& path, std::string* problem) {
  *problem = NotARegularFile(path);
  if (!problem->empty()) return nullptr;
  struct stat status {};
#ifdef _WIN32
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = OpenProblem(errno);
    return nullptr;
  }
  if (::fstat(::_fileno(file), &status) != 0)
    *problem = OpenProblem(errno);
  else if (!S_ISREG(status.st_mode))
    *problem = ModeProblem(status.st_mode);
  if (problem->empty()) return file;
  std::fclose(file);
  return nullptr;
#else
  // Without O_NONBLOCK the open itself would wait for a FIFO's writer, had
  // the path become one since the look above.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    *problem = OpenProblem(errno);
    return nullptr;
  }
  int flags = 0;
  if (::fstat(descriptor, &status) != 0)
    *problem = OpenProblem(errno);
  else if (!S_ISREG(status.st_mode))
    *problem = ModeProblem(status.st_mode);
  else if ((flags = ::fcntl(descriptor, F_GETFL)) < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0)
    *problem = OpenProblem(errno);
  std::FILE* file = problem->empty() ? ::fdopen(descriptor, "rb") : nullptr;
  if (file == nullptr) {
    if (problem->empty()) *problem = OpenProblem(errno);
    ::close(descriptor);
  }
  return file;
#endif
}

}  // namespace host
