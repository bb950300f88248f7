#include "cli/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "cli/user_error.h"

namespace cli {

namespace fs = std::filesystem;

WritableFolder::WritableFolder(const fs::path& folder, const std::string& role) {
  const std::string subject = folder.string();
  const std::string refused = "cannot be " + role + ": ";
  std::error_code error;
  // The nearest part of the path that is there must be a folder; the parts
  // below it are made one by one, each noted for removal.
  const fs::path path = folder.empty() ? fs::path(".") : folder;
  std::vector<fs::path> missing;
  fs::path existing = path;
  while (!existing.empty() && !fs::exists(fs::symlink_status(existing, error))) {
    missing.push_back(existing);
    existing = existing.parent_path();
  }
  if (existing.empty()) existing = ".";
  if (!fs::is_directory(existing, error))
    throw UserError(subject, refused + (missing.empty() ? std::string("it is not a folder")
                                                        : existing.string() + " is not a folder"));
  for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
    const bool made = fs::create_directory(*part, error);
    if (error) {
      removeMade();
      throw UserError(subject, refused + "making " + part->string() + " failed: " + error.message());
    }
    if (made) made_.push_back(fs::absolute(*part, error));  // stays right whatever the working folder
  }
  // Only writing proves that files can be written: permissions, read-only
  // and special file systems all have their say.
  const fs::path probe = path / (".ostrand-probe-" + std::to_string(::getpid()));
  const int file = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (file < 0) {
    const std::string reason = std::strerror(errno);
    removeMade();
    throw UserError(subject, refused + "no file can be written in it: " + reason);
  }
  ::close(file);
  ::unlink(probe.c_str());
}

WritableFolder::~WritableFolder() { removeMade(); }

void WritableFolder::removeMade() noexcept {
  // Innermost first; a folder something was written into stays.
  for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
    std::error_code ignored;
    fs::remove(*folder, ignored);
  }
  made_.clear();
}

void CheckOutputFiles(const std::vector<fs::path>& paths) {
  for (const fs::path& path : paths) {
    std::error_code error;
    if (fs::is_directory(path, error))
      throw UserError(path.string(), "cannot be written: a folder of that name is there");
  }
}

void CreateOutputFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) throw UserError(folder.string(), "the output folder cannot be made: " + error.message());
}

fs::path TemporaryName(const fs::path& path) { return path.string() + ".partial-" + std::to_string(::getpid()); }

void MoveIntoPlace(const fs::path& temporary, const fs::path& path) {
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw UserError(path.string(), "cannot be put in place: " + error.message());
  }
}

void WriteWhole(const fs::path& path, const std::function<void(const std::string& temporary)>& write) {
  const fs::path temporary = TemporaryName(path);
  try {
    write(temporary.string());
  } catch (const UserError&) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  } catch (const std::exception& e) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw UserError(path.string(), "cannot be written: " + OneLine(e.what()));
  }
  MoveIntoPlace(temporary, path);
}

}  // namespace cli
