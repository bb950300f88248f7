// Which nearest-hit search "Calculate" uses: the exhaustive reference or the
// hierarchy in front of it. Both give the same weights bit for bit; the
// switch exists so that tests and benchmarks can compare them.
#pragma once

#include <cstdint>

namespace ostrand {

// kAccelerated: through the hierarchy, in the way that is faster for the
// cage (WholeLineFor). kNearestFirst: the nearest box first with an early
// stop. kWholeLine: every triangle along the ray's whole line, which is also
// the nearest-first search's fallback. The last two are for comparisons.
enum class RaySearch { kExhaustive, kAccelerated, kWholeLine, kNearestFirst };

// Whether the accelerated search goes along the whole line for a hierarchy of
// `triangles` triangles held in `entries` leaf entries (more entries than
// triangles: long thin triangles were cut into pieces). Where no triangle is
// long and thin, the whole line is faster than the nearest-first walk, whose
// bookkeeping costs more than the few ray tests it saves, up to cages of a
// few thousand triangles; long thin triangles put many of them on a line, and
// the nearest-first walk tests far fewer. Measured with bench/calculate_bench
// and bench/bind_scale_bench, time per ray of the whole line against the
// walk: 108 triangles -25 %, 192 and 1,200 and 4,800 -13 % (a torus), 972
// about the same (random points), 10,092 +7 to +13 %, the 250-gon prism's
// fans +10 %.
inline bool WholeLineFor(RaySearch search, int32_t triangles, int32_t entries) {
  constexpr int32_t kWholeLineUpTo = 6000;
  if (search != RaySearch::kAccelerated) return search == RaySearch::kWholeLine;
  return triangles <= kWholeLineUpTo && entries <= triangles;
}

// Module-wide choice for later calculations; kAccelerated until set.
void SetRaySearch(RaySearch search);

// The search a calculation starting now uses. The environment variable
// OSTRAND_RAY_SEARCH, read at every call, overrides SetRaySearch when it is
// "exhaustive", "accelerated", "whole-line" or "nearest-first" (anything else
// is ignored): it is the switch for tests and benchmarks that drive the
// loaded module through the host and cannot call into it.
RaySearch ChosenRaySearch();

}  // namespace ostrand
