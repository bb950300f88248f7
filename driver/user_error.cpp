#include "driver/user_error.h"

namespace driver {

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!line.empty() && line.back() != ' ') line += "; ";
      continue;
    }
    line += c;
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == ';')) line.pop_back();
  return line;
}

std::string QuotedValue(const std::string& value) {
  constexpr size_t kShown = 24;
  std::string shown;
  for (char c : value.substr(0, kShown)) shown += (c >= 32 && c < 127) ? c : '?';
  return "\"" + shown + (value.size() > kShown ? "..." : "") + "\"";
}

UserError HostFileError(ErrorKind kind, const std::string& path, const std::string& text, const std::string& prefix) {
  // The host stand-in tells its errors as text alone: "scene file P: line N: problem".
  std::string problem = OneLine(text);
  if (problem.compare(0, prefix.size(), prefix) == 0) problem.erase(0, prefix.size());
  const std::string start = "line ";
  if (problem.compare(0, start.size(), start) == 0) {
    const size_t digits = problem.find_first_not_of("0123456789", start.size());
    if (digits != std::string::npos && digits > start.size() && problem.compare(digits, 2, ": ") == 0)
      return UserError(kind, path + ":" + problem.substr(start.size(), digits - start.size()),
                       problem.substr(digits + 2));
  }
  return UserError(kind, path, problem);
}

}  // namespace driver
