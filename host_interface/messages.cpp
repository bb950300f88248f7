#include "host_interface/messages.h"

#include <cstdarg>
#include <cstdio>

#include "host_interface/host_function_table.h"
#include "ostrand/protocol.h"

namespace ostrand {

void ShowError(uint32_t effectId, const char* text) {
  if (HostFunctionTable[HF_fxMessageSend] == nullptr) return;
  FX(fxMessageSend)(effectId, "Ostrand.mp", kMessageKindError, text, "Error");
}

void ShowErrorFormat(uint32_t effectId, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ShowError(effectId, text);
}

}  // namespace ostrand
