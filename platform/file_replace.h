// Writing a file in full before it takes the place of another, so that a
// failed write never costs the user the file that was there. The module
// writes its weights file through here; the host stand-in and the command
// have their own (host/file_replace.h, which the module cannot use), under the
// same rules:
//
// - the whole content goes to a temporary beside the destination (same
//   folder, so the rename is one step);
// - it is flushed to the device before the rename;
// - a failed write, flush, close or rename removes the temporary and leaves
//   the destination exactly as it was;
// - the error names the destination the user knows (not the temporary) with
//   the system's reason.
//
// Every step reports failure as an errno value (0: done), for the caller to
// name in a message with the destination; on Windows the system's codes are
// mapped to the nearest errno. Removing the temporary is the caller's too.
#pragma once

#include <cstddef>
#include <cstdio>

namespace ostrand {

// Writes size bytes; a short write is an error (EIO when the library sets no errno).
int WriteFileBytes(FILE* stream, const void* bytes, size_t size);

// Flushes the stream and asks the system to put its data on the device, so
// that the replacement that follows never leaves an empty file after a crash.
int FlushFileToDevice(FILE* stream);

// Closes the stream; it is gone even when this reports an error.
int CloseFile(FILE* stream);

// Puts the file at from in the place of the one at to, in one step: either
// to names the new file or, on failure, it is exactly as it was (and from is
// still there, for the caller to remove).
int MoveFileOver(const char* from, const char* to);

// The steps tests can make fail.
enum class FileStep { kWrite, kFlush, kClose, kReplace, kCount };

// Failure injection for tests, like SetAllocationFailure: the n-th call of
// step from now on (0 = the next one) fails with error, without doing
// anything (a close still closes); a negative n switches it off. Returns the
// number of calls of that step since the last call for it.
long SetFileFailure(FileStep step, long n, int error);

}  // namespace ostrand
