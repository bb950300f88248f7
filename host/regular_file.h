// Opening the files a user names for reading. Only a regular file (or a link
// to one) is read: a device never ends (/dev/zero) or may block, a FIFO's
// open waits for a writer and its reads for data, and a socket cannot be read
// as a file, so each is refused before it is opened, and once more on the
// opened descriptor in case the path changed between the two looks.
#pragma once

#include <cstdio>
#include <string>

namespace host {

// What keeps path from being read as a file, as the end of a message about
// it: "no such file", "is a folder, not a file", "is not a regular file (a
// character device)" (or a block device, a FIFO, a socket); "" for a regular
// file. Looks at the path only, never opens it.
std::string NotARegularFile(const std::string& path);

// Opens a regular file for reading in binary, without ever waiting on the
// file: the stream, or null with *problem set to NotARegularFile's text or
// "cannot be opened: <reason>".
std::FILE* OpenRegularFile(const std::string& path, std::string* problem);

}  // namespace host
