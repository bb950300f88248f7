#include "cli/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {
constexpr int kBarWidth = 30;
}  // namespace

ProgressBar::ProgressBar(std::FILE* out, bool silent)
    : out_(out), silent_(silent), terminal_(::isatty(::fileno(out)) == 1) {}

ProgressBar::~ProgressBar() { finish(); }

std::string ShownBytes(double bytes) {
  const char* units[] = {"bytes", "kB", "MB", "GB", "TB"};
  int unit = 0;
  while (bytes >= 1000.0 && unit < 4) {
    bytes /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.3g %s", bytes, units[unit]);
  return text;
}

void ProgressBar::timed() {
  timed_ = true;
  stageStart_ = std::chrono::steady_clock::now();
}

namespace {

// ", about 12 s left", ", about 3 min left"; "" while too early to tell.
std::string TimeLeft(double elapsed, int percent) {
  if (elapsed < 2.0 || percent <= 0 || percent >= 100) return "";
  const double left = elapsed * (100.0 - percent) / percent;
  char text[48];
  if (left < 90.0)
    std::snprintf(text, sizeof text, ", about %.0f s left", std::max(1.0, left));
  else if (left < 5400.0)
    std::snprintf(text, sizeof text, ", about %.0f min left", left / 60.0);
  else
    std::snprintf(text, sizeof text, ", about %.1f h left", left / 3600.0);
  return text;
}

}  // namespace

void ProgressBar::show(int percent, const std::string& given) {
  if (silent_) return;
  percent = std::clamp(percent, 0, 100);
  const std::string text =
      timed_ ? given + TimeLeft(std::chrono::duration<double>(std::chrono::steady_clock::now() - stageStart_).count(),
                                percent)
             : given;
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
