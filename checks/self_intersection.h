// Faces of a cage that pass through each other, for the cage check.
//
// Each face is split into the fan of triangles from its first corner, as the
// inside test splits it. Two triangles cross when each has corners on both
// sides of the other's plane and the two meet the line common to both planes
// along more than kOnSurface (checks/triangle_tree.h): the surface then passes
// through itself along that piece of line. Faces that only touch do not
// cross: along a shared edge, at a shared corner unless they also meet beyond
// it, at a point, or lying on each other in one plane (two cages side by
// side, face to face). A corner within kOnSurface of a plane counts as on it.
#pragma once

#include <cstdint>
#include <vector>

#include "ostrand/types.h"

namespace checks {

// Two faces by number, from 0, the lower first.
struct FacePair {
  int32_t first = 0, second = 0;
  bool operator==(const FacePair&) const = default;
};

// The pairs of faces with triangles that cross, ordered by the first face,
// then the second; the triangles of one face are not compared with each
// other. points are in the check's frame (checks/cage_interior.h), where the
// cage's largest half-extent is from 0.5 to 1. Faces with fewer than 3
// corners, or a corner naming no point or a point that is not finite, are
// passed over, and so are triangles whose doubled area is at most minArea.
// Runs on `threads` threads (0 or less: one per processor); the result does
// not depend on the count.
std::vector<FacePair> CrossingFaces(const std::vector<std::vector<int32_t>>& faces, const std::vector<Vec3>& points,
                                    double minArea, int threads);

}  // namespace checks
