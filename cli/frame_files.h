// The files of a frame sequence: numbered names ("cage.####.obj",
// "cage.%04d.obj"), the frame ranges the user picks, and the files of a
// folder or a wildcard pattern in natural order ("2" before "10").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// The largest frame number: nine digits.
inline constexpr long kLargestFrame = 999999999;

// A file name with a frame number in it: before, the number padded with zeros
// to width digits, after. The number is in the file's name, not a folder's.
struct FramePattern {
  std::string before, after;
  int width = 1;

  std::string name(long number) const;
  // The number of a name this pattern gives, exactly as name() writes it
  // ("cage.0012.obj" is 12 for "cage.####.obj"; "cage.12.obj" is not one).
  std::optional<long> number(const std::string& path) const;
  // The pattern in printf's form: "cage.%04d.obj", "cage%d.obj".
  std::string printfText() const;
};

// The frame number in text: a run of '#' (as many digits at least) or
// printf's %d or %0Nd. None when text holds neither. Throws
// std::invalid_argument saying what is wrong: two numbers, or one in a
// folder's name.
std::optional<FramePattern> FindFramePattern(const std::string& text);

// Frames first to last (inclusive), every step-th.
struct FrameRange {
  long first = 0, last = 0, step = 1;
  bool holds(long number) const { return number >= first && number <= last && (number - first) % step == 0; }
};

// "A-B", "A-B:STEP" or "A", whole numbers 0 to kLargestFrame with A <= B and
// STEP >= 1; none when text is not one of these.
std::optional<FrameRange> ParseFrameRange(const std::string& text);

// Natural order: runs of digits compare as numbers ("cage2" before
// "cage10"), everything else byte by byte.
bool NaturalLess(const std::string& a, const std::string& b);

struct NumberedFile {
  long number;
  std::string path;
};
// The files the pattern names that are there, by number ascending.
std::vector<NumberedFile> FindNumberedFiles(const FramePattern& pattern);

// The ".obj" files in folder (not below it), in natural order.
std::vector<std::string> ObjFilesIn(const std::string& folder);

// Whether text holds a wildcard (*, ? or [).
bool HoldsWildcard(const std::string& text);
// The files a wildcard pattern matches ("frames/*/cage.obj"), in natural
// order of their paths; folders are left out.
std::vector<std::string> FilesMatching(const std::string& pattern);

}  // namespace cli
