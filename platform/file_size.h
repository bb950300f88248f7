// The size of an open file, for bounding what a file may make us allocate.
#pragma once

#include <cstdint>
#include <cstdio>

namespace ostrand {

// The number of bytes of the file behind stream, read by seeking to its end;
// the stream is left at its start. -1 when the stream cannot seek (a pipe, for
// instance). 64-bit on every platform, so that files above 2 GiB are measured
// on Windows too.
int64_t FileSize(FILE* stream);

}  // namespace ostrand
