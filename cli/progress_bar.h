// Progress on the terminal: a bar redrawn in place when the output is a
// terminal, one plain line per report otherwise (logs, pipes, tests).
#pragma once

#include <cstdio>
#include <string>

namespace cli {

class ProgressBar {
 public:
  // Draws on out; a bar when out is a terminal. A silent bar draws nothing.
  explicit ProgressBar(std::FILE* out, bool silent = false);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // percent is clamped to 0..100; text says what is under way.
  void show(int percent, const std::string& text);
  // Ends the bar's line, so that what is printed next starts on its own.
  void finish();

 private:
  std::FILE* out_;
  bool silent_;
  bool terminal_;
  bool open_ = false;  // a bar is drawn and its line not yet ended
};

}  // namespace cli
