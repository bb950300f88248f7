// Which nearest-hit search "Calculate" uses: the exhaustive reference or the
// hierarchy in front of it. Both give the same weights bit for bit; the
// switch exists so that tests and benchmarks can compare them.
#pragma once

namespace ostrand {

// kWholeLine: the hierarchy offering every triangle along the ray's whole
// line, the accelerated search's fallback (for comparisons).
enum class RaySearch { kExhaustive, kAccelerated, kWholeLine };

// Module-wide choice for later calculations; kAccelerated until set.
void SetRaySearch(RaySearch search);

// The search a calculation starting now uses. The environment variable
// OSTRAND_RAY_SEARCH, read at every call, overrides SetRaySearch when it is
// "exhaustive", "accelerated" or "whole-line" (anything else is ignored): it is the switch
// for tests and benchmarks that drive the loaded module through the host and
// cannot call into it.
RaySearch ChosenRaySearch();

}  // namespace ostrand
