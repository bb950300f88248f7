// The failures a program driving the module reports to its user: the thing the user named (a
// file, a folder, an option) and what is wrong with it, as one line. About a
// file, the line reads "FILE:LINE: what is wrong" when a line of it is at
// fault, else "FILE: what is wrong".
#pragma once

#include <stdexcept>
#include <string>

namespace driver {

class UserError : public std::runtime_error {
 public:
  UserError(const std::string& subject, const std::string& problem) : std::runtime_error(subject + ": " + problem) {}
  // At a line of a file: "path:line: problem".
  UserError(const std::string& path, long line, const std::string& problem)
      : UserError(path + ":" + std::to_string(line), problem) {}
};

// The text of a lower layer's error as one line: line breaks become "; ".
std::string OneLine(const std::string& text);

// A value the user gave, as messages show it: quoted, printable, shortened.
std::string QuotedValue(const std::string& value);

// Turns an error of the host stand-in ("OBJ file P: problem", "scene file P:
// problem") into "P: problem" for the file the user named.
std::string WithoutPrefix(const std::string& text, const std::string& prefix);

// The host stand-in's error about the file at path, as the command reports
// it: without the host's prefix ("scene file P: "), and with a leading
// "line N: " of the problem made the line of the subject ("P:N: problem").
UserError HostFileError(const std::string& path, const std::string& text, const std::string& prefix);

}  // namespace driver
