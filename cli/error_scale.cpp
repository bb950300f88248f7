#include "cli/error_scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace cli {
namespace {

// Evenly spaced stops of the scale, interpolated in between: lightness grows
// steadily from the first to the last while the hue turns from violet through
// blue and green to yellow.
constexpr std::array<Rgb, 9> kScaleStops{{
    {68, 1, 84},
    {71, 45, 123},
    {59, 82, 139},
    {44, 114, 142},
    {33, 144, 140},
    {39, 173, 129},
    {93, 200, 99},
    {170, 220, 50},
    {253, 231, 37},
}};

}  // namespace

Rgb ScaleColor(double fraction) {
  const double t = fraction > 0.0 ? std::min(fraction, 1.0) : 0.0;
  const double position = t * (kScaleStops.size() - 1);
  const size_t low = std::min(static_cast<size_t>(position), kScaleStops.size() - 2);
  const double along = position - static_cast<double>(low);
  const Rgb& a = kScaleStops[low];
  const Rgb& b = kScaleStops[low + 1];
  auto channel = [along](uint8_t from, uint8_t to) {
    return static_cast<uint8_t>(std::lround(from + (to - from) * along));
  };
  return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

double ScaleTop(double requested, const std::vector<double>& errors) {
  if (std::isfinite(requested) && requested > 0.0) return requested;
  double largest = 0.0;
  for (const double error : errors)
    if (std::isfinite(error)) largest = std::max(largest, error);
  return largest > 0.0 ? largest : 0.01;
}

Rgb ErrorColor(double error, double top) {
  if (!std::isfinite(error)) return kNoWeightsColor;
  if (error > top) return kOverTopColor;
  return ScaleColor(error / top);
}

std::string ScaleLabel(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

int ErrorLegendHeight(int textScale) { return 34 * textScale; }

void DrawErrorLegend(Canvas& canvas, int y, int textScale, int dotRadius, Rgb ink, const ErrorLegend& legend) {
  const int s = textScale, left = 8 * s;
  const std::string title = "rest-pose error / cage size";
  canvas.drawText(left, y + 2 * s, title, s, ink);

  // The bar, framed, with a tick and a number below its ends and middle
  const int barTop = y + 12 * s, barHeight = 6 * s;
  const int barWidth = std::max(16, std::min(200 * s, canvas.width() / 4));
  for (int i = 0; i < barWidth; ++i)
    canvas.fillRect(left + i, barTop, 1, barHeight, ScaleColor(static_cast<double>(i) / (barWidth - 1)));
  int blockRight = left + std::max(barWidth, TextWidth(title, s));
  for (int k = 0; k <= 2; ++k) {
    const int x = left + (barWidth - 1) * k / 2;
    canvas.fillRect(x, barTop + barHeight, std::max(1, s / 2), 2 * s, ink);
    const std::string label = k == 0 ? "0" : ScaleLabel(legend.top * k / 2.0);
    const int width = TextWidth(label, s);
    const int labelLeft = k == 0 ? x : x - width / 2;
    canvas.drawText(labelLeft, barTop + barHeight + 3 * s, label, s, ink);
    blockRight = std::max(blockRight, labelLeft + width);
  }

  // The other entries, one a row, beside the scale
  const int x = std::max(canvas.width() / 2, blockRight + 16 * s);
  int row = y + 2 * s;
  auto entry = [&](const std::string& text) {
    canvas.drawText(x + 12 * s, row, text, s, ink);
    row += 10 * s;
  };
  if (legend.overTop > 0) {
    canvas.fillRect(x, row, 8 * s, 6 * s, kOverTopColor);
    entry(std::to_string(legend.overTop) + " above " + ScaleLabel(legend.top));
  }
  if (legend.outside > 0) {
    // Drawn whatever lies under it
    canvas.drawDot({x + 4.0 * s, row + 3.0 * s, 0.0}, dotRadius, kOutsideDot, kOutsideRing, INFINITY);
    entry(std::to_string(legend.outside) + " outside the cage");
  }
  if (legend.noWeights > 0) {
    canvas.fillRect(x, row, 8 * s, 6 * s, kNoWeightsColor);
    entry(std::to_string(legend.noWeights) + " without weights");
  }
}

}  // namespace cli
