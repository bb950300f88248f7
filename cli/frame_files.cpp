#include "cli/frame_files.h"

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

namespace cli {

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole number of at most nine digits from text[begin, end); none otherwise.
std::optional<long> Digits(const std::string& text, size_t begin, size_t end) {
  if (begin >= end || end - begin > 9) return std::nullopt;
  long value = 0;
  for (size_t k = begin; k < end; ++k) {
    if (!IsDigit(text[k])) return std::nullopt;
    value = value * 10 + (text[k] - '0');
  }
  return value;
}

// Where a printf-style number starts at text[at] ('%'): its length and width.
std::optional<std::pair<size_t, int>> PrintfNumber(const std::string& text, size_t at) {
  if (at + 1 < text.size() && text[at + 1] == 'd') return std::make_pair(size_t{2}, 1);
  if (at + 3 < text.size() && text[at + 1] == '0') {
    size_t end = at + 2;
    while (end < text.size() && IsDigit(text[end])) ++end;
    const std::optional<long> width = Digits(text, at + 2, end);
    if (width && *width >= 1 && *width <= 9 && end < text.size() && text[end] == 'd')
      return std::make_pair(end + 1 - at, static_cast<int>(*width));
  }
  return std::nullopt;
}

}  // namespace

std::string FramePattern::name(long number) const {
  std::string digits = std::to_string(number);
  if (digits.size() < static_cast<size_t>(width)) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return before + digits + after;
}

std::optional<long> FramePattern::number(const std::string& path) const {
  if (path.size() <= before.size() + after.size() || path.compare(0, before.size(), before) != 0 ||
      path.compare(path.size() - after.size(), after.size(), after) != 0)
    return std::nullopt;
  const std::optional<long> value = Digits(path, before.size(), path.size() - after.size());
  if (!value || name(*value) != path) return std::nullopt;
  return value;
}

std::string FramePattern::printfText() const {
  return before + (width > 1 ? "%0" + std::to_string(width) + "d" : std::string("%d")) + after;
}

std::optional<FramePattern> FindFramePattern(const std::string& text) {
  std::optional<FramePattern> found;
  auto take = [&](size_t at, size_t length, int width) {
    if (found) throw std::invalid_argument("holds two frame numbers; give one (#### or %04d)");
    if (text.find('/', at + length) != std::string::npos)
      throw std::invalid_argument("the frame number must be in the file's name, not in a folder's");
    found = FramePattern{text.substr(0, at), text.substr(at + length), width};
  };
  for (size_t at = 0; at < text.size();) {
    if (text[at] == '#') {
      const size_t end = std::min(text.find_first_not_of('#', at), text.size());
      if (end - at > 9) throw std::invalid_argument("a frame number of more than 9 digits");
      take(at, end - at, static_cast<int>(end - at));
      at = end;
    } else if (text[at] == '%' && PrintfNumber(text, at)) {
      const auto [length, width] = *PrintfNumber(text, at);
      take(at, length, width);
      at += length;
    } else {
      ++at;
    }
  }
  return found;
}

std::optional<FrameRange> ParseFrameRange(const std::string& text) {
  const size_t dash = text.find('-'), colon = text.find(':');
  const size_t firstEnd = std::min(dash, std::min(colon, text.size()));
  FrameRange range;
  const std::optional<long> first = Digits(text, 0, firstEnd);
  if (!first) return std::nullopt;
  range.first = range.last = *first;
  if (dash == std::string::npos) {
    if (colon != std::string::npos) return std::nullopt;  // a step needs a range
    return range;
  }
  if (colon != std::string::npos && colon < dash) return std::nullopt;
  const std::optional<long> last = Digits(text, dash + 1, std::min(colon, text.size()));
  if (!last || *last < *first) return std::nullopt;
  range.last = *last;
  if (colon != std::string::npos) {
    const std::optional<long> step = Digits(text, colon + 1, text.size());
    if (!step || *step < 1) return std::nullopt;
    range.step = *step;
  }
  return range;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t endA = i, endB = j;
      while (endA < a.size() && IsDigit(a[endA])) ++endA;
      while (endB < b.size() && IsDigit(b[endB])) ++endB;
      // Leading zeros aside, the longer run is the larger number.
      while (i + 1 < endA && a[i] == '0') ++i;
      while (j + 1 < endB && b[j] == '0') ++j;
      if (endA - i != endB - j) return endA - i < endB - j;
      if (const int order = a.compare(i, endA - i, b, j, endB - j); order != 0) return order < 0;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  return a < b;  // "cage01" and "cage1": one order, always the same
}

namespace {

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);  // follows links
}

}  // namespace

std::vector<NumberedFile> FindNumberedFiles(const FramePattern& pattern) {
  const size_t slash = pattern.before.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : pattern.before.substr(0, slash + 1);
  std::vector<NumberedFile> found;
  std::error_code error;
  for (fs::directory_iterator entry(folder.empty() ? "." : folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string path = folder + entry->path().filename().string();
    if (const std::optional<long> number = pattern.number(path); number && IsFile(entry->path()))
      found.push_back({*number, path});
  }
  std::sort(found.begin(), found.end(), [](const NumberedFile& a, const NumberedFile& b) { return a.number < b.number; });
  return found;
}

std::vector<std::string> ObjFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    std::string suffix = entry->path().extension().string();
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
    if (suffix == ".obj" && IsFile(entry->path())) found.push_back(entry->path().string());
  }
  std::sort(found.begin(), found.end(), NaturalLess);
  return found;
}

bool HoldsWildcard(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

std::vector<std::string> FilesMatching(const std::string& pattern) {
  std::vector<std::string> found;
  glob_t matches{};
  if (::glob(pattern.c_str(), GLOB_NOSORT, nullptr, &matches) == 0)
    for (size_t k = 0; k < matches.gl_pathc; ++k)
      if (IsFile(matches.gl_pathv[k])) found.emplace_back(matches.gl_pathv[k]);
  ::globfree(&matches);
  std::sort(found.begin(), found.end(), NaturalLess);
  return found;
}

}  // namespace cli
