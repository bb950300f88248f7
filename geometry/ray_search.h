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
// this many triangles: on small cages that is faster than the nearest-first
// walk, whose bookkeeping costs more than the few extra ray tests it saves.
// Measured with bench/calculate_bench and bench/bind_scale_bench: with 108
// triangles the whole line takes 25 % less time per ray, with 192 13 % less.
// From about 1,000 neither wins everywhere (random points in a cube favour
// the nearest-first walk, a torus the whole line), and the nearest-first walk
// is kept: it tests far fewer triangles on cages of long thin ones.
inline bool WholeLineFor(RaySearch search, int32_t triangles) {
  constexpr int32_t kWholeLineUpTo = 500;
  return search == RaySearch::kWholeLine || (search == RaySearch::kAccelerated && triangles <= kWholeLineUpTo);
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
