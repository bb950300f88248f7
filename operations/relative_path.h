// Converting the weights-file path to and from a path relative to the host's
// base directory, so that a scene can carry it.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/paths.h"

namespace ostrand {

// Working copies of the conversions hold at most this many characters; longer
// inputs are cut to it.
inline constexpr size_t kMaxWorkPathLength = 4095;

// Writes into output (outputSize bytes, always NUL-terminated when outputSize
// is at least 1) the form of the full path to store with a scene: the full path
// with the base directory's shared leading components removed, and one "..\"
// step (or "../" where paths use '/') for each base component from the first
// unshared one on. A component is shared only when the full path has exactly
// that component there (followed by a separator or its end). A full path whose
// first character differs from the base directory's (another drive, an empty
// path) is copied unchanged, and so is one whose remainder would itself read
// as an absolute path (a doubled separator after the shared part, a colon as
// second character). Writes the trace of the comparison to standard
// output. base and full are NUL-terminated or readable for 4095 bytes; only
// their first 4095 characters count, and a result longer than outputSize - 1
// characters is cut. output may be one of the inputs.
void MakeRelativePath(char* output, size_t outputSize, const char* base, const char* full);

// Writes into output (outputSize bytes, always NUL-terminated when outputSize
// is at least 1) the full path named by a stored path: an absolute stored path
// unchanged, otherwise the base directory (without one final separator), less
// one trailing component per leading "..\" step of the stored path (never
// climbing above the base directory's first component), then one separator and
// the rest of the stored path. Inputs as for MakeRelativePath; never fails.
void ResolveRelativePath(char* output, size_t outputSize, const char* base, const char* stored);

// The same in a given path form; the trace goes to trace (null: no trace).
void MakeRelativePathIn(PathStyle style, FILE* trace, char* output, size_t outputSize, const char* base,
                        const char* full);
void ResolveRelativePathIn(PathStyle style, char* output, size_t outputSize, const char* base, const char* stored);

}  // namespace ostrand
