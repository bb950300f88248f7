// Converting the weights-file path to and from a path relative to the base
// directory. Both conversions work on bounded copies of their inputs, so no
// input, however long or odd, makes them read or write outside a buffer.
#include "operations/relative_path.h"

#include <cstring>

namespace ostrand {
namespace {

// A working path: the current text is text + start, length characters long,
// NUL-terminated. Dropping leading characters only moves start, so the
// component loop does not copy the path each time round.
struct WorkPath {
  char text[kMaxWorkPathLength + 1];
  size_t start;
  size_t length;

  const char* cStr() const { return text + start; }
  char at(size_t i) const { return text[start + i]; }
};

void Assign(WorkPath& path, const char* source, size_t limit) {
  size_t n = strnlen(source, limit);
  std::memcpy(path.text, source, n);
  path.text[n] = '\0';
  path.start = 0;
  path.length = n;
}

void DropFront(WorkPath& path, size_t n) {
  if (n > path.length) n = path.length;
  path.start += n;
  path.length -= n;
}

// Puts "..<sep>" in front. When the path is full, its end is cut so that it
// keeps at most kMaxWorkPathLength characters.
void PrependParentStep(WorkPath& path, char separator) {
  const char step[3] = {'.', '.', separator};
  if (path.start >= 3) {
    path.start -= 3;
    std::memcpy(path.text + path.start, step, 3);
    path.length += 3;
    return;
  }
  size_t keep = path.length < kMaxWorkPathLength - 3 ? path.length : kMaxWorkPathLength - 3;
  std::memmove(path.text + 3, path.text + path.start, keep);
  std::memcpy(path.text, step, 3);
  path.start = 0;
  path.length = keep + 3;
  path.text[path.length] = '\0';
}

// Appends n characters of text to output (size >= 1 bytes, used < size of
// them so far), as many as fit before the final NUL, and terminates it. text
// may lie inside output.
void AppendBounded(char* output, size_t size, size_t& used, const char* text, size_t n) {
  size_t room = size - 1 - used;
  if (n > room) n = room;
  std::memmove(output + used, text, n);
  used += n;
  output[used] = '\0';
}

void CopyOut(char* output, size_t outputSize, const char* text, size_t n) {
  if (outputSize == 0) return;
  size_t used = 0;
  AppendBounded(output, outputSize, used, text, n);
}

// Index of the last separator among the first n characters, or n when there is none.
size_t LastSeparator(const char* text, size_t n, char separator) {
  for (size_t i = n; i > 0; --i)
    if (text[i - 1] == separator) return i - 1;
  return n;
}

}  // namespace

void MakeRelativePathIn(PathStyle style, FILE* trace, char* output, size_t outputSize, const char* base,
                        const char* full) {
  const char sep = style.separator;
  // A full path on another drive (or an empty one) cannot be made relative.
  if (full[0] != base[0]) {
    CopyOut(output, outputSize, full, strnlen(full, kMaxWorkPathLength));
    return;
  }

  // The base with exactly one separator at its end, so that every base
  // component, the last included, is followed by one.
  WorkPath work;
  Assign(work, base, kMaxWorkPathLength);
  if (work.length == 0 || work.text[work.length - 1] != sep) {
    if (work.length == kMaxWorkPathLength) --work.length;
    work.text[work.length++] = sep;
    work.text[work.length] = '\0';
  }
  WorkPath file;
  Assign(file, full, kMaxWorkPathLength);

  if (trace) std::fprintf(trace, "STARTING\nwork_file %s\nwork_content %s\n", file.cStr(), work.cStr());

  // Once one component differs, the path has left the base directory, and
  // once the path has ended it has nothing more to share: either way every
  // later base component is one more step up, whatever its name.
  bool parted = false;
  while (work.length > 0) {
    const char* slash = static_cast<const char*>(std::memchr(work.cStr(), sep, work.length));
    if (slash == nullptr) break;
    const size_t i = static_cast<size_t>(slash - work.cStr());
    const size_t prefix = file.length < i ? file.length : i;
    if (trace) {
      std::fprintf(trace, "\nITERATION\nslash_index %d\n", static_cast<int>(i));
      std::fprintf(trace, "cmp1 %.*s\n", static_cast<int>(prefix), file.cStr());
      std::fprintf(trace, "cmp2 %.*s\n", static_cast<int>(i), work.cStr());
    }
    // The component is shared only when the full path has it whole: the same
    // characters, then a separator or the end (base "ab" is not in "abc").
    const bool shared = !parted && file.length >= i && std::memcmp(file.cStr(), work.cStr(), i) == 0 &&
                        (file.length == i || file.at(i) == sep);
    DropFront(work, i + 1);
    if (shared) {
      if (trace) std::fputs("compare true\n", trace);
      parted = file.length == i;
      DropFront(file, i + 1);
    } else {
      if (trace) std::fputs("compare false\n", trace);
      parted = true;
      PrependParentStep(file, sep);
    }
    if (trace) std::fprintf(trace, "work_content %s\nwork_file %s\n", work.cStr(), file.cStr());
  }
  // What is left may itself read as absolute ("/x" from "/a//x" with base
  // "/a"); stored so, it would not lead back to the file, the full path does.
  if (IsAbsolutePath(file.cStr(), style)) {
    Assign(file, full, kMaxWorkPathLength);
  }
  CopyOut(output, outputSize, file.cStr(), file.length);
}

void ResolveRelativePathIn(PathStyle style, char* output, size_t outputSize, const char* base, const char* stored) {
  const char sep = style.separator;
  if (IsAbsolutePath(stored, style)) {
    CopyOut(output, outputSize, stored, strnlen(stored, kMaxWorkPathLength));
    return;
  }

  WorkPath work;
  Assign(work, base, kMaxWorkPathLength);
  if (work.length > 0 && work.text[work.length - 1] == sep) work.text[--work.length] = '\0';
  WorkPath file;
  Assign(file, stored, kMaxWorkPathLength);

  // Each step up drops the base's last component; at the first component
  // ("C:", or the empty root of a POSIX path) there is nothing left to drop
  // and further steps are only consumed.
  while (file.length >= 3 && file.at(0) == '.' && file.at(1) == '.' && file.at(2) == sep) {
    DropFront(file, 3);
    work.length = LastSeparator(work.text, work.length, sep);
    work.text[work.length] = '\0';
  }

  if (outputSize == 0) return;
  size_t used = 0;
  output[0] = '\0';
  AppendBounded(output, outputSize, used, work.text, work.length);
  AppendBounded(output, outputSize, used, &sep, 1);
  AppendBounded(output, outputSize, used, file.cStr(), file.length);
}

void MakeRelativePath(char* output, size_t outputSize, const char* base, const char* full) {
  MakeRelativePathIn(kPlatformPaths, stdout, output, outputSize, base, full);
}

void ResolveRelativePath(char* output, size_t outputSize, const char* base, const char* stored) {
  ResolveRelativePathIn(kPlatformPaths, output, outputSize, base, stored);
}

}  // namespace ostrand
