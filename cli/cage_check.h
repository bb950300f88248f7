// The cage check: what in a cage keeps target points from being bound well,
// told in a line per kind of fault. `ostrand check` prints it; `bind` and
// `run` print it before binding.
//
// Findings number points and faces as the user reads them in the OBJ file,
// counting from 1: point n is the n-th `v` line, face n the n-th `f` line. An
// edge is written as its two point numbers, "3-7", in the direction the first
// face using it runs along it. Each finding gives at most 5 examples, then
// "...". Edges are told apart by point number, so two points at the same
// place do not join their faces (the inside test does join them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "ostrand/types.h"

namespace cli {

// The module's fixed tolerances bind cages whose size (bounding-box diagonal)
// lies within these. Measured on the bundled example scaled up and down, the
// rest-pose error stays at 0.0004 of the size from 0.09 to 5e7, is 0.0006 at
// 0.045, 0.002 at 0.022 and 0.008 at 0.013, and jumps to 0.3 above 6e7.
inline constexpr double kSmallestCageSize = 0.02;
inline constexpr double kLargestCageSize = 1e7;

struct CageCheck {
  // One line each, in a fixed order; empty when the cage is clean (and every
  // target point inside).
  std::vector<std::string> findings;
  size_t boundaryEdges = 0;     // undirected edges used by one face only
  size_t nonManifoldEdges = 0;  // undirected edges used by more than two faces
  size_t misorientedFaces = 0;  // the smaller side of each consistently orientable part
  size_t oneSidedParts = 0;     // parts that cannot be oriented consistently
  size_t degenerateFaces = 0;   // repeated corners, corners at one place, no area, bad corners
  size_t nonFinitePoints = 0;
  double size = 0.0;    // bounding-box diagonal of the finite points (infinite beyond double's range)
  double volume = 0.0;  // signed volume of the faces as given (infinite beyond double's range)
  bool inward = false;  // the faces point inward overall (told when the cage is closed or the volume is clear)
  bool flat = false;    // no volume: points in a plane, or a closed cage enclosing nothing
  bool closed = false;  // faces, and no boundary and no non-manifold edges
  // With a target:
  bool hasTarget = false;
  size_t targetPoints = 0;
  size_t outsidePoints = 0;
  std::vector<uint8_t> outside;  // per target point, 1 = outside
  // The most likely reason target points are bound badly or not at all, as a
  // phrase ("the cage is open (12 boundary edges)", "the cage is flat",
  // "1234 points lie outside the cage"); "" when there is none.
  std::string likelyCause;
};

// Checks the cage and, when target is given, which of its points lie outside
// (generalised winding number, |w| >= 0.5 inside; cli/cage_interior.h), on
// `threads` threads (0 or less: one per processor). The result does not depend
// on the thread count. Any mesh is taken: faces with bad corners are findings.
CageCheck CheckCage(const host::Mesh& cage, const std::vector<Vec3>* target, int threads);

// The line printed for a clean cage: "cage check: closed, consistently oriented
// outward, no degenerate faces", and "; all N target points inside" with a target.
std::string CleanCageLine(const CageCheck& check);

}  // namespace cli
