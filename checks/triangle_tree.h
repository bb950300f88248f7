// A hierarchy of boxes over triangles, the signed count of the triangles a
// ray crosses, for the cage check's inside test, and the triangles near a
// box, for its search for faces that cross.
#pragma once

#include <cstdint>
#include <vector>

#include "ostrand/types.h"

namespace checks {

// A point this close to a triangle is on it (in the check's frame, where the
// cage's largest half-extent is 0.5 to 1).
inline constexpr double kOnSurface = 1e-10;

struct TreeTriangle {
  Vec3 a, b, c;
  bool cap = false;  // closes a hole of the cage rather than being one of its faces
  int32_t id = -1;   // the caller's number for it, which the tree's order loses
};

struct TreeNode {
  double lo[3], hi[3];  // a box around its triangles, padded by 1e-9
  int32_t first;  // a leaf's first triangle; an inner node's second child (the first follows the node)
  int32_t count;  // a leaf's triangles, 0 for an inner node
};

// Split at the median of the triangles' centroids along the longest axis,
// down to 4 triangles a leaf. The same triangles give the same tree.
struct TriangleTree {
  std::vector<TreeTriangle> triangles;  // in the tree's order
  std::vector<TreeNode> nodes;          // the root first; empty without triangles
};
TriangleTree BuildTriangleTree(std::vector<TreeTriangle> triangles);

enum class RayOutcome {
  kCounted,    // count holds the signed crossings
  kOnSurface,  // the point lies on a triangle that is no cap
  kAmbiguous,  // the ray passes within a hair of an edge or corner, or the point lies on a cap
};

// The signed count of the triangles the ray from p along the unit direction
// d crosses: +1 where it leaves through a triangle's front (the side its
// normal (b - a) x (c - a) points to), -1 through its back. Triangles
// without area are passed over: their edges are those of the triangles
// beside them, which tell.
RayOutcome CountCrossings(const TriangleTree& tree, const Vec3& p, const Vec3& d, int* count);

// The triangles (their places in tree.triangles) of the leaves
// whose boxes meet the box from lo to hi: every triangle whose own box meets
// it is among them. found is cleared first.
void TrianglesNear(const TriangleTree& tree, const Vec3& lo, const Vec3& hi, std::vector<int32_t>* found);

}  // namespace checks
