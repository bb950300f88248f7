// Thin triangles cut into pieces before the hierarchy is built over them.
//
// A long thin triangle lying across the axes (a spoke of the fan that
// closes a many-sided polygon) has a box far larger than itself: most lines
// through the box miss the triangle, yet each costs a host ray test. Cut
// along its length, each piece gets a box close to the piece, and a line
// touches the boxes of few of them. A triangle may then sit in several
// leaves; the pieces of one triangle cover it whole, so a line that meets
// the triangle touches the box of at least one of its pieces.
#pragma once

#include <cstdint>

#include "geometry/bvh_box.h"
#include "geometry/cage_bvh.h"
#include "ostrand/types.h"

namespace ostrand {

// A part of triangle number `triangle` (CageBvh::triangles) and a box that
// holds it.
struct BvhPiece {
  BvhBox box;
  int32_t triangle;
};

// Whether the triangle's box has more than kPieceBoxRatio times its area, so
// that CutThinTriangles may cut it.
bool IsThin(const CageTriangle& triangle, const Vec3* positions);

// Cuts thin triangles into pieces, the piece whose box wastes the most area
// first, until no piece's box has more than kPieceBoxRatio times the area of
// its part of the triangle, or the pieces fill `capacity`. pieces[0, count)
// holds one piece per triangle with its whole box on entry; cut pieces
// replace them or follow them. Every box stays inside its triangle's box,
// widened for the rounding of the cut by far less than the hierarchy's
// margin (kPieceWidening * magnitude, the largest |coordinate| of any
// corner). Returns the new count; needs scratch for `capacity` heap entries,
// and cuts nothing when that cannot be had.
int32_t CutThinTriangles(const CageTriangle* triangles, const Vec3* positions, double magnitude, BvhPiece* pieces,
                         int32_t count, int32_t capacity);

// Writes a leaf's pieces, order[0, count) into pieces, as leaf entries: one
// per triangle, in ascending triangle order, each with the box around the
// triangle's pieces there. Reorders order; returns the entries written.
int32_t WriteLeafEntries(const BvhPiece* pieces, int32_t* order, int32_t count, BvhEntry* entries);

inline constexpr double kPieceBoxRatio = 4.0;
// Pieces a cut may add, per triangle boxed.
inline constexpr int32_t kExtraPieces = 3;
inline constexpr double kPieceWidening = 1e-12;

}  // namespace ostrand
