#include "cli/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace cli {

double BoundingDiagonal(const std::vector<Vec3>& points) {
  if (points.empty()) return 0.0;
  Vec3 low = points[0], high = points[0];
  for (const Vec3& p : points) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  return std::hypot(high.x - low.x, high.y - low.y, high.z - low.z);
}

BindStatistics MeasureBinding(const EffectInstance& instance, const host::Mesh& cageRest, const host::Mesh& targetRest,
                              double weightFloor) {
  BindStatistics stats;
  stats.targetPoints = targetRest.points.size();
  stats.cageSize = BoundingDiagonal(cageRest.points);
  stats.pointErrors.assign(stats.targetPoints, 0.0);
  if (instance.Mode != 0 || instance.Targets == nullptr || instance.Targets->count < 1) return stats;
  const TargetEntry& target = instance.Targets->records[0];
  if (target.WeightCounts == nullptr || target.WeightOffsets == nullptr || target.PointIndices == nullptr) return stats;

  const size_t cagePoints = cageRest.points.size();
  double errorSum = 0.0;
  long weightSum = 0;
  for (uint32_t i = 0; i < target.ActiveCount; ++i) {
    const size_t point = target.PointIndices[i];
    if (point >= stats.targetPoints) continue;
    const int32_t n = target.WeightCounts[i];
    const int32_t begin = target.WeightOffsets[i];
    if (n <= 0) {
      stats.unbound.push_back(static_cast<uint32_t>(point));
      stats.pointErrors[point] = NAN;
      continue;
    }
    ++stats.pointsBound;
    weightSum += n;
    stats.largestWeights = std::max(stats.largestWeights, n);
    double x = 0.0, y = 0.0, z = 0.0;
    double heaviest = -INFINITY;
    for (int32_t k = begin; k < begin + n; ++k) {
      const auto corner = static_cast<size_t>(target.CageIndices[k]);
      const Vec3& p = corner < cagePoints ? cageRest.points[corner] : Vec3{NAN, NAN, NAN};
      const double w = target.Weights[k];
      heaviest = std::max(heaviest, target.Weights[k]);
      x += w * p.x;
      y += w * p.y;
      z += w * p.z;
    }
    if (weightFloor > 0.0 && heaviest < weightFloor) ++stats.floorAboveAll;
    const Vec3& rest = targetRest.points[point];
    double error = std::hypot(x - rest.x, y - rest.y, z - rest.z);
    errorSum += error;
    // A NaN error is the largest there is.
    if (!(error <= stats.largestError)) stats.largestError = error;
    stats.pointErrors[point] = stats.cageSize > 0.0 ? error / stats.cageSize : error;
  }
  std::sort(stats.unbound.begin(), stats.unbound.end());
  if (stats.pointsBound > 0) {
    stats.meanWeights = static_cast<double>(weightSum) / static_cast<double>(stats.pointsBound);
    stats.meanError = errorSum / static_cast<double>(stats.pointsBound);
  }
  if (stats.cageSize > 0.0) {
    stats.largestError /= stats.cageSize;
    stats.meanError /= stats.cageSize;
  }
  return stats;
}

ErrorsAbove PointsAbove(const BindStatistics& stats, double threshold) {
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
  const BindStatistics& b = s.binding;
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
  if (!s.written.empty()) {
    std::fprintf(out, "Written\n");
    for (const std::string& file : s.written) std::fprintf(out, "  %s\n", file.c_str());
  }
  std::fflush(out);
}

}  // namespace cli
