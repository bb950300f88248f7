// The outputs of one run land together or not at all: each file is written
// under a temporary name beside its final one and renamed into place once
// complete, the file it replaces kept aside until the run is done, so a
// failure anywhere leaves the folders as they were, never half a file nor a
// mix of two runs' files.
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

// Refuses output files that could not be put in place, before any work: a
// folder is there under the name, or two outputs share one name (the later
// would replace the earlier). Throws UserError naming the first such path.
void CheckOutputFiles(const std::vector<std::filesystem::path>& paths);


// The hidden names beside path that a new file is written under before it is
// put in place, and that the file it replaces is kept under until the run is
// done. Always the same for a path, so a run that was killed leaves nothing
// that a later run does not overwrite.
std::filesystem::path TemporaryName(const std::filesystem::path& path);
std::filesystem::path BackupName(const std::filesystem::path& path);

// The files one run writes. write() puts each in place as soon as it is
// complete (so that it can be read back from its final name), moving a file
// already there aside first. commit() ends the run: the files put aside are
// deleted. Without commit (the run failed: an exception is on its way out),
// the destructor removes every new file and moves every file put aside back,
// so that the folders hold exactly what they held before the run.
// Declared after the WritableFolder objects of the run, so that the folders
// they made are empty again when those go.
class OutputTransaction {
 public:
  OutputTransaction() = default;
  ~OutputTransaction();
  OutputTransaction(const OutputTransaction&) = delete;
  OutputTransaction& operator=(const OutputTransaction&) = delete;

  // Calls writeFile with the temporary name, then puts the file in place.
  // When writeFile throws, or the file cannot be put in place, the temporary
  // is removed and UserError naming path goes on (a message naming the
  // temporary names path instead).
  void write(const std::filesystem::path& path, const std::function<void(const std::string& temporary)>& writeFile);

  // A file written piece by piece while the run goes on (a cache, frame by
  // frame): startFile gives the temporary name to write it under, finishFile
  // puts it in place as write() does. Until then a failed run removes the
  // temporary.
  std::string startFile(const std::filesystem::path& path);
  void finishFile(const std::filesystem::path& path);

  // Keeps the files written; deletes those put aside.
  void commit() noexcept;

 private:
  struct Placed {
    std::filesystem::path path;
    std::filesystem::path backup;  // empty when no file was there
  };

  void place(const std::filesystem::path& temporary, const std::filesystem::path& path);
  void rollBack() noexcept;

  std::vector<Placed> placed_;  // in the order put in place
  std::vector<std::filesystem::path> started_;  // temporaries of files started, not yet finished
  bool committed_ = false;
};

}  // namespace cli
