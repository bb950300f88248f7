// The winding number of a set of triangles at a point (the sum of their
// solid angles over 4 pi), exactly, or estimated over a hierarchy with a
// bound on the error: a group of triangles seen from far away counts by the
// first two terms of its expansion around its middle (its area vector, and
// the moments of its area about the middle), with the third bounded.
#pragma once

#include <vector>

#include "checks/triangle_tree.h"
#include "ostrand/types.h"

namespace checks {

class SolidAngleTree {
 public:
  explicit SolidAngleTree(std::vector<TreeTriangle> triangles);

  struct Estimate {
    double value = 0.0;
    double error = 0.0;  // the winding number lies within value +- error
  };
  // Groups whose bounding sphere has a radius below `opening` times their
  // distance count by their expansion; nearer ones are opened, down to the
  // triangles. Smaller openings cost more and err less.
  Estimate estimate(const Vec3& p, double opening) const;
  double exact(const Vec3& p) const;

 private:
  struct Moments {
    Vec3 centre{0, 0, 0};  // of the node's box; the sphere around the box has
    double radius = 0.0;   // this radius
    Vec3 area{0, 0, 0};    // the sum of the triangles' area vectors
    double moment[3][3] = {};  // the sum of (centroid - centre)_j * area_i, at [j][i]
    double size = 0.0;     // the sum of their areas
  };
  TriangleTree tree_;
  std::vector<Moments> moments_;  // by node
};

}  // namespace checks
