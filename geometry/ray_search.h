// Which nearest-hit search "Calculate" uses: the exhaustive reference or the
// hierarchy in front of it. Both give the same weights bit for bit; the
// choice exists so that tests and benchmarks can compare them.
#pragma once

#include <cstdint>

#include "geometry/direction_grids.h"

namespace ostrand {

// kAccelerated: through the hierarchy, in the way that is faster for the
// cage (WholeLineFor). kNearestFirst: the nearest box first with an early
// stop. kWholeLine: every triangle along the ray's whole line, which is also
// the nearest-first search's fallback. kDirectionGrids: along the whole line,
// with the candidates looked up on grids across the sample directions
// whenever they can be built (direction_grids.h). The last three are for
// comparisons.
enum class RaySearch { kExhaustive, kAccelerated, kWholeLine, kNearestFirst, kDirectionGrids };

// Whether the accelerated search goes along the whole line for a hierarchy of
// `triangles` triangles held in `entries` leaf entries (more entries than
// triangles: long thin triangles were cut into pieces). Where no triangle is
// long and thin, the whole line is faster than the nearest-first walk, whose
// bookkeeping costs more than the few ray tests it saves, up to cages of a
// few thousand triangles; long thin triangles put many of them on a line, and
// the nearest-first walk tests far fewer (bench/calculate_bench and
// bench/bind_scale_bench measure both; docs/benchmarks.md has the figures).
inline bool WholeLineFor(RaySearch search, int32_t triangles, int32_t entries) {
  constexpr int32_t kWholeLineUpTo = 6000;
  if (search != RaySearch::kAccelerated) return search == RaySearch::kWholeLine || search == RaySearch::kDirectionGrids;
  return triangles <= kWholeLineUpTo && entries <= triangles;
}

// Whether a calculation of `rows` points with `samples` directions builds
// grids across its directions (direction_grids.h) over a hierarchy of
// `triangles` triangles on a cage of `cagePoints` points. Building costs
// time for each triangle and direction, and the grids save every ray along
// their direction about half its search (the walk through the hierarchy,
// most ray tests behind the origin; bench/calculate_bench, BM_Search, and
// docs/benchmarks.md). So the accelerated search builds them for targets of
// at least four points for each triangle of the cage, within the memory
// budget. They hold about 160 bytes for each
// triangle and direction (and 16 for each cage point and direction), and the
// target keeps at least that for each point:
// beyond kDirectionGridsAnyway triangles x directions, only a target of as
// many points builds them, so that they never outweigh its weights.
// kDirectionGrids builds them whenever the budget allows.
inline constexpr int64_t kDirectionGridsAnyway = int64_t{1} << 19;

inline bool DirectionGridsFor(RaySearch search, int64_t rows, int32_t samples, int32_t triangles, uint32_t cagePoints) {
  const bool withinBudget =
      samples > 0 && triangles > 0 && int64_t{samples} * (int64_t{triangles} + cagePoints) <= kDirectionGridBudget;
  if (search == RaySearch::kDirectionGrids) return withinBudget;
  const int64_t size = int64_t{samples} * triangles;
  return search == RaySearch::kAccelerated && withinBudget && rows >= 4 * int64_t{triangles} &&
         (size <= kDirectionGridsAnyway || size <= rows);
}

// The search a calculation starting now uses: kAccelerated in the module
// users get. In the comparisons build (OSTRAND_SEARCH_CHOICE: the tests,
// benchmarks and fuzzers, and the module file of that build that they load),
// SetRaySearch chooses for later calculations, and the environment variable
// OSTRAND_RAY_SEARCH, read at every call, overrides it when it is
// "exhaustive", "accelerated", "whole-line", "nearest-first" or
// "direction-grids" (anything else is ignored): the switch for tests and
// benchmarks that drive the loaded module through the host.
RaySearch ChosenRaySearch();
#if defined(OSTRAND_SEARCH_CHOICE)
void SetRaySearch(RaySearch search);
#endif

}  // namespace ostrand
