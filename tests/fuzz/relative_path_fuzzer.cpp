// Fuzzes both path conversions in both path forms.
//
// Input: one byte of options (bit 0: POSIX form; bits 1-3: output size), one
// byte giving where the rest splits into base directory and full path, then
// the bytes of both. Every call gets heap buffers of exactly the sizes its
// contract names, so that AddressSanitizer sees any read or write outside
// them. The same bytes, mapped onto path components of a small alphabet, must
// also survive the round trip: resolving what MakeRelativePath stored gives
// the full path back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "operations/relative_path.h"

namespace {

using ostrand::PathStyle;

FILE* NullTrace() {
  static FILE* trace = std::fopen("/dev/null", "w");
  return trace;
}

void Fail(const char* what, const std::string& base, const std::string& full, const std::string& got) {
  std::fprintf(stderr, "%s\nbase [%s]\nfull [%s]\ngot  [%s]\n", what, base.c_str(), full.c_str(), got.c_str());
  std::abort();
}

// An input as the conversions may meet it: NUL-terminated in a heap block of
// exactly its size, or, when it is at least 4095 bytes long, not terminated
// at all (the callers promise either).
std::vector<char> Input(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  if (size < ostrand::kMaxWorkPathLength) text.push_back('\0');
  return text;
}

std::string Checked(const std::vector<char>& out, const char* what) {
  if (out.empty()) return "";
  const char* end = static_cast<const char*>(std::memchr(out.data(), '\0', out.size()));
  if (end == nullptr) Fail(what, "", "", "output not terminated");
  return std::string(out.data(), end);
}

// Path text from fuzz bytes: components of 'a'-'c' separated by separators,
// doubled separators allowed; never "." or "..", never a colon.
std::string Components(const uint8_t* data, size_t size, char separator) {
  static const char alphabet[] = {'a', 'b', 'c', 's'};
  std::string text;
  for (size_t i = 0; i < size && text.size() < 200; ++i) {
    char c = alphabet[data[i] & 3];
    text += c == 's' ? separator : c;
  }
  return text;
}

void RoundTrip(PathStyle style, const uint8_t* base, size_t baseSize, const uint8_t* full, size_t fullSize) {
  const char sep = style.separator;
  const std::string root = style.driveLetters ? std::string("C:") + sep : std::string(1, sep);
  const std::string b = root + Components(base, baseSize, sep);
  const std::string f = root + Components(full, fullSize, sep);
  char stored[2048], resolved[6144];
  ostrand::MakeRelativePathIn(style, nullptr, stored, sizeof stored, b.c_str(), f.c_str());
  ostrand::ResolveRelativePathIn(style, resolved, sizeof resolved, b.c_str(), stored);
  // A full path that ends where a base component ends comes back as that
  // directory, with a separator at its end.
  if (f != resolved && f + sep != resolved) Fail("round trip", b, f, std::string(stored) + " -> " + resolved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const PathStyle style = (data[0] & 1) ? ostrand::kPosixPaths : ostrand::kWindowsPaths;
  static const size_t kOutputSizes[] = {0, 1, 2, 7, 64, 1024, 2048, 6144};
  const size_t outputSize = kOutputSizes[(data[0] >> 1) & 7];
  const uint8_t* rest = data + 2;
  const size_t restSize = size - 2;
  const size_t split = restSize == 0 ? 0 : (size_t{data[1]} * 37) % (restSize + 1);

  const std::vector<char> base = Input(rest, split);
  const std::vector<char> full = Input(rest + split, restSize - split);
  std::vector<char> out(outputSize);
  ostrand::MakeRelativePathIn(style, NullTrace(), out.data(), out.size(), base.data(), full.data());
  const std::string stored = Checked(out, "MakeRelativePath");
  std::vector<char> resolved(outputSize);
  ostrand::ResolveRelativePathIn(style, resolved.data(), resolved.size(), base.data(), full.data());
  Checked(resolved, "ResolveRelativePath");
  // The stored form resolved again, in the largest buffer a caller uses.
  std::vector<char> back(6144);
  ostrand::ResolveRelativePathIn(style, back.data(), back.size(), base.data(), (stored + '\0').c_str());
  Checked(back, "ResolveRelativePath of a stored path");

  RoundTrip(style, rest, split, rest + split, restSize - split);
  return 0;
}
