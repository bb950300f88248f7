// How well the module's weights of its one target give back the rest pose,
// and which points they leave without weights: read from the instance record,
// never changing it.
#pragma once

#include <cstdint>
#include <vector>

#include "host/host.h"

namespace driver {

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

// The length of the diagonal of the points' bounding box.
double BoundingDiagonal(const std::vector<Vec3>& points);

// Points without weights (BindStatistics::unbound), which the module's
// deformation moves to the origin with the cage, put back where they are at
// rest: frame holds the deformed target's points, rest.size() of them.
void KeepUnboundAtRest(const std::vector<uint32_t>& points, const std::vector<Vec3>& rest, Vec3* frame);

}  // namespace driver
