// Messages the module shows the user through the host.
#pragma once

#include <cstdint>

namespace ostrand {

// The module's error message: sender "Ostrand.mp", kind kMessageKindError,
// caption "Error".
void ShowError(uint32_t effectId, const char* text);

// The same with a printf-style text (truncated to 1023 characters).
void ShowErrorFormat(uint32_t effectId, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace ostrand
