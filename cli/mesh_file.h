// OBJ meshes the user hands the command. The file is checked line by line
// before the host stand-in reads it, because its reader passes over much that
// is wrong without a word: unknown statements, coordinates that are missing or
// no numbers ("nan" and "abc" both read as 0), faces of fewer than three
// corners.
#pragma once

#include <string>

#include "host/host.h"

namespace cli {

// Reads a mesh with at least one point and one polygon, every coordinate
// finite. Throws UserError naming the file, and the line where there is one.
host::Mesh ReadMeshFile(const std::string& path);

// Checks that the file is there, is no folder and can be opened; throws
// UserError saying which of these fails.
void CheckReadableFile(const std::string& path);

// Reads a whole text file; throws UserError when it is missing, a folder or
// cannot be read.
std::string ReadTextFile(const std::string& path);

}  // namespace cli
