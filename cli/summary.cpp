#include "cli/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace cli {

ErrorsAbove PointsAbove(const driver::BindStatistics& stats, double threshold) {
  ErrorsAbove above;
  for (size_t i = 0; i < stats.pointErrors.size(); ++i) {
    const double error = stats.pointErrors[i];
    if (!(error > threshold)) continue;  // a NaN belongs to a point without weights, counted apart
    above.points.push_back(static_cast<uint32_t>(i));
    if (error > above.largest) {
      above.largest = error;
      above.largestAt = static_cast<uint32_t>(i);
    }
  }
  return above;
}

namespace {

std::string Duration(double seconds) {
  char text[64];
  if (seconds >= 1.0)
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  else
    std::snprintf(text, sizeof text, "%.3g ms", seconds * 1000.0);
  return text;
}

}  // namespace

std::string FrameRate(double framesPerSecond) {
  char text[64];
  std::snprintf(text, sizeof text, framesPerSecond >= 100.0 ? "%.0f frames/s" : "%.3g frames/s", framesPerSecond);
  return text;
}

double RoundedUp(double value) {
  if (!(value > 0.0) || !std::isfinite(value)) return value;
  const double unit = std::pow(10.0, std::floor(std::log10(value)) - 2.0);
  double rounded = std::ceil(value / unit) * unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", rounded);
  if (std::strtod(text, nullptr) < value) rounded += unit;
  return rounded;
}

void PrintSummary(std::FILE* out, const Summary& s) {
  const driver::BindStatistics& b = s.binding;
  std::fprintf(out, "Summary\n");
  std::fprintf(out, "  target            %s: %zu points, %zu polygons\n", s.target.c_str(), b.targetPoints,
               s.targetPolygons);
  std::fprintf(out, "  cage              %s: %zu points, %zu polygons\n", s.cage.c_str(), s.cagePoints, s.cagePolygons);
  if (!s.cageCheck.empty()) std::fprintf(out, "  cage check        %s\n", s.cageCheck.c_str());
  std::fprintf(out, "  points bound      %zu of %zu", b.pointsBound, b.targetPoints);
  if (s.keptAtRest > 0) std::fprintf(out, " (%zu without weights kept where they are)", s.keptAtRest);
  std::fprintf(out, "\n");
  std::fprintf(out, "  weights per point mean %.2f, largest %d\n", b.meanWeights, b.largestWeights);
  if (s.bindSeconds)
    std::fprintf(out, "  bind time         %s (%d samples, weight floor %g, %d threads)\n",
                 Duration(*s.bindSeconds).c_str(), s.samples, s.weightFloor, s.threads);
  else
    std::fprintf(out, "  bind time         none, weights read from %s\n", s.weightsFrom.c_str());
  if (b.floorAboveAll > 0)
    std::fprintf(out, "  weight floor      above every weight of %zu points, which kept their weights unfloored\n",
                 b.floorAboveAll);
  if (!s.frameSeconds.empty()) {
    const double total = std::accumulate(s.frameSeconds.begin(), s.frameSeconds.end(), 0.0);
    const double frames = static_cast<double>(s.frameSeconds.size());
    const double slowest = *std::max_element(s.frameSeconds.begin(), s.frameSeconds.end());
    std::fprintf(out, "  deform time       %s per frame, slowest %s (%zu frames, %d threads)\n",
                 Duration(total / frames).c_str(), Duration(slowest).c_str(), s.frameSeconds.size(), s.threads);
    std::fprintf(out, "  frame loop        %s in all, %s; per frame %s reading, %s deforming, %s writing\n",
                 Duration(s.loopSeconds).c_str(), FrameRate(s.loopSeconds > 0.0 ? frames / s.loopSeconds : 0.0).c_str(),
                 Duration(s.readSeconds / frames).c_str(), Duration(s.deformSeconds / frames).c_str(),
                 Duration(s.writeSeconds / frames).c_str());
  }
  std::fprintf(out, "  rest-pose error   largest %.3g, mean %.3g of the cage's size (bounding-box diagonal %.6g)\n",
               RoundedUp(b.largestError), b.meanError, b.cageSize);
  if (s.keptRestError)
    std::fprintf(out, "  with --keep-rest  largest %.3g of the cage's size (each point keeps its offset)\n",
                 RoundedUp(*s.keptRestError));
  if (!s.written.empty()) {
    std::fprintf(out, "Written\n");
    for (const std::string& file : s.written) std::fprintf(out, "  %s\n", file.c_str());
  }
  std::fflush(out);
}

}  // namespace cli
