// The dialog suppliers a program hosting the module exports where there is no
// common dialog library: the module finds GetSaveFileNameA and GetOpenFileNameA
// in the process and calls them with a Windows request record. They answer
// from the current Host's dialog script and record each request.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "ostrand/file_dialog.h"

namespace {

// The filter is pairs of NUL-terminated texts ended by an empty one.
std::vector<std::string> SplitFilter(const char* filter) {
  std::vector<std::string> parts;
  if (!filter) return parts;
  for (const char* part = filter; *part; part += std::strlen(part) + 1) parts.emplace_back(part);
  return parts;
}

std::string InitialFile(const OstrandOpenFileName& request) {
  if (!request.lpstrFile || request.nMaxFile == 0) return "";
  return std::string(request.lpstrFile, strnlen(request.lpstrFile, request.nMaxFile));
}

int32_t Answer(OstrandOpenFileName* request, bool save) {
  host::Host* current = host::Host::currentOrNull();
  if (!current || !request) return 0;
  host::DialogScript& script = current->dialogs();
  const OstrandOpenFileName& r = *request;
  script.requests.push_back({save, r.lStructSize, SplitFilter(r.lpstrFilter), r.nFilterIndex, InitialFile(r),
                             r.nMaxFile, r.Flags, r.lpstrDefExt ? r.lpstrDefExt : "", r.lpstrDefExt != nullptr,
                             r.hwndOwner == nullptr, r.lpstrInitialDir == nullptr, r.lpstrTitle == nullptr});
  if (script.answers.empty()) return 0;
  const std::optional<std::string> answer = script.answers.front();
  script.answers.pop_front();
  if (!answer) return 0;

  std::string path = *answer;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  auto extensionDot = [&path, nameStart] {
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || dot < nameStart ? std::string::npos : dot;
  };
  if (save && r.lpstrDefExt && *r.lpstrDefExt && extensionDot() == std::string::npos && nameStart < path.size())
    path += std::string(".") + r.lpstrDefExt;
  // Like the real dialog, a buffer too small for the answer fails the request
  if (!request->lpstrFile || path.size() + 1 > request->nMaxFile) return 0;
  std::memcpy(request->lpstrFile, path.c_str(), path.size() + 1);
  const size_t dot = extensionDot();
  request->nFileOffset = static_cast<uint16_t>(std::min<size_t>(nameStart, 0xFFFF));
  request->nFileExtension =
      static_cast<uint16_t>(std::min<size_t>(dot == std::string::npos ? path.size() : dot + 1, 0xFFFF));
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t GetSaveFileNameA(OstrandOpenFileName* request) {
  try {
    return Answer(request, true);
  } catch (...) {
    return 0;
  }
}

extern "C" __attribute__((visibility("default"))) int32_t GetOpenFileNameA(OstrandOpenFileName* request) {
  try {
    return Answer(request, false);
  } catch (...) {
    return 0;
  }
}
