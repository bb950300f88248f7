// Progress on the terminal: a bar redrawn in place when the output is a
// terminal, one plain line per report otherwise (logs, pipes, tests).
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace cli {

// "1.5 kB", "627 kB", "156 MB": a size as progress and messages show it.
std::string ShownBytes(double bytes);

class ProgressBar {
 public:
  // Draws on out; a bar when out is a terminal. A silent bar draws nothing.
  explicit ProgressBar(std::FILE* out, bool silent = false);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // percent is clamped to 0..100; text says what is under way. Within a
  // timed stage, the time left is added once it can be estimated (after 2 s,
  // from the rate so far).
  void show(int percent, const std::string& text);
  // Starts timing a stage whose percentages follow; untimed() ends it.
  void timed();
  void untimed() { timed_ = false; }
  // Ends the bar's line, so that what is printed next starts on its own.
  void finish();

 private:
  std::FILE* out_;
  bool silent_;
  bool terminal_;
  bool open_ = false;  // a bar is drawn and its line not yet ended
  bool timed_ = false;
  std::chrono::steady_clock::time_point stageStart_;
};

}  // namespace cli
