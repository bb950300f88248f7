// The cage check: what in a cage keeps target points from being bound well,
// told in a line per kind of fault. `ostrand check` prints it; `bind` and
// `run` print it before binding, and the Python module's bind warns of it.
//
// Findings number points and faces as the user reads them in the OBJ file,
// counting from 1: point n is the n-th `v` line, face n the n-th `f` line. An
// edge is written as its two point numbers, "3-7", in the direction the first
// face using it runs along it. Each finding gives at most 5 examples, then
// "...". Edges are told apart by point number, so two points at the same
// place do not join their faces (the inside test does join them). Faces that
// pass through each other are found as checks/self_intersection.h tells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "ostrand/types.h"

namespace checks {

// The module's fixed tolerances bind cages whose size (bounding-box diagonal)
// lies within these. Measured on the bundled example scaled up and down, the
// rest-pose error stays at 0.0004 of the size from 0.09 to 5e7, is 0.0006 at
// 0.045, 0.002 at 0.022 and 0.008 at 0.013, and jumps to 0.3 above 6e7.
inline constexpr double kSmallestCageSize = 0.02;
inline constexpr double kLargestCageSize = 1e7;

// How far from the origin a cage binds as well as at it, in sizes from its
// bounding box's centre. Rounding grows with the coordinates while the cage
// does not, so the loss follows the distance over the size, whatever the
// scale: measured on the bundled example moved along (0.6, 0.64, 0.48) and
// along x, at scales 0.1 to 1000, and on a cube around a sphere, the largest
// rest-pose error is within 5 % of its value at the origin up to 1000 sizes
// away, 4 to 10 % above it at 2000, 12 to 27 % at 5000, 33 to 59 % at 10000,
// twice it at 20000 and 9 times at 100000, and grows in proportion to the
// distance from there (0.075 of the size at 2.2 million sizes).
inline constexpr double kFarthestCageDistance = 2000;

// One finding, for a program to read: its kind ("boundary_edges",
// "non_manifold_edges", "misoriented_faces", "one_sided_parts",
// "intersecting_faces", "flat", "inward", "degenerate_faces",
// "non_finite_points", "size", "far_from_origin", "no_faces",
// "points_outside"), how many edges, faces, pairs of faces, parts or points
// it counts (1 for one about the whole cage), the first of them (at most 5)
// as indices from 0 (an edge as its two points in the direction its line
// gives, a pair of faces as both, anything else alone), and its line.
struct CageFinding {
  std::string kind;
  size_t count = 0;
  std::vector<std::vector<uint32_t>> examples;
  std::string line;
};

struct CageCheck {
  // One line each, in a fixed order; empty when the cage is clean (and every
  // target point inside).
  std::vector<std::string> findings;
  std::vector<CageFinding> found;  // the same findings, in the same order
  size_t boundaryEdges = 0;     // undirected edges used by one face only
  size_t nonManifoldEdges = 0;  // undirected edges used by more than two faces
  size_t misorientedFaces = 0;  // the smaller side of each consistently orientable part
  size_t oneSidedParts = 0;     // parts that cannot be oriented consistently
  size_t degenerateFaces = 0;   // repeated corners, corners at one place, no area, bad corners
  size_t nonFinitePoints = 0;
  size_t crossingFacePairs = 0;  // pairs of faces that pass through each other
  double size = 0.0;    // bounding-box diagonal of the finite points (infinite beyond double's range)
  double centreDistance = 0.0;  // from the origin to the bounding box's centre (infinite beyond double's range)
  double volume = 0.0;  // signed volume of the faces as given (infinite beyond double's range)
  bool farFromOrigin = false;  // the centre lies more than kFarthestCageDistance sizes from the origin
  // The faces point inward: a closed, consistently oriented cage that does not
  // pass through itself and has a negative volume.
  bool inward = false;
  bool flat = false;    // no volume: points in a plane, or a closed cage enclosing nothing that does not pass through itself
  bool closed = false;  // faces, and no boundary and no non-manifold edges
  // With a target:
  bool hasTarget = false;
  size_t targetPoints = 0;
  size_t outsidePoints = 0;
  std::vector<uint8_t> outside;  // per target point, 1 = outside
  // The most likely reason target points are bound badly or not at all, as a
  // phrase ("the cage is open (12 boundary edges)", "the cage is flat",
  // "the cage passes through itself (3 pairs of faces intersect)", "1234
  // points lie outside the cage"); "" when there is none.
  std::string likelyCause;
};

// Checks the cage and, when target is given, which of its points lie outside
// (generalised winding number, |w| >= 0.5 inside; checks/cage_interior.h), on
// `threads` threads (0 or less: one per processor). The result does not depend
// on the thread count. Any mesh is taken: faces with bad corners are findings.
CageCheck CheckCage(const host::Mesh& cage, const std::vector<Vec3>* target, int threads);

// The line printed for a clean cage: "cage check: closed, consistently oriented
// outward, no self-intersections, no degenerate faces", and "; all N target
// points inside" with a target.
std::string CleanCageLine(const CageCheck& check);

}  // namespace checks
