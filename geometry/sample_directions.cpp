#include "geometry/sample_directions.h"

#include <cmath>

#include "host_interface/memory.h"

namespace ostrand {
namespace {
// Turn between consecutive directions, in radians. Slightly below
// pi * (3 - sqrt(5)); weights computed earlier depend on this exact value.
constexpr double kSpiralTurn = 2.399963226986295;
}  // namespace

Vec3* BuildSampleDirections(int32_t count) {
  if (count <= 0 || count > kMaxSampleDirections) return nullptr;
  Vec3* directions = nullptr;
  if (!AllocateArray(directions, static_cast<size_t>(count))) return nullptr;

  // The count passes through a 32-bit float on its way to the step.
  const double step = 2.0 / static_cast<double>(static_cast<float>(count));
  for (int32_t i = 0; i < count; ++i) {
    const double y = (step * i - 1.0) + 0.5 * step;
    const double r = std::sqrt(1.0 - y * y);
    const double angle = i * kSpiralTurn;
    directions[i] = Vec3{std::cos(angle) * r * kDirectionLength, y * kDirectionLength,
                         std::sin(angle) * r * kDirectionLength};
  }
  return directions;
}

}  // namespace ostrand
