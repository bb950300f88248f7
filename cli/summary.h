// What the command prints at the end of a run: the figures of how the target
// is bound, how long binding and deforming took, and how well the weights
// give back the rest pose; then the warnings.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "checks/warnings.h"
#include "driver/bind_statistics.h"

namespace cli {

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

// The run's warnings, "ostrand: warning: LINE" each, on stderr after stdout
// is flushed.
void PrintWarnings(const checks::Warnings& warnings);

}  // namespace cli
