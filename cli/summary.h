// The figures the command prints at the end of a run: how the target is
// bound, how long binding and deforming took, and how well the weights give
// back the rest pose.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace cli {

struct BindStatistics {
  size_t pointsBound = 0;  // points with at least one weight
  size_t targetPoints = 0;
  double meanWeights = 0.0;  // weights per bound point
  int largestWeights = 0;
  // Distance between a bound point's rest position and the weighted sum of
  // the rest cage, as a fraction of the cage's size (its bounding-box diagonal).
  double largestError = 0.0;
  double meanError = 0.0;
  double cageSize = 0.0;
  // Per target point: its rest-pose error as above; 0 for a point the setup
  // weight map left out (it stays where it is), NaN for one without weights.
  std::vector<double> pointErrors;
  // The points the module holds a row for that has no weight at all: the
  // module would move them to the origin with the cage. Target point indices,
  // ascending.
  std::vector<uint32_t> unbound;
  // Points whose every weight is below the weight floor: the floor was above
  // all of them, so they kept their weights unfloored.
  size_t floorAboveAll = 0;
};

// Reads the module's weights of its one target (never changing them). The
// weighted sums are formed as the evaluation forms them, in stored order.
// weightFloor is the floor the weights were bound with (0: none).
BindStatistics MeasureBinding(const EffectInstance& instance, const host::Mesh& cageRest, const host::Mesh& targetRest,
                              double weightFloor);

// The points whose rest-pose error is above threshold (a fraction of the
// cage's size), as target point indices ascending, and the largest of them.
struct ErrorsAbove {
  std::vector<uint32_t> points;
  uint32_t largestAt = 0;
  double largest = 0.0;
};
ErrorsAbove PointsAbove(const BindStatistics& stats, double threshold);

// The length of the diagonal of the points' bounding box.
double BoundingDiagonal(const std::vector<Vec3>& points);

struct Summary {
  std::string target, cage;  // file names as given
  size_t targetPolygons = 0, cagePoints = 0, cagePolygons = 0;
  std::string cageCheck;  // "clean" or how many findings; "" when not checked
  BindStatistics binding;
  size_t keptAtRest = 0;  // points without weights the run keeps where they are
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
