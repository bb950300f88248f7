// The colours of the error picture and its legend: a perceptually uniform
// scale from 0 (dark violet) through blue and green to its top (yellow),
// whose lightness grows all the way, so that a larger error always reads as
// lighter; a red for errors above the top and a magenta for points without
// weights, neither of which the scale holds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/raster.h"

namespace cli {

constexpr Rgb kOverTopColor{215, 38, 30};
constexpr Rgb kNoWeightsColor{255, 0, 255};
// A point outside the cage: a white dot in a black ring, seen on every colour.
constexpr Rgb kOutsideDot{255, 255, 255};
constexpr Rgb kOutsideRing{0, 0, 0};

// The scale's colour at fraction (0 to 1, clamped; NaN reads as 0).
Rgb ScaleColor(double fraction);

// The top of the scale for errors: requested when it is a positive finite
// number, else the largest finite error, else 0.01.
double ScaleTop(double requested, const std::vector<double>& errors);

// An error's colour on the scale from 0 to top (a negative error reads as
// 0): kOverTopColor above top, kNoWeightsColor when the error is not finite.
Rgb ErrorColor(double error, double top);

// A number of the legend, to three significant digits: "0", "0.005", "1e-05".
std::string ScaleLabel(double value);

// What the legend tells besides the scale: the points above its top, those
// outside the cage and those without weights. An entry whose count is 0 is
// left out.
struct ErrorLegend {
  double top = 0.01;
  size_t overTop = 0;
  size_t outside = 0;
  size_t noWeights = 0;
};

// The height of the legend's band, for text drawn at textScale.
int ErrorLegendHeight(int textScale);

// Draws the legend in the band from y down, across the canvas: the scale as
// a bar with its ends and middle labelled on the left, the other entries
// (a swatch or dot and their count) stacked to its right.
void DrawErrorLegend(Canvas& canvas, int y, int textScale, int dotRadius, Rgb ink, const ErrorLegend& legend);

}  // namespace cli
