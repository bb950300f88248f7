// Output files appear whole or not at all: each is written under a temporary
// name beside its final one and renamed over it once complete, so a failure
// leaves the earlier file (or none) in place, never half a file.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace cli {

// Checks, without creating anything, that the folder exists and is a folder,
// or could be created: its nearest existing ancestor is a writable folder.
// Throws UserError naming the folder.
void CheckOutputFolder(const std::filesystem::path& folder);

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
