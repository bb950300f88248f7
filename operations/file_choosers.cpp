// The save and open dialogs for the weights file.
#include "operations/file_choosers.h"

#include <cstring>

#include "platform/file_dialog.h"
#include "host_interface/messages.h"

namespace ostrand {
namespace {

// Two entries, each a shown name and a pattern, ending with an empty string.
// The literal's own NUL supplies the second NUL of the final pair.
constexpr char kFilter[] = "Vivirirov Weights \0*.cw\0All\0*.*\0";

constexpr uint32_t kSaveFlags = 0x2002;  // OFN_OVERWRITEPROMPT | OFN_CREATEPROMPT
constexpr uint32_t kOpenFlags = 0x1800;  // OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST

int32_t ChooseFile(EffectInstance* instance, bool save) {
  // The current path, when there is one, is the dialog's initial name: as
  // much of it as ends within the dialog's nMaxFile characters (the path
  // itself need not end within its buffer).
  char file[kDialogFileBufferSize] = {};
  std::memcpy(file, instance->WeightsPath, strnlen(instance->WeightsPath, kDialogFileBufferSize - 2));

  OstrandOpenFileName request;
  std::memset(&request, 0, sizeof request);
  request.lStructSize = sizeof request;
  request.lpstrFilter = kFilter;
  request.nFilterIndex = 1;
  request.lpstrFile = file;
  // One byte short of the buffer: the last byte stays 0 whatever the dialog does.
  request.nMaxFile = kDialogFileBufferSize - 1;
  request.Flags = save ? kSaveFlags : kOpenFlags;
  request.lpstrDefExt = save ? "cw" : nullptr;

  int32_t chosen = save ? ShowSaveDialog(&request) : ShowOpenDialog(&request);
  // An answer that does not end within the dialog's part of the buffer was
  // cut (or the dialog misbehaved); it names no file we could rely on.
  if (chosen != 0 && std::memchr(file, '\0', kDialogFileBufferSize - 1) == nullptr) chosen = 0;
  if (chosen == 0) {
    ShowError(0, "Weird error with file dialog!");
    return 0;
  }
  std::memcpy(instance->WeightsPath, file, std::strlen(file) + 1);
  return 1;
}

}  // namespace

int32_t ChooseSaveFile(EffectInstance* instance) { return ChooseFile(instance, true); }

int32_t ChooseOpenFile(EffectInstance* instance) { return ChooseFile(instance, false); }

}  // namespace ostrand
