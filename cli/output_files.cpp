#include "cli/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include "driver/user_error.h"

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
    throw driver::UserError(subject, refused + (missing.empty() ? std::string("it is not a folder")
                                                        : existing.string() + " is not a folder"));
  for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
    const bool made = fs::create_directory(*part, error);
    if (error) {
      removeMade();
      throw driver::UserError(subject, refused + "making " + part->string() + " failed: " + error.message());
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
    throw driver::UserError(subject, refused + "no file can be written in it: " + reason);
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
  std::set<fs::path> seen;  // a run may write thousands of frames
  for (const fs::path& path : paths) {
    std::error_code error;
    if (fs::is_directory(path, error))
      throw driver::UserError(path.string(), "cannot be written: a folder of that name is there");
    if (!seen.insert(fs::weakly_canonical(fs::absolute(path, error), error)).second)
      throw driver::UserError(path.string(), "is written twice in one run; give the outputs different names");
  }
}

fs::path TemporaryName(const fs::path& path) {
  return path.parent_path() / ("." + path.filename().string() + ".ostrand-partial");
}

fs::path BackupName(const fs::path& path) {
  return path.parent_path() / ("." + path.filename().string() + ".ostrand-previous");
}

namespace {

// A lower layer's error about the temporary file, told of the file the user
// knows: every mention of the temporary name becomes path.
driver::UserError AboutFinalName(const std::exception& e, const std::string& temporary, const std::string& path) {
  std::string text = e.what();
  for (size_t at = text.find(temporary); at != std::string::npos; at = text.find(temporary, at + path.size()))
    text.replace(at, temporary.size(), path);
  const std::string subject = path + ": ";
  if (dynamic_cast<const driver::UserError*>(&e) != nullptr && text.rfind(subject, 0) == 0)
    return driver::UserError(path, driver::OneLine(text.substr(subject.size())));
  return driver::UserError(path, "cannot be written: " + driver::OneLine(text));
}

// Removes a file the command wrote; whatever else stands under its name (a
// folder that made the writing fail) is not the command's and stays.
void RemoveWritten(const fs::path& path) noexcept {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (!error && !fs::is_directory(status)) fs::remove(path, error);
}

}  // namespace

OutputTransaction::~OutputTransaction() {
  if (!committed_) rollBack();
}

void OutputTransaction::write(const fs::path& path, const std::function<void(const std::string& temporary)>& writeFile) {
  const fs::path temporary = TemporaryName(path);
  try {
    writeFile(temporary.string());
    place(temporary, path);
  } catch (const std::exception& e) {
    RemoveWritten(temporary);
    throw AboutFinalName(e, temporary.string(), path.string());
  }
}

std::string OutputTransaction::startFile(const fs::path& path) {
  started_.push_back(TemporaryName(path));
  return started_.back().string();
}

void OutputTransaction::finishFile(const fs::path& path) {
  const fs::path temporary = TemporaryName(path);
  started_.erase(std::remove(started_.begin(), started_.end(), temporary), started_.end());
  try {
    place(temporary, path);
  } catch (const std::exception&) {
    RemoveWritten(temporary);
    throw;
  }
}

void OutputTransaction::place(const fs::path& temporary, const fs::path& path) {
  std::error_code error;
  const bool again = std::any_of(placed_.begin(), placed_.end(), [&](const Placed& p) { return p.path == path; });
  if (!again && fs::exists(fs::symlink_status(path, error))) {
    // Noted before the new file goes in, so that whatever happens next the
    // earlier file comes back.
    const fs::path backup = BackupName(path);
    fs::rename(path, backup, error);
    if (error)
      throw driver::UserError(path.string(), "cannot be put in place: moving the earlier file aside to " + backup.string() +
                                         " failed: " + error.message());
    placed_.push_back({path, backup});
    fs::rename(temporary, path, error);
  } else {
    fs::rename(temporary, path, error);
    if (!error && !again) placed_.push_back({path, {}});
  }
  if (error) throw driver::UserError(path.string(), "cannot be put in place: " + error.message());
}

void OutputTransaction::commit() noexcept {
  committed_ = true;
  for (const fs::path& temporary : started_) RemoveWritten(temporary);  // never finished: not an output
  started_.clear();
  for (const Placed& placed : placed_) {
    std::error_code ignored;
    if (!placed.backup.empty()) fs::remove(placed.backup, ignored);
  }
  placed_.clear();
}

void OutputTransaction::rollBack() noexcept {
  for (const fs::path& temporary : started_) RemoveWritten(temporary);
  started_.clear();
  // Latest first: each step undone in the reverse of the order it was done.
  for (auto placed = placed_.rbegin(); placed != placed_.rend(); ++placed) {
    RemoveWritten(placed->path);
    std::error_code ignored;
    if (!placed->backup.empty()) fs::rename(placed->backup, placed->path, ignored);
  }
  placed_.clear();
}

}  // namespace cli
