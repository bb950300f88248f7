// The fixed set of directions along which a target point looks at the cage.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

namespace ostrand {

// The largest direction count that is built. Up to here the count converts
// to a 32-bit float exactly, so the spiral's step is exactly 2 / N; beyond it
// the array alone would take more than 400 MB, for a calculation that could
// not finish anyway.
inline constexpr int32_t kMaxSampleDirections = 16777216;

// Length of every direction; the ray test receives the directions as built.
inline constexpr double kDirectionLength = 1000000.0;

// N points of a Fibonacci spiral over the sphere, with y as the pole axis:
// direction i has y = -1 + (i + 1/2) * 2/N (times kDirectionLength) and turns
// by 2.399963226986295 radians from the one before; direction 0 lies in the
// x-y plane with a positive x.
//
// Returns a new array of count entries, obtained with AllocateArray, that the
// caller releases with FreeArray. Returns null when count is 0 or less (no
// directions), when it is above kMaxSampleDirections, or when the memory
// cannot be had; a caller tells these apart by the count it asked for.
Vec3* BuildSampleDirections(int32_t count);

}  // namespace ostrand
