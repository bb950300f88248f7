// Writing a file in full before it takes the place of another, so that a
// failed write never costs the user the file that was there. The host
// stand-in saves its scene files through here, and the command its journal
// and its outputs; the module, which cannot use this library, has its own
// (platform/file_replace.h) under the same rules:
//
// - the whole content goes to a temporary beside the destination (same
//   folder, so the rename is one step);
// - it is flushed to the device before the rename;
// - a failed write, flush, close or rename removes the temporary and leaves
//   the destination exactly as it was;
// - the error names the destination the user knows (not the temporary) with
//   the system's reason.
//
// The last is the caller's to keep: these functions hand back the step that
// failed and the system's reason, and the caller words the message.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace host {

// The step at which a file could not be put in place.
enum class ReplaceStep {
  kNone,    // it is in place
  kCreate,  // the temporary could not be made
  kWrite,   // writing, flushing or closing the temporary failed
  kMove,    // the temporary could not take the destination's place
};

// How a replacement ended: the step that failed (kNone: none did) and the
// system's reason.
struct ReplaceResult {
  ReplaceStep failed = ReplaceStep::kNone;
  std::error_code reason;
};

// Writes content as the whole file at destination through temporary, a name
// in the same folder: written, flushed to the device, closed, then moved over
// destination. A file already under the temporary name is overwritten.
ReplaceResult ReplaceFile(const std::string& destination, const std::string& temporary, std::string_view content);

// Moves a finished temporary over destination in one step: the last step of
// ReplaceFile, for a temporary some other writer made. On failure the
// temporary is removed (a folder under its name is not a temporary, and
// stays) and destination is as it was. The flush is the caller's.
std::error_code MoveFileOver(const std::string& temporary, const std::string& destination);

}  // namespace host
