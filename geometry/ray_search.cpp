#include "geometry/ray_search.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace ostrand {
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

}  // namespace ostrand
