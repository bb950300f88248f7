#include "cli/leftovers.h"

#include <unistd.h>

#include <set>
#include <system_error>

#include "checks/warnings.h"
#include "cli/output_files.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The file a hidden name ".NAME<suffix>" stands for, or "" when it is none.
std::string NamedFor(const std::string& hidden, const std::string& suffix) {
  if (hidden.size() <= suffix.size() + 1 || hidden[0] != '.' || !EndsWith(hidden, suffix)) return "";
  return hidden.substr(1, hidden.size() - suffix.size() - 1);
}

}  // namespace

std::vector<std::string> RecoverLeftovers(const fs::path& folder) {
  std::vector<std::string> told;
  const fs::path here = folder.empty() ? fs::path(".") : folder;
  const std::string shown = folder.empty() ? "." : folder.string();

  // An unfinished run: every output it names put back as it was.
  const fs::path journal = here / kJournalName;
  std::error_code error;
  if (fs::exists(fs::symlink_status(journal, error))) {
    std::vector<JournalEntry> entries;
    std::vector<fs::path> made;
    if (ReadJournal(journal, entries, made)) {
      const RolledBack done = RollBack(entries);
      for (auto it = made.rbegin(); it != made.rend(); ++it) ::rmdir(it->c_str());  // only when empty
      told.push_back(shown + ": a run that was killed while putting its files in place had left them half done; " +
                     checks::Counted(done.restored, "earlier file", "earlier files") + " put back, " +
                     checks::Counted(done.removed, "new file", "new files") + " removed");
    }
    fs::remove(journal, error);
    SyncFolder(here);
  }

  // Whatever else a killed run leaves, known by its name.
  size_t removed = 0, restored = 0, stale = 0;
  std::vector<fs::path> names;
  for (fs::directory_iterator it(here, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path());
  for (const fs::path& path : names) {
    const std::string name = path.filename().string();
    const fs::file_status status = fs::symlink_status(path, error);
    if (error || fs::is_directory(status)) continue;
    if (name.rfind(".ostrand-probe-", 0) == 0 || (name[0] == '.' && name.find(kPartialSuffix) != std::string::npos)) {
      removed += fs::remove(path, error) ? 1 : 0;
      continue;
    }
    const std::string original = NamedFor(name, kBackupSuffix);
    if (original.empty()) continue;
    if (fs::exists(fs::symlink_status(here / original, error))) {
      // A finished run's earlier file: its new one stands in its place.
      stale += fs::remove(path, error) ? 1 : 0;
    } else {
      fs::rename(path, here / original, error);
      restored += error ? 0 : 1;
    }
  }
  if (removed + restored + stale > 0) {
    std::string line = shown + ": cleaned up after a run that was killed:";
    if (removed > 0) line += " " + checks::Counted(removed, "unfinished file", "unfinished files") + " removed;";
    if (stale > 0) line += " " + checks::Counted(stale, "replaced file kept aside", "replaced files kept aside") + " removed;";
    if (restored > 0) line += " " + checks::Counted(restored, "file put aside", "files put aside") + " renamed back;";
    line.pop_back();
    told.push_back(line);
    SyncFolder(here);
  }
  return told;
}

}  // namespace cli
