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
  size_t pointsBound = 0;
  size_t targetPoints = 0;
  double meanWeights = 0.0;  // weights per bound point
  int largestWeights = 0;
  // Distance between a bound point's rest position and the weighted sum of
  // the rest cage, as a fraction of the cage's size (its bounding-box diagonal).
  double largestError = 0.0;
  double meanError = 0.0;
  double cageSize = 0.0;
};

// Reads the module's weights of its one target (never changing them). The
// weighted sums are formed as the evaluation forms them, in stored order.
BindStatistics MeasureBinding(const EffectInstance& instance, const host::Mesh& cageRest, const host::Mesh& targetRest);

// The length of the diagonal of the points' bounding box.
double BoundingDiagonal(const std::vector<Vec3>& points);

struct Summary {
  std::string target, cage;  // file names as given
  size_t targetPolygons = 0, cagePoints = 0, cagePolygons = 0;
  BindStatistics binding;
  std::optional<double> bindSeconds;  // when bound in this run
  int samples = 0;
  double weightFloor = 0.0;
  std::string weightsFrom;  // else: where the weights came from
  int threads = 0;
  std::vector<double> frameSeconds;
  std::vector<std::string> written;  // files, in the order written
};

void PrintSummary(std::FILE* out, const Summary& summary);

}  // namespace cli
