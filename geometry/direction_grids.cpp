#include "geometry/direction_grids.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host_interface/memory.h"

namespace ostrand {
namespace {

// Cells of a grid for each triangle, at first; a direction whose shadows
// would be listed more often than kListedPerTriangle times a triangle and 4
// times a cell takes half as many cells, down to kFewestCellsPerTriangle,
// and no grid below that.
constexpr double kCellsPerTriangle = 8.0;
constexpr double kFewestCellsPerTriangle = 1.0;
constexpr int64_t kListedPerTriangle = 32;
constexpr double kReachOverMagnitude = 4.0;
// Rounding of the axes, the shadows, the cell numbers and the crossings:
// some 1e-15 of the coordinates involved, far below this share of them.
constexpr double kNoise = 1e-12;

double Dot(const double a[3], const Vec3& p) { return a[0] * p.x + a[1] * p.y + a[2] * p.z; }

// The fields of DirectionGrids::fields: the axes across and along, where
// the cells start and end, cells per unit and the last cell, per axis. A
// direction without a grid has no cells: its low above its high.
enum GridField {
  kAcross0X, kAcross0Y, kAcross0Z, kAcross1X, kAcross1Y, kAcross1Z, kAlongX, kAlongY, kAlongZ,
  kLow0, kLow1, kHigh0, kHigh1, kPerUnit0, kPerUnit1, kLastCell0, kLastCell1, kGridFields
};

void SetFields(const DirectionGrid& grid, int32_t s, int32_t count, double* fields) {
  auto set = [&](GridField f, double value) { fields[int64_t{f} * count + s] = value; };
  for (int c = 0; c < 3; ++c) {
    set(static_cast<GridField>(kAcross0X + c), grid.across[0][c]);
    set(static_cast<GridField>(kAcross1X + c), grid.across[1][c]);
    set(static_cast<GridField>(kAlongX + c), grid.along[c]);
  }
  const bool listed = grid.starts != nullptr;
  for (int a = 0; a < 2; ++a) {
    set(static_cast<GridField>(kLow0 + a), listed ? grid.low[a] : INFINITY);
    set(static_cast<GridField>(kHigh0 + a), listed ? grid.high[a] : -INFINITY);
    set(static_cast<GridField>(kPerUnit0 + a), listed ? grid.perUnit[a] : 0.0);
    set(static_cast<GridField>(kLastCell0 + a), listed ? grid.cells[a] - 1 : 0.0);
  }
}

// The direction w = d / |d|, and two unit axes at right angles to it and to
// each other: the first across w and the axis w is least along, the second
// w x the first.
bool AxesAcross(const Vec3& direction, double across[2][3], double along[3]) {
  const double length = std::sqrt(direction.x * direction.x + direction.y * direction.y + direction.z * direction.z);
  if (!(length > 0) || !std::isfinite(length)) return false;
  const double w[3] = {direction.x / length, direction.y / length, direction.z / length};
  for (int a = 0; a < 3; ++a) along[a] = w[a];
  int least = 0;
  for (int a = 1; a < 3; ++a)
    if (std::fabs(w[a]) < std::fabs(w[least])) least = a;
  double e[3] = {0.0, 0.0, 0.0};
  e[least] = 1.0;
  double u[3] = {w[1] * e[2] - w[2] * e[1], w[2] * e[0] - w[0] * e[2], w[0] * e[1] - w[1] * e[0]};
  const double norm = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  for (double& c : u) c /= norm;
  const double v[3] = {w[1] * u[2] - w[2] * u[1], w[2] * u[0] - w[0] * u[2], w[0] * u[1] - w[1] * u[0]};
  for (int a = 0; a < 3; ++a) {
    across[0][a] = u[a];
    across[1][a] = v[a];
  }
  return true;
}

// The cell along axis `a` that coordinate x falls in: the same monotone
// rounding for the lists and for every lookup (which looks up only x within
// [low, high]).
int32_t CellOf(const DirectionGrid& grid, int a, double x) {
  const double at = (x - grid.low[a]) * grid.perUnit[a];
  if (!(at >= 0)) return 0;
  // Below the cell count, truncation is the floor (at is not negative).
  return at < grid.cells[a] ? static_cast<int32_t>(at) : grid.cells[a] - 1;
}

// Where row or column i along axis `a` starts and ends, widened by `by`
// and by more than the rounding of CellOf, so that every x it gives i lies
// within.
void CellBounds(const DirectionGrid& grid, int a, int32_t i, double by, double* low, double* high) {
  *low = grid.low[a] + i / grid.perUnit[a] - by;
  *high = (i + 1 == grid.cells[a] ? grid.high[a] : grid.low[a] + (i + 1) / grid.perUnit[a]) + by;
}

// The (cell, triangle) pairs of one grid, in triangle order.
struct Listing {
  int32_t* cells;
  int32_t* triangles;
  int64_t count;
  int64_t capacity;
  int64_t limit;  // beyond this many the direction goes without a grid
};

bool List(Listing* listing, int32_t cell, int32_t triangle) {
  if (listing->count == listing->capacity) {
    const int64_t grown = std::max<int64_t>(2 * listing->capacity, 1024);
    if (!ResizeArray(listing->cells, static_cast<size_t>(grown)) ||
        !ResizeArray(listing->triangles, static_cast<size_t>(grown)))
      return false;
    listing->capacity = grown;
  }
  listing->cells[listing->count] = cell;
  listing->triangles[listing->count++] = triangle;
  return true;
}

// The least and greatest x of the triangle p[0], p[1], p[2] (on the grid)
// within the band lo <= y <= hi: its corners there and where its edges
// cross the band's bounds. False when it does not meet the band.
bool SpanInBand(const double* const p[3], double lo, double hi, double* xLow, double* xHigh) {
  double least = INFINITY, most = -INFINITY;
  for (int i = 0; i < 3; ++i) {
    const double* a = p[i];
    const double* b = p[i == 2 ? 0 : i + 1];
    if (a[1] >= lo && a[1] <= hi) least = std::min(least, a[0]), most = std::max(most, a[0]);
    for (double y : {lo, hi}) {
      if ((a[1] < y) == (b[1] < y)) continue;
      // The crossing, within rounding of the share of the edge (a relative
      // error of a few 1e-16 whatever the edge's slope), kept on the edge.
      const double x = a[0] + (y - a[1]) / (b[1] - a[1]) * (b[0] - a[0]);
      const double clamped = std::clamp(x, std::min(a[0], b[0]), std::max(a[0], b[0]));
      least = std::min(least, clamped), most = std::max(most, clamped);
    }
  }
  *xLow = least;
  *xHigh = most;
  return least <= most;
}

// Lists triangle t in every cell that a point within the allowance of its
// shadow p[0], p[1], p[2] falls in: row by row, the cells across the
// triangle's span within the row widened by the allowance, that span
// widened by it too. False when the listing cannot grow or goes beyond its
// limit.
bool ListTriangle(const DirectionGrid& grid, const double* const p[3], int32_t t, double widen, Listing* listing) {
  const double yLow = std::min({p[0][1], p[1][1], p[2][1]}) - widen;
  const double yHigh = std::max({p[0][1], p[1][1], p[2][1]}) + widen;
  for (int32_t j = CellOf(grid, 1, yLow), last = CellOf(grid, 1, yHigh); j <= last; ++j) {
    double lo = 0.0, hi = 0.0, xLow = 0.0, xHigh = 0.0;
    CellBounds(grid, 1, j, widen, &lo, &hi);
    if (!SpanInBand(p, lo, hi, &xLow, &xHigh)) continue;
    for (int32_t i = CellOf(grid, 0, xLow - widen), end = CellOf(grid, 0, xHigh + widen); i <= end; ++i)
      if (listing->count == listing->limit || !List(listing, j * grid.cells[0] + i, t)) return false;
  }
  return true;
}

// The least float not below x (NaN stays NaN; beyond the floats, infinity).
float DepthAbove(double x) {
  const float f = static_cast<float>(x);
  return static_cast<double>(f) < x ? std::nextafter(f, INFINITY) : f;
}

void FreeGrid(DirectionGrid* grid) {
  FreeArray(grid->starts);
  FreeArray(grid->entries);
  FreeArray(grid->shadows);
}

// What building one grid works with.
struct GridWork {
  const CageBvh* bvh;
  const Vec3* positions;
  uint32_t pointCount;
  double widen;      // the allowance plus rounding
  double* shadows;   // 2 per cage point
  float* depths;     // per triangle, reused from grid to grid
  Listing listing;   // reused from grid to grid
};

// Lays the triangles out on the grid across one direction. False when the
// memory cannot be had; a grid that would list too many leaves the
// direction without one.
bool BuildGrid(GridWork& work, DirectionGrid* grid) {
  const CageBvh& bvh = *work.bvh;
  const int32_t n = bvh.triangleCount;
  for (uint32_t k = 0; k < work.pointCount; ++k) {
    work.shadows[2 * k] = Dot(grid->across[0], work.positions[k]);
    work.shadows[2 * k + 1] = Dot(grid->across[1], work.positions[k]);
  }
  auto shadowsOf = [&](int32_t t, const double* p[3]) {
    for (int c = 0; c < 3; ++c) p[c] = work.shadows + 2 * static_cast<size_t>(bvh.triangles[t].corners[c]);
  };
  for (int a = 0; a < 2; ++a) {
    grid->low[a] = INFINITY;
    grid->high[a] = -INFINITY;
  }
  for (int32_t t = 0; t < n; ++t) {
    const double* p[3];
    shadowsOf(t, p);
    for (int a = 0; a < 2; ++a) {
      grid->low[a] = std::min({grid->low[a], p[0][a] - work.widen, p[1][a] - work.widen, p[2][a] - work.widen});
      grid->high[a] = std::max({grid->high[a], p[0][a] + work.widen, p[1][a] + work.widen, p[2][a] + work.widen});
    }
  }
  // The pairs in triangle order, then counted and sorted by cell, which
  // keeps each cell's triangles ascending. Cells about square.
  const double span[2] = {grid->high[0] - grid->low[0], grid->high[1] - grid->low[1]};
  Listing& listing = work.listing;
  int64_t cellCount = 0;
  for (double perTriangle = kCellsPerTriangle;; perTriangle /= 2) {
    if (perTriangle < kFewestCellsPerTriangle) return true;  // no grid for this direction
    const double cells = perTriangle * n;
    const double side = std::sqrt(span[0] * span[1] / cells);
    for (int a = 0; a < 2; ++a) {
      const double along = side > 0 ? std::ceil(span[a] / side) : 1.0;
      grid->cells[a] = static_cast<int32_t>(std::clamp(along, 1.0, cells));
      grid->perUnit[a] = grid->cells[a] / span[a];
    }
    cellCount = int64_t{grid->cells[0]} * grid->cells[1];
    listing.count = 0;
    listing.limit = kListedPerTriangle * n + 4 * cellCount;
    bool listed = true;
    for (int32_t t = 0; t < n && listed; ++t) {
      const double* p[3];
      shadowsOf(t, p);
      listed = ListTriangle(*grid, p, t, work.widen, &listing);
    }
    if (listed) break;
    if (listing.count != listing.limit) return false;  // out of memory
  }
  if (!AllocateArray(grid->starts, static_cast<size_t>(cellCount) + 1) ||
      !AllocateArray(grid->entries, static_cast<size_t>(std::max<int64_t>(listing.count, 1))) ||
      !AllocateArray(grid->shadows, 2 * static_cast<size_t>(work.pointCount))) {
    FreeGrid(grid);
    return false;
  }
  std::copy(work.shadows, work.shadows + 2 * static_cast<size_t>(work.pointCount), grid->shadows);
  for (int32_t t = 0; t < n; ++t) {
    const int32_t* k = bvh.triangles[t].corners;
    work.depths[t] = DepthAbove(std::max({Dot(grid->along, work.positions[k[0]]),
                                          Dot(grid->along, work.positions[k[1]]),
                                          Dot(grid->along, work.positions[k[2]])}));
  }
  int32_t* starts = grid->starts;
  std::fill(starts, starts + cellCount + 1, 0);
  for (int64_t k = 0; k < listing.count; ++k) ++starts[listing.cells[k] + 1];
  for (int64_t c = 0; c < cellCount; ++c) starts[c + 1] += starts[c];
  for (int64_t k = 0; k < listing.count; ++k) {
    const int32_t t = listing.triangles[k];
    grid->entries[starts[listing.cells[k]]++] = GridEntry{t, work.depths[t]};
  }
  // Listing moved each start to the next cell's: move them back.
  for (int64_t c = cellCount; c > 0; --c) starts[c] = starts[c - 1];
  starts[0] = 0;
  return true;
}

}  // namespace

bool StartDirectionGrids(const CageBvh& bvh, const Vec3* positions, const Vec3* directions, int32_t count,
                         DirectionGrids* grids) {
  *grids = DirectionGrids{};
  if (bvh.triangleCount <= 0 || bvh.unboundedCount > 0 || count <= 0 || directions == nullptr ||
      positions == nullptr || !std::isfinite(bvh.magnitude))
    return false;
  // Twice the largest margin of an origin within reach, and the rounding.
  const double reach = kReachOverMagnitude * bvh.magnitude;
  const double scale = bvh.magnitude + reach;
  const double widen = 2 * (kBvhRelativeMargin * scale + kBvhAbsoluteMargin) + 2 * kNoise * scale;
  if (!std::isfinite(widen) || !std::isfinite(scale + widen)) return false;
  if (!AllocateArray(grids->grids, static_cast<size_t>(count)) ||
      !AllocateArray(grids->fields, static_cast<size_t>(kGridFields) * static_cast<size_t>(count))) {
    FreeArray(grids->grids);
    return false;
  }
  grids->count = count;
  grids->reach = reach;
  grids->allowance = widen;
  return true;
}

bool BuildDirectionGridRange(const CageBvh& bvh, const Vec3* positions, uint32_t pointCount, const Vec3* directions,
                             int32_t first, int32_t end, DirectionGrids* grids) {
  GridWork work{&bvh, positions, pointCount, grids->allowance, nullptr, nullptr, Listing{}};
  bool built = AllocateArray(work.shadows, 2 * static_cast<size_t>(pointCount)) &&
               AllocateArray(work.depths, static_cast<size_t>(bvh.triangleCount));
  for (int32_t s = first; s < end && built; ++s) {
    DirectionGrid& grid = grids->grids[s];
    built = AxesAcross(directions[s], grid.across, grid.along) && BuildGrid(work, &grid);
    if (built) SetFields(grid, s, grids->count, grids->fields);
  }
  FreeArray(work.shadows);
  FreeArray(work.depths);
  FreeArray(work.listing.cells);
  FreeArray(work.listing.triangles);
  return built;
}

bool BuildDirectionGrids(const CageBvh& bvh, const Vec3* positions, uint32_t pointCount, const Vec3* directions,
                         int32_t count, DirectionGrids* grids) {
  if (!StartDirectionGrids(bvh, positions, directions, count, grids)) return false;
  if (BuildDirectionGridRange(bvh, positions, pointCount, directions, 0, count, grids)) return true;
  FreeDirectionGrids(grids);
  return false;
}

void FreeDirectionGrids(DirectionGrids* grids) {
  for (int32_t s = 0; s < grids->count; ++s) FreeGrid(&grids->grids[s]);
  FreeArray(grids->grids);
  FreeArray(grids->fields);
  *grids = DirectionGrids{};
}

bool FindGridCell(const DirectionGrids& grids, int32_t direction, const Vec3& origin, GridLookup* found) {
  if (direction < 0 || direction >= grids.count) return false;
  const DirectionGrid& grid = grids.grids[direction];
  if (grid.starts == nullptr) return false;
  if (!(std::fabs(origin.x) <= grids.reach && std::fabs(origin.y) <= grids.reach &&
        std::fabs(origin.z) <= grids.reach))
    return false;
  found->entries = grid.entries;
  found->count = 0;
  found->behind = Dot(grid.along, origin) - grids.allowance;
  found->cell = nullptr;
  found->shadows = grid.shadows;
  found->allowance = grids.allowance;
  int32_t cell[2];
  for (int a = 0; a < 2; ++a) {
    const double x = Dot(grid.across[a], origin);
    found->at[a] = x;
    if (!(x >= grid.low[a] && x <= grid.high[a])) return true;  // beyond every shadow
    cell[a] = CellOf(grid, a, x);
  }
  found->cell = grid.starts + (int64_t{cell[1]} * grid.cells[0] + cell[0]);
  __builtin_prefetch(found->cell);
  return true;
}

void ReadGridCell(GridLookup* found) {
  if (found->cell == nullptr) return;
  found->entries += found->cell[0];
  found->count = found->cell[1] - found->cell[0];
  found->cell = nullptr;
  __builtin_prefetch(found->entries);
}

void FindGridCells(const DirectionGrids& grids, int32_t first, int32_t count, const Vec3& origin, GridLookup* found,
                   bool* onGrid) {
  const bool inReach = std::fabs(origin.x) <= grids.reach && std::fabs(origin.y) <= grids.reach &&
                       std::fabs(origin.z) <= grids.reach;
  if (!inReach || first < 0 || count <= 0 || first + count > grids.count) {
    for (int32_t k = 0; k < count; ++k) onGrid[k] = FindGridCell(grids, first + k, origin, &found[k]);
    return;
  }
  const int32_t n = grids.count;
  auto field = [&](GridField f) { return grids.fields + int64_t{f} * n + first; };
  // Per direction: the depth behind, and the cell on each axis (-1 beyond
  // every shadow), each the same bits as FindGridCell works out.
  constexpr int32_t kMost = 64;
  double behind[kMost], at[2][kMost];
  int32_t cell[2][kMost];
  for (int32_t done = 0; done < count; done += kMost) {
    const int32_t part = count - done < kMost ? count - done : kMost;
    int32_t k = 0;
#if defined(__SSE2__)
    const __m128d ox = _mm_set1_pd(origin.x), oy = _mm_set1_pd(origin.y), oz = _mm_set1_pd(origin.z);
    const __m128d zero = _mm_setzero_pd(), allowance = _mm_set1_pd(grids.allowance);
    auto load = [&](GridField f) { return _mm_loadu_pd(field(f) + done + k); };
    auto dot = [&](GridField x) {
      const auto f = static_cast<int>(x);
      return _mm_add_pd(_mm_add_pd(_mm_mul_pd(load(static_cast<GridField>(f)), ox),
                                   _mm_mul_pd(load(static_cast<GridField>(f + 1)), oy)),
                        _mm_mul_pd(load(static_cast<GridField>(f + 2)), oz));
    };
    for (; k + 1 < part; k += 2) {
      _mm_storeu_pd(behind + k, _mm_sub_pd(dot(kAlongX), allowance));
      for (int a = 0; a < 2; ++a) {
        const __m128d x = dot(a == 0 ? kAcross0X : kAcross1X);
        _mm_storeu_pd(at[a] + k, x);
        const __m128d low = load(static_cast<GridField>(kLow0 + a));
        const __m128d high = load(static_cast<GridField>(kHigh0 + a));
        const __m128d inside = _mm_and_pd(_mm_cmpge_pd(x, low), _mm_cmple_pd(x, high));
        // The cell as CellOf numbers it: below 0 (or NaN) the first, from
        // the last on the last, truncated between.
        const __m128d along = _mm_mul_pd(_mm_sub_pd(x, low), load(static_cast<GridField>(kPerUnit0 + a)));
        const __m128d clamped = _mm_min_pd(_mm_max_pd(along, zero), load(static_cast<GridField>(kLastCell0 + a)));
        const __m128i cells = _mm_cvttpd_epi32(clamped);
        const int mask = _mm_movemask_pd(inside);
        cell[a][k] = (mask & 1) != 0 ? _mm_cvtsi128_si32(cells) : -1;
        cell[a][k + 1] = (mask & 2) != 0 ? _mm_cvtsi128_si32(_mm_shuffle_epi32(cells, 1)) : -1;
      }
    }
#endif
    for (; k < part; ++k) {
      const double* o[3] = {&origin.x, &origin.y, &origin.z};
      auto dotOne = [&](GridField x) {
        const auto f = static_cast<int>(x);
        const double a0 = field(static_cast<GridField>(f))[done + k];
        const double a1 = field(static_cast<GridField>(f + 1))[done + k];
        const double a2 = field(static_cast<GridField>(f + 2))[done + k];
        return a0 * *o[0] + a1 * *o[1] + a2 * *o[2];
      };
      behind[k] = dotOne(kAlongX) - grids.allowance;
      for (int a = 0; a < 2; ++a) {
        const double x = dotOne(a == 0 ? kAcross0X : kAcross1X);
        at[a][k] = x;
        const double low = field(static_cast<GridField>(kLow0 + a))[done + k];
        const double high = field(static_cast<GridField>(kHigh0 + a))[done + k];
        const double along = (x - low) * field(static_cast<GridField>(kPerUnit0 + a))[done + k];
        const double last = field(static_cast<GridField>(kLastCell0 + a))[done + k];
        cell[a][k] = !(x >= low && x <= high) ? -1
                     : !(along >= 0)          ? 0
                     : along < last           ? static_cast<int32_t>(along)
                                              : static_cast<int32_t>(last);
      }
    }
    for (k = 0; k < part; ++k) {
      const DirectionGrid& grid = grids.grids[first + done + k];
      GridLookup& lookup = found[done + k];
      onGrid[done + k] = grid.starts != nullptr;
      lookup.entries = grid.entries;
      lookup.count = 0;
      lookup.behind = behind[k];
      lookup.cell = nullptr;
      lookup.shadows = grid.shadows;
      lookup.allowance = grids.allowance;
      lookup.at[0] = at[0][k];
      lookup.at[1] = at[1][k];
      if (grid.starts == nullptr || cell[0][k] < 0 || cell[1][k] < 0) continue;
      lookup.cell = grid.starts + (int64_t{cell[1][k]} * grid.cells[0] + cell[0][k]);
      __builtin_prefetch(lookup.cell);
    }
  }
}

bool PassesWide(const GridLookup& found, const int32_t corners[3]) {
  const double allowance = found.allowance;
  const double* p[3];
  for (int c = 0; c < 3; ++c) p[c] = found.shadows + 2 * static_cast<size_t>(corners[c]);
  const double ox = found.at[0], oy = found.at[1];
  // Twice the shadow's signed area: along each edge's normal (scaled by the
  // edge's length), the shadow spans from 0 (the edge) to this (the corner
  // opposite).
  const double twice = (p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[1][1] - p[0][1]) * (p[2][0] - p[0][0]);
  const double low = std::min(0.0, twice), high = std::max(0.0, twice);
  for (int e = 0; e < 3; ++e) {
    const double* a = p[e];
    const double* b = p[e == 2 ? 0 : e + 1];
    const double ex = b[0] - a[0], ey = b[1] - a[1];
    const double side = ex * (oy - a[1]) - ey * (ox - a[0]);
    const double gap = side < low ? low - side : side > high ? side - high : 0.0;
    if (gap * gap > allowance * allowance * (ex * ex + ey * ey)) return true;
  }
  return false;
}

bool GridCandidates(const DirectionGrids& grids, int32_t direction, const Vec3& origin, GridLookup* found) {
  if (!FindGridCell(grids, direction, origin, found)) return false;
  ReadGridCell(found);
  return true;
}

}  // namespace ostrand
