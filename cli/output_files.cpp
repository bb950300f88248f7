#include "cli/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include "driver/user_error.h"
#include "host/file_replace.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

fs::path Absolute(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal();
}

}  // namespace

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
    throw driver::UserError(driver::ErrorKind::kOutput, subject,
                            refused + (missing.empty() ? std::string("it is not a folder")
                                                       : existing.string() + " is not a folder"));
  enroll();
  for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
    auto step = driver::Step();
    const bool made = fs::create_directory(*part, error);
    if (error) {
      removeMade();
      throw driver::UserError(driver::ErrorKind::kOutput, subject,
                              refused + "making " + part->string() + " failed: " + error.message());
    }
    if (made) made_.push_back(Absolute(*part));  // stays right whatever the working folder
  }
  // Only writing proves that files can be written: permissions, read-only
  // and special file systems all have their say.
  const fs::path probe = path / (".ostrand-probe-" + std::to_string(::getpid()));
  auto step = driver::Step();  // made and gone before a signal is answered
  const int file = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (file < 0) {
    const std::string reason = std::strerror(errno);
    removeMade();
    throw driver::UserError(driver::ErrorKind::kOutput, subject, refused + "no file can be written in it: " + reason);
  }
  ::close(file);
  ::unlink(probe.c_str());
}

WritableFolder::~WritableFolder() { removeMade(); }

void WritableFolder::undoOnSignal() noexcept { removeMade(); }

void WritableFolder::removeMade() noexcept {
  auto step = driver::Step();
  // Innermost first; a folder something was written into stays.
  for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) ::rmdir(folder->c_str());
  made_.clear();
}

void CheckOutputFiles(const std::vector<fs::path>& paths) {
  std::set<fs::path> seen;  // a run may write thousands of frames
  for (const fs::path& path : paths) {
    std::error_code error;
    if (fs::is_directory(path, error))
      throw driver::UserError(driver::ErrorKind::kOutput, path.string(),
                              "cannot be written: a folder of that name is there");
    if (!seen.insert(fs::weakly_canonical(fs::absolute(path, error), error)).second)
      throw driver::UserError(driver::ErrorKind::kOutput, path.string(),
                              "is written twice in one run; give the outputs different names");
  }
}

fs::path TemporaryName(const fs::path& path) {
  return path.parent_path() / ("." + path.filename().string() + kPartialSuffix);
}

fs::path BackupName(const fs::path& path) {
  return path.parent_path() / ("." + path.filename().string() + kBackupSuffix);
}

namespace {

// A lower layer's error about the temporary file, told of the file the user
// knows: every mention of the temporary name becomes path.
driver::UserError AboutFinalName(const std::exception& e, const std::string& temporary, const std::string& path) {
  const auto renamed = [&](std::string text) {
    // The writers' own temporaries beside it first (see RemoveTemporaries).
    for (const std::string& name : {temporary + ".saving", temporary + ".tmp", temporary})
      for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + path.size()))
        text.replace(at, name.size(), path);
    return text;
  };
  const auto* error = dynamic_cast<const driver::UserError*>(&e);
  if (error != nullptr && renamed(error->subject()) == path)
    return driver::UserError(error->kind(), path, driver::OneLine(renamed(error->problem())));
  return driver::UserError(driver::ErrorKind::kOutput, path,
                           "cannot be written: " + driver::OneLine(renamed(e.what())));
}

bool IsThere(const fs::path& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

// A file (not a folder) under the name: only such a file is one the command put aside.
bool IsFileThere(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  return fs::exists(status) && !fs::is_directory(status);
}

// Removes a file the command wrote; whatever else stands under its name (a
// folder that made the writing fail) is not the command's and stays.
bool RemoveWritten(const fs::path& path) noexcept {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  return !error && fs::exists(status) && !fs::is_directory(status) && fs::remove(path, error);
}

// The temporary of an output, and the temporaries of the writers that write
// it: the module writes its weights file beside the name it is given (".tmp"),
// the host its scene file (".saving").
void RemoveTemporaries(const fs::path& path) noexcept {
  const std::string temporary = TemporaryName(path).string();
  for (const char* suffix : {"", ".tmp", ".saving"}) RemoveWritten(temporary + suffix);
}

// Syncs the file systems of the folders given, each once.
void SyncFileSystems(const std::vector<fs::path>& folders) {
  std::set<fs::path> done;
  for (const fs::path& folder : folders) {
    if (!done.insert(folder).second) continue;
    const int file = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (file < 0) continue;
    ::syncfs(file);
    ::close(file);
  }
}

}  // namespace

void SyncFolder(const fs::path& folder) noexcept {
  const int file = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (file < 0) return;
  ::fsync(file);
  ::close(file);
}

RolledBack RollBack(const std::vector<JournalEntry>& entries) noexcept {
  RolledBack done;
  std::set<fs::path> folders;
  // Latest first: the reverse of the order the run went.
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    RemoveTemporaries(entry->path);
    const fs::path backup = BackupName(entry->path);
    std::error_code error;
    if (IsFileThere(backup)) {
      fs::rename(backup, entry->path, error);
      if (!error) ++done.restored;
    } else if (!entry->existed && RemoveWritten(entry->path)) {
      ++done.removed;
    }
    folders.insert(entry->path.parent_path());
  }
  for (const fs::path& folder : folders) SyncFolder(folder);
  return done;
}

// The journal: a first line that says what it is, then a line per folder the
// run made and per output, each path last with its length before it, so
// that any name reads back.
void WriteJournal(const fs::path& file, const std::vector<JournalEntry>& entries,
                  const std::vector<fs::path>& madeFolders) {
  std::ostringstream text;
  text << "ostrand journal 1\n";
  for (const fs::path& folder : madeFolders)
    text << "made " << folder.string().size() << ' ' << folder.string() << '\n';
  for (const JournalEntry& entry : entries)
    text << "output " << entry.existed << ' ' << entry.path.string().size() << ' ' << entry.path.string() << '\n';
  // One rule of host/file_replace.h is kept otherwise: a failure to make or
  // write the temporary names the temporary, not the journal (which the user
  // never named either; OutputTransaction::write tells it after the output it
  // was putting in place).
  const fs::path temporary = TemporaryName(file);
  const host::ReplaceResult written = host::ReplaceFile(file.string(), temporary.string(), text.str());
  const std::string reason = written.reason.message();
  switch (written.failed) {
    case host::ReplaceStep::kNone:
      break;
    case host::ReplaceStep::kCreate:
      throw driver::UserError(driver::ErrorKind::kOutput, temporary.string(), "cannot be created: " + reason);
    case host::ReplaceStep::kWrite:
      throw driver::UserError(driver::ErrorKind::kOutput, temporary.string(), "cannot be written: " + reason);
    case host::ReplaceStep::kMove:
      throw driver::UserError(driver::ErrorKind::kOutput, file.string(), "cannot be written: " + reason);
  }
  SyncFolder(file.parent_path());
}

bool ReadJournal(const fs::path& file, std::vector<JournalEntry>& entries, std::vector<fs::path>& madeFolders) {
  std::ifstream in(file, std::ios::binary);
  std::string first;
  if (!std::getline(in, first) || first != "ostrand journal 1") return false;
  std::string kind;
  while (in >> kind) {
    bool existed = false;
    if (kind == "output" && !(in >> existed)) return false;
    size_t length = 0;
    if ((kind != "output" && kind != "made") || !(in >> length) || in.get() != ' ' || length > 65536) return false;
    std::string path(length, '\0');
    if (!in.read(path.data(), static_cast<std::streamsize>(length)) || in.get() != '\n') return false;
    if (kind == "made")
      madeFolders.emplace_back(path);
    else
      entries.push_back({path, existed});
  }
  return true;
}

OutputTransaction::OutputTransaction(const fs::path& journalFolder, const std::vector<fs::path>& planned,
                                     std::vector<fs::path> madeFolders)
    : journal_(Absolute(journalFolder.empty() ? fs::path(".") : journalFolder) / kJournalName),
      madeFolders_(std::move(madeFolders)) {
  for (const fs::path& path : planned) entries_.push_back({Absolute(path), false});
  enroll();
}

OutputTransaction::~OutputTransaction() {
  if (!committed_) rollBack();
}

void OutputTransaction::write(const fs::path& path,
                              const std::function<void(const std::string& temporary)>& writeFile) {
  const fs::path temporary = TemporaryName(path);
  try {
    // Written whole before a signal is answered: a writer that made its file
    // after the signal had undone the run would leave it behind.
    auto step = driver::Step();
    writeFile(temporary.string());
    place(temporary, path);
  } catch (const std::exception& e) {
    RemoveTemporaries(path);
    throw AboutFinalName(e, temporary.string(), path.string());
  }
}

void OutputTransaction::startFile(const fs::path& path, const std::function<void(const std::string& temporary)>& open) {
  auto step = driver::Step();
  open(TemporaryName(path).string());
}

void OutputTransaction::finishFile(const fs::path& path) {
  try {
    place(TemporaryName(path), path);
  } catch (const std::exception&) {
    RemoveTemporaries(path);
    throw;
  }
}

// Puts a finished temporary in place as host/file_replace.h does, with two of
// its rules kept otherwise for the journal's sake: the earlier file is moved
// aside, not replaced, and stays there until commit; and the new files reach
// the device all together at commit (SyncFileSystems, before the journal that
// would undo them goes), not each before its rename. A crash before commit
// leaves the journal, which puts the earlier files back.
void OutputTransaction::place(const fs::path& temporary, const fs::path& path) {
  const fs::path absolute = Absolute(path);
  if (std::none_of(entries_.begin(), entries_.end(), [&](const JournalEntry& e) { return e.path == absolute; }))
    throw std::logic_error("an output the run did not plan: " + path.string());
  auto step = driver::Step();
  if (!journalWritten_) {
    // Before anything already there is touched, the journal says what was.
    for (JournalEntry& entry : entries_) entry.existed = IsThere(entry.path);
    WriteJournal(journal_, entries_, madeFolders_);
    journalWritten_ = true;
  }
  std::error_code error;
  const fs::path backup = BackupName(absolute);
  if (IsThere(absolute) && putAside_.count(absolute) == 0) {
    fs::rename(absolute, backup, error);
    if (error)
      throw driver::UserError(driver::ErrorKind::kOutput, path.string(),
                              "cannot be put in place: moving the earlier file aside to " + backup.string() +
                                  " failed: " + error.message());
    putAside_.insert(absolute);
  }
  error = host::MoveFileOver(temporary.string(), absolute.string());
  if (error)
    throw driver::UserError(driver::ErrorKind::kOutput, path.string(), "cannot be put in place: " + error.message());
  ++placed_;
}

void OutputTransaction::commit() {
  std::vector<fs::path> folders;
  for (const JournalEntry& entry : entries_) folders.push_back(entry.path.parent_path());
  // The new files' contents on disk before the one step that makes them final.
  if (journalWritten_) SyncFileSystems(folders);
  {
    auto step = driver::Step();
    if (journalWritten_) {
      std::error_code error;
      fs::remove(journal_, error);
      if (error)
        throw driver::UserError(driver::ErrorKind::kOutput, journal_.string(), "cannot be removed: " + error.message());
      SyncFolder(journal_.parent_path());
    }
    committed_ = true;
  }
  deleteBackups();
  withdraw();
}

void OutputTransaction::deleteBackups() noexcept {
  for (const JournalEntry& entry : entries_) {
    RemoveTemporaries(entry.path);  // started, never finished: not an output
    RemoveWritten(BackupName(entry.path));
  }
}

void OutputTransaction::rollBack() noexcept {
  auto step = driver::Step();
  if (!journalWritten_) {
    // Nothing was put in place: only temporaries to remove.
    for (const JournalEntry& entry : entries_) RemoveTemporaries(entry.path);
    return;
  }
  const RolledBack done = RollBack(entries_);
  {
    std::error_code error;
    fs::remove(journal_, error);
    SyncFolder(journal_.parent_path());
    journalWritten_ = false;
  }
  if (placed_ > 0 || done.restored > 0)
    undone_ = "the run's files were taken out" +
              std::string(done.restored > 0 ? " and the earlier ones put back" : "") + ": the folders are as they were";
  placed_ = 0;
}

void OutputTransaction::undoOnSignal() noexcept {
  if (committed_) {
    deleteBackups();
    undone_ = "the run had put all its files in place: they are kept";
    return;
  }
  rollBack();
  if (undone_.empty()) undone_ = "nothing was written";
}

}  // namespace cli
