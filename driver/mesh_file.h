// Files the user hands the command: OBJ meshes and plain text files.
#pragma once

#include <string>

#include "host/obj_file.h"

namespace driver {

// Reads an OBJ file holding at least one point and one polygon. Throws
// UserError (input) naming the file, and the line where there is one.
host::ObjFile ReadMeshFile(const std::string& path);

// Checks that the file is there, is a regular file (or a link to one) and
// can be opened; throws UserError (input) saying which of these fails: "no such
// file", "is a folder, not a file", "is not a regular file (a FIFO)" (a
// character device, a block device, a socket). Every file the user names for
// reading passes here, or through host/regular_file.h, before it is read: a
// device or a FIFO is refused before it is opened, never read or waited on.
void CheckReadableFile(const std::string& path);

// Reads a whole text file; throws UserError (input) when it is missing, no
// regular file or cannot be read.
std::string ReadTextFile(const std::string& path);

// Writes text as the whole file; throws UserError (output) naming path when it cannot.
void WriteTextFile(const std::string& path, const std::string& text);

// Refuses a posed cage whose faces are not the bound cage's, corner for
// corner: names the first face that differs (its line in the posed file), as
// UserError (input).
void CheckSameFaces(const host::ObjFile& pose, const host::Mesh& cage);

}  // namespace driver
