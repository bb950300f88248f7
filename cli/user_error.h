// The failures the command reports to its user: the thing the user named (a
// file, a folder, an option) and what is wrong with it, as one line.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

class UserError : public std::runtime_error {
 public:
  UserError(const std::string& subject, const std::string& problem) : std::runtime_error(subject + ": " + problem) {}
};

// The text of a lower layer's error as one line: line breaks become "; ".
std::string OneLine(const std::string& text);

// Turns an error of the host stand-in ("OBJ file P: problem", "scene file P:
// problem") into "P: problem" for the file the user named.
std::string WithoutPrefix(const std::string& text, const std::string& prefix);

}  // namespace cli
