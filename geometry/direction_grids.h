// Candidate lists by direction. Every ray of a calculation goes along one of
// a few sample directions, so for each direction the cage's triangles are
// laid out once on a grid across it: a line along that direction is a point
// on the grid, and the triangles it can meet are those listed in its cell.
// A ray then finds its candidates by looking up one cell instead of walking
// the hierarchy, already in the exhaustive search's order, and only those
// whose outline the line passes near, not every one whose box it touches.
//
// Why a cell holds every triangle a ray along its direction can hit. A ray
// test that reports only points of its line (see cage_bvh_candidates.cpp)
// reports a hit only where the line passes within its rounding of the
// triangle. Carry the triangle onto the grid's two axes, unit and at right
// angles to the direction: on this shadow, the line is the single point its
// origin falls on (up to the rounding of the axes, some 1e-16 of the
// distances along the line), and that point then lies within the test's
// rounding of the triangle's shadow. The grid lists a triangle, row of cells
// by row, in every cell across the shadow's span within the row, row and
// span both widened by an allowance far above all that rounding (that of an
// origin within reach included). Cell numbers are computed by the same
// monotone rounding for the lists and for every lookup, and rows are taken
// wider than that rounding, so an origin near the shadow is looked up in a
// cell that lists the triangle.
#pragma once

#include <cstdint>

#include "geometry/cage_bvh.h"
#include "ostrand/types.h"

namespace ostrand {

// A triangle listed in a cell, with its greatest corner coordinate along the
// direction (its depth) rounded up to a float: beside the number, so that
// one memory read brings both. Rounded up, a depth never makes a triangle
// look wholly behind an origin it is not behind.
struct GridEntry {
  int32_t triangle;  // CageBvh::triangles number
  float depth;
};

// The grid across one direction. Without `starts` (too many cells would
// be listed) the direction has no grid.
struct DirectionGrid {
  double across[2][3];  // two unit axes at right angles to the direction
  double low[2];        // where cell 0 starts along each axis
  double high[2];       // where the last cell ends
  double perUnit[2];    // cells per unit of length along each axis
  int32_t cells[2];     // cells along each axis
  double along[3];      // the direction, of unit length
  int32_t* starts;      // cells[0] * cells[1] + 1 offsets into `entries`, cell by cell (axis 0 fastest)
  GridEntry* entries;   // each cell's triangles, ascending and once each
  double* shadows;      // each cage point on the two axes across, as the triangles were listed from
};

// One grid per direction, in the directions' order; shared read-only by all
// threads of a calculation.
struct DirectionGrids {
  DirectionGrid* grids;
  // What a lookup reads of each grid, field by field across the directions
  // (kGridFields arrays of `count` doubles), for looking up many at once.
  double* fields;
  int32_t count;
  double reach;      // origins with a coordinate beyond this in magnitude are not looked up
  double allowance;  // the widening of every shadow, far above rounding
};

// Grids cost memory and time in proportion to directions x (triangles +
// cage points); beyond this many, a calculation goes without them.
inline constexpr int64_t kDirectionGridBudget = int64_t{1} << 21;

// Builds a grid for each of `count` directions over the hierarchy's
// triangles (CageBvh::triangles, numbered as there), from the `pointCount`
// cage `positions` the hierarchy was built from. Returns false, with grids
// emptied and nothing held, when the memory cannot be had, when the
// hierarchy holds no triangles or unbounded ones (every ray is offered
// those, outside any list), or when a direction is zero or not finite.
bool BuildDirectionGrids(const CageBvh& bvh, const Vec3* positions, uint32_t pointCount, const Vec3* directions,
                         int32_t count, DirectionGrids* grids);

// BuildDirectionGrids in steps, so that directions can be built on several
// threads at once: StartDirectionGrids checks what BuildDirectionGrids
// checks and makes `count` empty grids (false, with grids empty, when it
// cannot); then BuildDirectionGridRange builds directions [first, end),
// ranges that do not overlap on any threads at once. A range that returns
// false leaves the grids to be freed.
bool StartDirectionGrids(const CageBvh& bvh, const Vec3* positions, const Vec3* directions, int32_t count,
                         DirectionGrids* grids);
bool BuildDirectionGridRange(const CageBvh& bvh, const Vec3* positions, uint32_t pointCount, const Vec3* directions,
                             int32_t first, int32_t end, DirectionGrids* grids);

// Frees and empties; harmless on empty or zero-initialised grids.
void FreeDirectionGrids(DirectionGrids* grids);

// What a lookup found: the triangles a ray from the origin along the
// direction the grid was built for can hit, ascending and once each (every
// triangle the ray test could report a hit on is among them); and what tells
// which of them lie wholly behind the origin: a depth below `behind`, which
// lies the allowance behind the origin's own depth, far beyond the rounding
// of either.
struct GridLookup {
  const GridEntry* entries;
  int32_t count;
  double behind;
  const int32_t* cell;  // between FindGridCell and ReadGridCell: the cell's offsets, or null
  const double* shadows;  // DirectionGrid::shadows
  double at[2];           // the origin on the two axes across
  double allowance;       // DirectionGrids::allowance
};

// Whether the line of a looked-up ray passes farther than the allowance
// from the triangle with these cage points as
// corners: an edge of the triangle's shadow has the origin's shadow beyond
// it by more than that, on the side away from the shadow. The ray test then
// reports no hit on it, for the reason the cells list the triangles they
// list: a cell that held only such triangles would not list it at all.
bool PassesWide(const GridLookup& found, const int32_t corners[3]);

inline bool WhollyBehind(const GridLookup& found, const GridEntry& entry) {
  return static_cast<double>(entry.depth) < found.behind;
}

// Looks up the ray from origin along sample direction `direction`. Returns
// false when the grid cannot answer for the ray (no grid for the direction,
// an origin beyond reach or not finite); the caller then collects through
// the hierarchy.
bool GridCandidates(const DirectionGrids& grids, int32_t direction, const Vec3& origin, GridLookup* found);

// GridCandidates in two halves, for looking up many rays at once so that
// their memory reads overlap: FindGridCell works out the cell and asks for
// its offsets to be fetched, without reading them; ReadGridCell, called
// later with what FindGridCell filled, reads them and asks for the cell's
// list. Together they answer as GridCandidates does.
bool FindGridCell(const DirectionGrids& grids, int32_t direction, const Vec3& origin, GridLookup* found);
void ReadGridCell(GridLookup* found);

// FindGridCell for directions first to first + count - 1 at once, into
// found[k] and onGrid[k] (its answer) for direction first + k.
void FindGridCells(const DirectionGrids& grids, int32_t first, int32_t count, const Vec3& origin, GridLookup* found,
                   bool* onGrid);

}  // namespace ostrand
