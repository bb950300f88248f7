#include "python/file_path.h"

#include <cstdint>
#include <cstdio>

namespace python {

FilePath ToFilePath(py::handle value, const std::string& argument) {
  py::module_ os = py::module_::import("os");
  FilePath path;
  try {
    path.given = os.attr("fspath")(value);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_TypeError)) throw;
    throw py::type_error(argument + ": a path (str, bytes or os.PathLike) is needed, not " +
                         std::string(py::str(py::type::handle_of(value).attr("__name__"))));
  }
  path.bytes = os.attr("fsencode")(path.given).cast<std::string>();
  if (path.bytes.find('\0') != std::string::npos) throw py::value_error(argument + ": embedded null byte");
  path.shown = Shown(path.bytes);
  return path;
}

FilePath OwnPath(const std::string& bytes) {
  return {bytes, py::module_::import("os").attr("fsdecode")(py::bytes(bytes)), Shown(bytes)};
}

void RaiseOSError(int code, const std::string& text, const FilePath& path) {
  SetOSError(code, text, path.given);
  throw py::error_already_set();
}

void SetOSError(int code, const std::string& text, py::handle filename) {
  py::object error = py::module_::import("builtins").attr("OSError")(code, Shown(text), filename);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
}

std::string Shown(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    bool valid = length != 0 && i + length <= text.size();
    uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3Fu);
    }
    // Overlong forms, UTF-16 surrogates and numbers beyond Unicode are not
    // UTF-8 either: Python would refuse them.
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && length > 1) valid = code >= kLeast[length] && !(code >= 0xD800 && code <= 0xDFFF) && code <= 0x10FFFF;
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", lead);
      out += escaped;
      ++i;
    }
  }
  return out;
}

}  // namespace python
