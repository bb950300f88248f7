#include "cli/progress_bar.h"

#include <unistd.h>

#include <algorithm>

namespace cli {

namespace {
constexpr int kBarWidth = 30;
}  // namespace

ProgressBar::ProgressBar(std::FILE* out, bool silent)
    : out_(out), silent_(silent), terminal_(::isatty(::fileno(out)) == 1) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::show(int percent, const std::string& text) {
  if (silent_) return;
  percent = std::clamp(percent, 0, 100);
  if (!terminal_) {
    std::fprintf(out_, "%3d%%  %s\n", percent, text.c_str());
    std::fflush(out_);
    return;
  }
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  // Back to the line's start and clear it, so a shorter text leaves no tail.
  std::fprintf(out_, "\r\033[K[%s] %3d%%  %s", bar.c_str(), percent, text.c_str());
  std::fflush(out_);
  open_ = true;
}

void ProgressBar::finish() {
  if (!open_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  open_ = false;
}

}  // namespace cli
