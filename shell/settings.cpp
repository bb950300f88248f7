#include "shell/settings.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "host_interface/host_function_table.h"
#include "host_interface/module_state.h"
#include "platform/paths.h"

namespace ostrand {
namespace {

constexpr const char kKey[] = "num_threads:";
constexpr size_t kKeyLength = sizeof kKey - 1;

void BuildPath(char* out, const char* name) {
  char pluginPath[kPathBufferSize] = {0};
  FX(fxPluginPath)(pluginPath, kPathBufferSize, 0);
  pluginPath[kPathBufferSize - 1] = '\0';
  PathBeside(out, kPathBufferSize, pluginPath, name);
}

}  // namespace

bool PathBeside(char* out, size_t outSize, const char* path, const char* name) {
  const char* slash = std::strrchr(path, kPathSeparator);
  size_t directory = slash ? static_cast<size_t>(slash - path) + 1 : std::strlen(path);
  size_t length = std::strlen(name);
  if (directory + length + 1 > outSize) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, path, directory);
  std::memcpy(out + directory, name, length + 1);
  return true;
}

void BuildFilePaths() {
  BuildPath(logPath, "ostrand.log");
  BuildPath(settingsPath, "Ostrand.ini");
}

void appendLogLine(const char* text) {
  if (logPath[0] == '\0') return;
  FILE* log = std::fopen(logPath, "a");
  if (log == nullptr) return;
  std::fputs(text, log);
  std::fclose(log);
}

void EmptyLog() {
  if (logPath[0] == '\0') return;
  FILE* log = std::fopen(logPath, "w");
  if (log != nullptr) std::fclose(log);
}

int ParseThreadsLine(const char* line) {
  if (std::strncmp(line, kKey, kKeyLength) != 0) return 0;
  // The number starts behind the character that follows the colon, where the
  // writer puts a space; a line that ends there has no number.
  if (line[kKeyLength] == '\0') return 0;
  const char* p = line + kKeyLength + 1;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) value = INT_MAX;  // saturate rather than overflow
  }
  if (negative || value <= 0) return 0;
  return static_cast<int>(value);
}

void readSettings() {
  FILE* file = settingsPath[0] ? std::fopen(settingsPath, "r") : nullptr;
  appendLogLine(settingsPath);
  appendLogLine("\n");
  if (file != nullptr) {
    char line[4095];
    while (std::fgets(line, sizeof line, file) != nullptr) {
      int count = ParseThreadsLine(line);
      if (count > 0) num_threads = count;
    }
    std::fclose(file);
    return;
  }
  if (settingsPath[0] == '\0') return;
  file = std::fopen(settingsPath, "w");
  if (file == nullptr) return;
  num_threads = 4;
  std::fputs("num_threads: 4\n", file);
  std::fputs("def_device: 1\n", file);
  std::fclose(file);
}

void writeSettings() {
  if (settingsPath[0] == '\0') return;
  FILE* file = std::fopen(settingsPath, "w");
  if (file == nullptr) return;
  char line[264];
  std::snprintf(line, sizeof line, "num_threads: %d\n", num_threads.load());
  std::fputs(line, file);
  std::fclose(file);
}

}  // namespace ostrand
