// Whether a posed cage is the bound cage posed, or the bound cage carried
// into other axes: exporters write caches in world space, or turn them from
// one up axis to another (Y-up and Z-up differ by 90 degrees about x), or
// mirror them, and a target deformed with such a cage comes out turned,
// mirrored or moved with no error anywhere. The check compares a posed cage
// with the bound cage, and when it is far off says what it is and which axis
// conversion turns it back.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ostrand/types.h"

namespace checks {

// A posed cage further than this from the bound cage (the root mean square
// of its points' distances from their rest positions, as a fraction of the
// cage's size) is warned of.
inline constexpr double kPoseFarDistance = 0.25;
// A posed cage that far which is no turn, mirror or move of the bound cage,
// nor a pose of one, is told only beyond this: big poses of the right cage
// reach kPoseFarDistance (the bundled example twisted a quarter turn does).
inline constexpr double kPoseUnexplainedDistance = 0.5;
// A rigid motion that leaves no more than this (root mean square, as a
// fraction of the cage's size) is what the posed cage is.
inline constexpr double kRigidFitResidual = 0.05;
// A rigid motion within this of an axis conversion is that conversion.
inline constexpr double kConversionAngleDegrees = 10.0;

// A change of axes: a turn of 90 or 180 degrees about an axis (right-hand
// rule: "x90" takes (x, y, z) to (x, -z, y)) or a mirror ("mirror-y" negates
// y). A signed permutation: coordinate i of a converted point is sign[i]
// times its coordinate axis[i], so that a conversion moves and negates
// coordinates and never rounds them, and its inverse gives them back bit for
// bit.
struct AxisConversion {
  const char* name;
  std::array<int, 3> axis;
  std::array<int, 3> sign;

  // The entry of the conversion's 3x3 matrix at row, column: 0, 1 or -1.
  int entry(int row, int column) const { return axis[row] == column ? sign[row] : 0; }
};

// The conversions, each by its own name (no identity, no aliases).
const std::vector<AxisConversion>& AxisConversions();
// Every name a conversion is asked for by: "x90, x-90, ..., y-up-to-z-up, z-up-to-y-up".
std::string AxisConversionNames();
// The conversion name names (an alias: "y-up-to-z-up" is x90, "z-up-to-y-up"
// x-90); null for a name that is none.
const AxisConversion* FindAxisConversion(const std::string& name);
// The conversion that undoes conversion.
const AxisConversion& Inverse(const AxisConversion& conversion);
Vec3 Converted(const AxisConversion& conversion, const Vec3& point);
void Convert(const AxisConversion& conversion, std::vector<Vec3>& points);

// How a front end asks for a conversion: the option's name, and how a value
// follows it ("--pose-axis x-90", "pose_axis='x-90'").
struct PoseAxisOption {
  std::string name = "--pose-axis";
  std::string separator = " ";
  std::string quote;
};

// The best rigid motion taking the rest points to the posed ones, in the
// least-squares sense: posed[i] ~ linear * rest[i] + move, with linear
// orthogonal (a turn, or a turn and a mirror), and what it leaves.
struct RigidFit {
  std::array<std::array<double, 3>, 3> linear{};
  Vec3 move{};
  double residual = 0.0;  // root mean square distance of the posed points from the moved rest points
};
RigidFit FitRigid(const std::vector<Vec3>& rest, const std::vector<Vec3>& posed);

// "" when posed (as many points as rest) is within kPoseFarDistance of the
// rest cage; otherwise one line: "SUBJECT is D of the cage's size from the
// bound cage; WHAT IT IS". The best rigid motion says what it is when it
// leaves less than kRigidFitResidual: a conversion of axes (within
// kConversionAngleDegrees) with its likely cause and the option value that
// turns it back, a move, or a turn no conversion gives. Otherwise a pose of
// the bound cage converted or moved when undoing that brings it within
// kPoseFarDistance; else, beyond kPoseUnexplainedDistance, none of these.
std::string CheckPose(const std::vector<Vec3>& rest, const std::vector<Vec3>& posed, const std::string& subject,
                      const PoseAxisOption& option = {});

}  // namespace checks
