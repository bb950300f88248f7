// Built into each module file rather than into the geometry layer: the
// module users get always takes the accelerated search, and only the
// comparisons build (tests and benchmarks, OSTRAND_SEARCH_CHOICE) can be told
// to take another.
#include "geometry/ray_search.h"

#if defined(OSTRAND_SEARCH_CHOICE)
#include <atomic>
#include <cstdlib>
#include <cstring>
#endif

namespace ostrand {

#if defined(OSTRAND_SEARCH_CHOICE)
namespace {

std::atomic<RaySearch> moduleSearch{RaySearch::kAccelerated};

}  // namespace

void SetRaySearch(RaySearch search) { moduleSearch.store(search, std::memory_order_relaxed); }

RaySearch ChosenRaySearch() {
  const char* chosen = std::getenv("OSTRAND_RAY_SEARCH");
  if (chosen != nullptr && std::strcmp(chosen, "exhaustive") == 0) return RaySearch::kExhaustive;
  if (chosen != nullptr && std::strcmp(chosen, "accelerated") == 0) return RaySearch::kAccelerated;
  if (chosen != nullptr && std::strcmp(chosen, "whole-line") == 0) return RaySearch::kWholeLine;
  if (chosen != nullptr && std::strcmp(chosen, "nearest-first") == 0) return RaySearch::kNearestFirst;
  if (chosen != nullptr && std::strcmp(chosen, "direction-grids") == 0) return RaySearch::kDirectionGrids;
  return moduleSearch.load(std::memory_order_relaxed);
}

#else

RaySearch ChosenRaySearch() { return RaySearch::kAccelerated; }

#endif

}  // namespace ostrand
