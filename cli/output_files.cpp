#include "cli/output_files.h"

#include <unistd.h>

#include <system_error>

#include "cli/user_error.h"

namespace cli {

namespace fs = std::filesystem;

void CheckOutputFolder(const fs::path& folder) {
  const std::string name = "output folder " + folder.string();
  std::error_code error;
  fs::path existing = fs::absolute(folder, error);
  if (error) throw UserError(name, "cannot be resolved: " + error.message());
  // The nearest part of the path that is there decides.
  while (!fs::exists(fs::symlink_status(existing, error)) && existing.has_relative_path())
    existing = existing.parent_path();
  if (!fs::is_directory(existing, error))
    throw UserError(name, "cannot be created: " + existing.string() + " is not a folder");
  if (::access(existing.c_str(), W_OK | X_OK) != 0)
    throw UserError(name, "cannot be written: " + existing.string() + " is not writable");
}

void CreateOutputFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) throw UserError("output folder " + folder.string(), "cannot be created: " + error.message());
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
