// Output files appear whole or not at all: each is written under a temporary
// name beside its final one and renamed over it once complete, so a failure
// leaves the earlier file (or none) in place, never half a file.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace cli {

// An output folder proven writable before any work starts: made when missing
// (with its missing parents), and a probe file created in it and removed
// again. The folders it made are removed again when it goes while they are
// still empty, so that a run that fails before writing leaves no new folder
// behind. Throws UserError naming the folder; role says what it is for ("the
// output folder").
class WritableFolder {
 public:
  WritableFolder(const std::filesystem::path& folder, const std::string& role);
  ~WritableFolder();
  WritableFolder(const WritableFolder&) = delete;
  WritableFolder& operator=(const WritableFolder&) = delete;

 private:
  void removeMade() noexcept;

  std::vector<std::filesystem::path> made_;  // outermost first
};

// Refuses output files that could not be put in place: a folder is there
// under the name. Throws UserError naming the first such path.
void CheckOutputFiles(const std::vector<std::filesystem::path>& paths);

// Creates the folder (and its parents) when missing. Throws UserError.
void CreateOutputFolder(const std::filesystem::path& folder);

// The temporary name a file is written under before it is renamed into place.
std::filesystem::path TemporaryName(const std::filesystem::path& path);

// Calls write with the temporary name, then renames the file into place. When
// write throws, or the rename fails, the temporary file is removed and the
// error goes on (as UserError naming path).
void WriteWhole(const std::filesystem::path& path, const std::function<void(const std::string& temporary)>& write);

// Renames a complete temporary file into place; removes it and throws
// UserError naming path when that fails.
void MoveIntoPlace(const std::filesystem::path& temporary, const std::filesystem::path& path);

}  // namespace cli
