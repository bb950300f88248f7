// The deformation in offset form: each point keeps its offset from the
// weighted rest cage, so that the cage at rest gives back the rest pose
// exactly and a translated cage moves every point by the translation. The
// module's own deformation moves a point to the weighted sum of the cage,
// which misses the rest pose by the weights' error (the summary's rest-pose
// error); hosts and their scenes rely on that form, so the offset form is the
// driver's, on request.
#pragma once

#include <cstddef>
#include <vector>

#include "host/host.h"

namespace driver {

// points holds the module's unblended deformation S of count target points
// and becomes rest + w (S - restSums) / sum point by point, where restSums is
// the module's unblended deformation with the cage at rest, w the blend
// weight map's value at the point (1 when blend is null) and sum the sum of
// the point's weights (1 when sums is null, or for a point without weights).
// Dividing by the sum is the offset form with the weights renormalised in
// double precision: the weights a file gives back are single precision and
// add up to 1 only within about 4e-8, so without it a cage moved by 10,000
// would move the points by the translation times that sum. A point whose w
// is zero stays exactly at rest, as the module's blended evaluation leaves
// it; at rest, S equals restSums bit for bit, so every point is exactly at rest.
void KeepRest(const Vec3* rest, const Vec3* restSums, const double* sums, const float* blend, size_t count,
              Vec3* points);

// The sum of each target point's weights in the instance's one target, in
// stored order, in double precision; 1 for points without weights.
std::vector<double> WeightSums(const EffectInstance& instance, size_t targetPoints);

}  // namespace driver
