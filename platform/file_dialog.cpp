// The file dialogs of the platform. On Windows they are the common dialogs of
// comdlg32; elsewhere the hosting program exports functions of the same names
// and the module finds them at call time, so that loading never depends on them.
#include "platform/file_dialog.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: commdlg.h needs its types.
#include <commdlg.h>

#include <cstddef>
#else
#include <dlfcn.h>
#endif

namespace ostrand {
namespace {

FileDialogFn saveOverride = nullptr;
FileDialogFn openOverride = nullptr;

#ifdef _WIN32

// Our request record is the Windows 64-bit layout itself.
static_assert(sizeof(OPENFILENAMEA) == sizeof(OstrandOpenFileName));
static_assert(offsetof(OPENFILENAMEA, lpstrFile) == offsetof(OstrandOpenFileName, lpstrFile));
static_assert(offsetof(OPENFILENAMEA, Flags) == offsetof(OstrandOpenFileName, Flags));
static_assert(offsetof(OPENFILENAMEA, lpstrDefExt) == offsetof(OstrandOpenFileName, lpstrDefExt));
static_assert(offsetof(OPENFILENAMEA, FlagsEx) == offsetof(OstrandOpenFileName, FlagsEx));

int32_t PlatformDialog(bool save, OstrandOpenFileName* request) {
  auto* native = reinterpret_cast<OPENFILENAMEA*>(request);
  return (save ? GetSaveFileNameA(native) : GetOpenFileNameA(native)) ? 1 : 0;
}

#else

int32_t PlatformDialog(bool save, OstrandOpenFileName* request) {
  void* address = dlsym(RTLD_DEFAULT, save ? "GetSaveFileNameA" : "GetOpenFileNameA");
  if (address == nullptr) return 0;
  return reinterpret_cast<FileDialogFn>(address)(request);
}

#endif

}  // namespace

int32_t ShowSaveDialog(OstrandOpenFileName* request) {
  return saveOverride ? saveOverride(request) : PlatformDialog(true, request);
}

int32_t ShowOpenDialog(OstrandOpenFileName* request) {
  return openOverride ? openOverride(request) : PlatformDialog(false, request);
}

void SetFileDialogsForTesting(FileDialogFn save, FileDialogFn open) {
  saveOverride = save;
  openOverride = open;
}

}  // namespace ostrand
