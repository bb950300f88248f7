// The figures the command prints at the end of a run: how the target is
// bound, how long binding and deforming took, and how well the weights give
// back the rest pose.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "driver/bind_statistics.h"

namespace cli {


// The points whose rest-pose error is above threshold (a fraction of the
// cage's size), as target point indices ascending, and the largest of them.
struct ErrorsAbove {
  std::vector<uint32_t> points;
  uint32_t largestAt = 0;
  double largest = 0.0;
};
ErrorsAbove PointsAbove(const driver::BindStatistics& stats, double threshold);

struct Summary {
  std::string target, cage;  // file names as given
  size_t targetPolygons = 0, cagePoints = 0, cagePolygons = 0;
  std::string cageCheck;  // "clean" or how many findings; "" when not checked
  driver::BindStatistics binding;
  size_t keptAtRest = 0;  // points without weights the run keeps where they are
  std::optional<double> keptRestError;  // with --keep-rest: the rest-pose error in that form
  std::optional<double> bindSeconds;  // when bound in this run
  int samples = 0;
  double weightFloor = 0.0;
  std::string weightsFrom;  // else: where the weights came from
  int threads = 0;
  std::vector<double> frameSeconds;  // the module's evaluation of each frame
  // The frame loop: in all, and its parts summed over the frames: reading
  // the posed cages, deforming (posing the cage, the evaluation, reading the
  // points back) and writing the outputs.
  double loopSeconds = 0.0, readSeconds = 0.0, deformSeconds = 0.0, writeSeconds = 0.0;
  std::vector<std::string> written;  // files, in the order written
};

void PrintSummary(std::FILE* out, const Summary& summary);

// "161 frames/s", "2.5 frames/s".
std::string FrameRate(double framesPerSecond);

// The value rounded up to three significant digits, so that the printed
// figure is a bound the true one stays within.
double RoundedUp(double value);

}  // namespace cli
