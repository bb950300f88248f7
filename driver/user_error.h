// The failures a program driving the module reports to its user: the thing the user named (a
// file, a folder, an option), what is wrong with it, and the kind of failure, which decides how
// each front end tells it (the command's exit status, the Python exception's class). As one
// line, what() reads "SUBJECT: PROBLEM"; about a file, "FILE:LINE: PROBLEM" when a line of it
// is at fault (the subject is then "FILE:LINE"), else "FILE: PROBLEM".
#pragma once

#include <stdexcept>
#include <string>

namespace driver {

enum class ErrorKind {
  kUsage,    // bad arguments or options: the command exits with status 2
  kInput,    // a file or a value the user gave is bad or cannot be read: Python's ValueError
  kOutput,   // what was asked for cannot be written where it was asked: Python's OSError
  kRefused,  // a check refused, the plug-in refused (or cannot be had), or another run holds the folder
};

class UserError : public std::runtime_error {
 public:
  UserError(ErrorKind kind, const std::string& subject, const std::string& problem)
      : std::runtime_error(subject + ": " + problem), kind_(kind), subject_(subject), problem_(problem) {}
  // At a line of a file: the subject "path:line".
  UserError(ErrorKind kind, const std::string& path, long line, const std::string& problem)
      : UserError(kind, path + ":" + std::to_string(line), problem) {}

  ErrorKind kind() const { return kind_; }
  const std::string& subject() const { return subject_; }
  const std::string& problem() const { return problem_; }

 private:
  ErrorKind kind_;
  std::string subject_;
  std::string problem_;
};

// The text of a lower layer's error as one line: line breaks become "; ".
std::string OneLine(const std::string& text);

// A value the user gave, as messages show it: quoted, printable, shortened.
std::string QuotedValue(const std::string& value);

// The host stand-in's error about the file at path (its text, which starts
// with prefix: "scene file P: ", "OBJ file P: "), as a UserError of the kind
// given about that file: the host's prefix left out, and a leading "line N: "
// of the problem made the line of the subject ("P:N: problem").
UserError HostFileError(ErrorKind kind, const std::string& path, const std::string& text, const std::string& prefix);

}  // namespace driver
