// File paths as Python callers give them (str, bytes or os.PathLike), and the
// OSError that names one. The bytes go to the file system as they are, so any
// name the file system takes works, whatever its encoding; errors carry the
// path as the caller gave it.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace python {

namespace py = pybind11;

struct FilePath {
  std::string bytes;  // os.fsencode of the argument: what the file system is given
  py::object given;   // os.fspath of the argument: the file name an OSError carries
  std::string shown;  // for messages: UTF-8, bytes that are not as \xNN
};

// The path argument named argument. TypeError when it is no path; ValueError
// when it holds a NUL byte ("embedded null byte", as open() says), which the
// file system would take as the name's end.
FilePath ToFilePath(py::handle value, const std::string& argument);

// A path of this module's own (a temporary file), shown as its bytes decode.
FilePath OwnPath(const std::string& bytes);

// Raises OSError(code, text, path.given): Python makes it the subclass the
// error number stands for (FileNotFoundError for ENOENT, PermissionError for
// EACCES and EPERM, IsADirectoryError for EISDIR, ...).
[[noreturn]] void RaiseOSError(int code, const std::string& text, const FilePath& path);
// The same set as Python's error, for the file named by filename (a path as
// the caller gave it).
void SetOSError(int code, const std::string& text, py::handle filename);

// The text as valid UTF-8 (bytes that are not as \xNN), for messages that
// hold paths.
std::string Shown(const std::string& text);

}  // namespace python
