// How file paths are written on the platform the module runs on.
//
// Windows paths use the backslash and start with a drive letter and colon;
// elsewhere paths use '/' and an absolute path starts with '/'. The path
// conversions take the form as a parameter, so that both forms can be checked
// on any build; the module itself always passes kPlatformPaths.
#pragma once

namespace ostrand {

struct PathStyle {
  char separator;
  bool driveLetters;  // true: absolute paths start with "X:" (or "\\" for a network path)
};

inline constexpr PathStyle kWindowsPaths{'\\', true};
inline constexpr PathStyle kPosixPaths{'/', false};

#ifdef _WIN32
inline constexpr PathStyle kPlatformPaths = kWindowsPaths;
#else
inline constexpr PathStyle kPlatformPaths = kPosixPaths;
#endif

inline constexpr char kPathSeparator = kPlatformPaths.separator;

// True when path (NUL-terminated) names a file independently of any base
// directory. Windows form: a colon as second character (a drive such as "C:"),
// or two leading separators (a network path "\\server\share"). POSIX form: a
// leading '/'. A path shorter than two characters is never absolute in the
// Windows form. Reads at most the first two characters.
inline bool IsAbsolutePath(const char* path, PathStyle style) {
  if (!style.driveLetters) return path[0] == style.separator;
  if (path[0] == '\0') return false;
  if (path[1] == ':') return true;
  return path[0] == style.separator && path[1] == style.separator;
}

}  // namespace ostrand
