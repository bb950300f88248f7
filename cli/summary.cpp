#include "cli/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "checks/rest_errors.h"

namespace cli {

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

void PrintWarnings(const checks::Warnings& warnings) {
  std::fflush(stdout);
  for (const std::string& line : warnings.lines()) std::fprintf(stderr, "ostrand: warning: %s\n", line.c_str());
  std::fflush(stderr);
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
               checks::RoundedUp(b.largestError), b.meanError, b.cageSize);
  if (s.keptRestError)
    std::fprintf(out, "  with --keep-rest  largest %.3g of the cage's size (each point keeps its offset)\n",
                 checks::RoundedUp(*s.keptRestError));
  if (!s.written.empty()) {
    std::fprintf(out, "Written\n");
    for (const std::string& file : s.written) std::fprintf(out, "  %s\n", file.c_str());
  }
  std::fflush(out);
}

}  // namespace cli
