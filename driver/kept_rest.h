// The deformation in offset form: each point keeps its offset from the
// weighted rest cage, so that the cage at rest gives back the rest pose
// exactly and a translated cage moves every point by the translation. The
// module's own deformation moves a point to the weighted sum of the cage,
// which misses the rest pose by the weights' error (the summary's rest-pose
// error); hosts and their scenes rely on that form, so the offset form is the
// driver's, on request.
#pragma once

#include <cstddef>

#include "host/host.h"

namespace driver {

// points holds the module's unblended deformation S of count target points
// and becomes rest + w (S - restSums) point by point, where restSums is the
// module's unblended deformation with the cage at rest and w the blend weight
// map's value at the point (1 when blend is null). A point whose w is zero
// stays exactly at rest, as the module's blended evaluation leaves it; at
// rest, S equals restSums bit for bit, so every point is exactly at rest.
void KeepRest(const Vec3* rest, const Vec3* restSums, const float* blend, size_t count, Vec3* points);

}  // namespace driver
