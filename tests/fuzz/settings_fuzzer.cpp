// Fuzzes the settings file "Ostrand.ini": its line parser and its reader,
// each against a reference built on the C library.
//
// The input is taken twice:
//   - as one line (up to its first NUL) for ParseThreadsLine, whose answer
//     must be strtoll's reading of the text from the 14th character on, when
//     the line starts with the key, capped at INT_MAX and 0 unless positive;
//   - as the whole settings file for readSettings, which must leave
//     num_threads at the last positive count of the file's lines as fgets
//     cuts them (at most 4094 characters a piece), or untouched.
// Then the count read is written with writeSettings and read back.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host_interface/module_state.h"
#include "shell/settings.h"

namespace {

constexpr char kKey[] = "num_threads:";
constexpr int32_t kUntouched = 987654;  // num_threads before each read

int Reference(const char* line) {
  if (std::strncmp(line, kKey, 12) != 0 || line[12] == '\0') return 0;
  errno = 0;
  const long long value = std::strtoll(line + 13, nullptr, 10);
  if (value <= 0) return 0;
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

void Fail(const char* what, const std::string& text, long long expected, long long got) {
  std::fprintf(stderr, "%s: expected %lld, got %lld for [%s]\n", what, expected, got, text.c_str());
  std::abort();
}

// Never destroyed: the handler that removes the file at exit still reads it.
const std::string& SettingsFile() {
  static const std::string* path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    auto* p = new std::string(std::string(dir) + "/ostrand_settings_fuzz_" + std::to_string(getpid()) + ".ini");
    if (p->size() >= sizeof ostrand::settingsPath) std::abort();
    std::memcpy(ostrand::settingsPath, p->c_str(), p->size() + 1);
    ostrand::logPath[0] = '\0';  // no log lines
    return p;
  }();
  return *path;
}

// What readSettings must make of the file: the pieces fgets gives with a
// 4095-byte buffer, each examined up to its first NUL.
int32_t ExpectedCount(const uint8_t* data, size_t size, int32_t before) {
  int32_t count = before;
  size_t at = 0;
  while (at < size) {
    size_t end = at;
    while (end < size && end - at < 4094 && data[end] != '\n') ++end;
    if (end < size && data[end] == '\n' && end - at < 4094) ++end;  // the line end belongs to the piece
    const std::string piece(reinterpret_cast<const char*>(data + at), end - at);
    const int parsed = Reference(piece.c_str());
    if (parsed > 0) count = parsed;
    at = end;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SettingsFile();
  std::atexit([] { std::remove(SettingsFile().c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = SettingsFile();
  const std::string line(reinterpret_cast<const char*>(data), size);
  const int parsed = ostrand::ParseThreadsLine(line.c_str());
  if (parsed != Reference(line.c_str())) Fail("ParseThreadsLine", line, Reference(line.c_str()), parsed);

  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  ostrand::num_threads = kUntouched;
  ostrand::readSettings();
  const int32_t expected = ExpectedCount(data, size, kUntouched);
  if (ostrand::num_threads != expected) Fail("readSettings", line.substr(0, 200), expected, ostrand::num_threads);

  // What is written is read back.
  const int32_t count = ostrand::num_threads;
  ostrand::writeSettings();
  ostrand::num_threads = 0;
  ostrand::readSettings();
  if (ostrand::num_threads != count)
    Fail("writeSettings and readSettings", line.substr(0, 200), count, ostrand::num_threads);
  return 0;
}
