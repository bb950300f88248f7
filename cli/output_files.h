// The outputs of one run land together or not at all: each file is written
// under a temporary name beside its final one and renamed into place once
// complete, the file it replaces kept aside until the run is done, so a
// failure or a signal anywhere leaves the folders as they were, never half a
// file nor a mix of two runs' files.
//
// The order on disk, which a run killed outright (SIGKILL, power loss) leaves
// recoverable (cli/leftovers.h):
//   1. every new file is written as .NAME.ostrand-partial;
//   2. before the first file is put in place, the journal (.ostrand-journal in
//      the output folder) names every output and whether it was there, and is
//      made durable;
//   3. each file: NAME renamed aside to .NAME.ostrand-previous, then the new
//      one renamed to NAME;
//   4. commit: everything synced to disk, then the journal deleted (the one
//      step that makes the run's files final), then the files put aside deleted.
// A journal found later means a run that did not reach step 4: every file it
// names is put back as it was (the earlier file renamed back, a new one
// removed). Without a journal, a file put aside beside its NAME is the
// earlier file of a finished run, and is deleted.
#pragma once

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "driver/interruption.h"

namespace cli {

// An output folder proven writable before any work starts: made when missing
// (with its missing parents), and a probe file created in it and removed
// again. The folders it made are removed again when it goes (or a signal
// ends the run) while they are empty, so that a run that fails leaves no new
// folder behind. Throws UserError naming the folder; role says what it is
// for ("the output folder").
class WritableFolder : public driver::Undo {
 public:
  WritableFolder(const std::filesystem::path& folder, const std::string& role);
  ~WritableFolder() override;

  // The folders it made, outermost first, as absolute paths.
  const std::vector<std::filesystem::path>& made() const { return made_; }

  void undoOnSignal() noexcept override;

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
// done. Always the same for a path, so that a later run finds them.
std::filesystem::path TemporaryName(const std::filesystem::path& path);
std::filesystem::path BackupName(const std::filesystem::path& path);
inline constexpr const char* kPartialSuffix = ".ostrand-partial";
inline constexpr const char* kBackupSuffix = ".ostrand-previous";
inline constexpr const char* kJournalName = ".ostrand-journal";

// One output of a run, as the journal keeps it.
struct JournalEntry {
  std::filesystem::path path;  // absolute
  bool existed = false;        // a file was there before the run
};

// Puts every output named back as it was before the run: the temporaries
// written for it removed, the earlier file renamed back over it, a file that
// was not there before removed. Returns how many earlier files came back and
// how many new files went.
struct RolledBack {
  size_t restored = 0, removed = 0;
};
RolledBack RollBack(const std::vector<JournalEntry>& entries) noexcept;

// Writes the journal durably (a temporary renamed into place, synced), and
// reads one back (false when it cannot be read or is not a journal).
void WriteJournal(const std::filesystem::path& file, const std::vector<JournalEntry>& entries,
                  const std::vector<std::filesystem::path>& madeFolders);
bool ReadJournal(const std::filesystem::path& file, std::vector<JournalEntry>& entries,
                 std::vector<std::filesystem::path>& madeFolders);

// Makes a folder's entries durable (its new names and removals).
void SyncFolder(const std::filesystem::path& folder) noexcept;

// The files one run writes. write() puts each in place as soon as it is
// complete (so that it can be read back from its final name), moving a file
// already there aside first. commit() ends the run: the files put aside are
// deleted. Without commit (the run failed: an exception is on its way out,
// or a signal came), every new file is removed and every file put aside
// moved back, so that the folders hold exactly what they held before the run.
// Declared after the WritableFolder objects of the run, so that the folders
// they made are empty again when those go.
class OutputTransaction : public driver::Undo {
 public:
  // planned: every file the run may put in place; journalFolder: where the
  // journal is kept (the run's output folder, which the run holds locked);
  // madeFolders: the folders made for the run, for a later run to remove
  // should this one be killed.
  OutputTransaction(const std::filesystem::path& journalFolder, const std::vector<std::filesystem::path>& planned,
                    std::vector<std::filesystem::path> madeFolders);
  ~OutputTransaction() override;

  // Calls writeFile with the temporary name, then puts the file in place; a
  // signal is answered only before or after the two.
  // When writeFile throws, or the file cannot be put in place, the temporary
  // is removed and UserError naming path goes on (a message naming the
  // temporary names path instead).
  void write(const std::filesystem::path& path, const std::function<void(const std::string& temporary)>& writeFile);

  // A file written piece by piece while the run goes on (a cache, frame by
  // frame): startFile calls open with the temporary name to make it under (a
  // signal is answered only once it is made), finishFile puts it in place as
  // write() does. Until then a failed run removes the temporary.
  void startFile(const std::filesystem::path& path, const std::function<void(const std::string& temporary)>& open);
  void finishFile(const std::filesystem::path& path);

  // Makes the files written final; deletes those put aside.
  void commit();

  void undoOnSignal() noexcept override;
  std::string undoneText() const override { return undone_; }

 private:
  void place(const std::filesystem::path& temporary, const std::filesystem::path& path);
  void deleteBackups() noexcept;
  void rollBack() noexcept;

  std::filesystem::path journal_;
  std::vector<JournalEntry> entries_;  // every planned output; existed filled when the journal is written
  std::vector<std::filesystem::path> madeFolders_;
  bool journalWritten_ = false;
  bool committed_ = false;
  size_t placed_ = 0;
  std::set<std::filesystem::path> putAside_;  // outputs whose earlier file this run moved aside
  std::string undone_;  // what a signal found and did
};

}  // namespace cli
