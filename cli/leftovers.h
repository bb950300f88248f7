// What a run killed outright (SIGKILL, power loss) leaves in a folder, put
// right by the next run into it before it writes anything: the journal of an
// unfinished run undone, temporaries removed, files put aside by a finished
// run deleted (or renamed back where nothing took their place).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cli {

// Cleans up the folder, which the caller holds locked (cli/folder_lock.h), so
// that no live run's files are taken for leftovers. Returns one line per
// thing done, for the user ("" when there was nothing), e.g. "ostrand-out: a
// run killed while putting its files in place left them half done: 2 earlier
// files put back, 1 new file removed".
std::vector<std::string> RecoverLeftovers(const std::filesystem::path& folder);

}  // namespace cli
