#include "checks/pose_check.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "driver/bind_statistics.h"

namespace checks {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A name that stands for a conversion of its own name.
struct Alias {
  const char* name;
  const char* means;
};
constexpr Alias kAliases[] = {{"y-up-to-z-up", "x90"}, {"z-up-to-y-up", "x-90"}};

using Matrix = std::array<std::array<double, 3>, 3>;

Eigen::Vector3d Column(const Vec3& p) { return {p.x, p.y, p.z}; }

// The value to two significant digits, without an exponent: 0.72, 2.5, 120.
std::string Figure(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.2g", value);
  const double rounded = std::strtod(text, nullptr);
  if (rounded == 0.0 || !std::isfinite(rounded)) return rounded == 0.0 ? "0" : text;
  const int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(std::fabs(rounded)))), 0, 40);
  std::snprintf(text, sizeof text, "%.*f", decimals, rounded);
  std::string shown = text;
  if (shown.find('.') != std::string::npos) {
    shown.erase(shown.find_last_not_of('0') + 1);
    if (shown.back() == '.') shown.pop_back();
  }
  return shown;
}

// "(1.2, 0, -0.5)": parts smaller than a thousandth of scale shown as 0.
std::string Triple(const Vec3& v, double scale) {
  const auto part = [scale](double value) { return Figure(std::fabs(value) < 1e-3 * scale ? 0.0 : value); };
  return "(" + part(v.x) + ", " + part(v.y) + ", " + part(v.z) + ")";
}

double Determinant(const Matrix& m) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The conversion's matrix; the identity for none.
Matrix MatrixOf(const AxisConversion* conversion) {
  Matrix m{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = conversion ? conversion->entry(i, j) : i == j ? 1.0 : 0.0;
  return m;
}

// The angle in degrees of the turn that takes the conversion (the identity
// for none) to the orthogonal linear; none when one mirrors and the other
// does not.
std::optional<double> AngleBetween(const Matrix& linear, const AxisConversion* conversion) {
  const Matrix other = MatrixOf(conversion);
  if ((Determinant(linear) > 0.0) != (Determinant(other) > 0.0)) return std::nullopt;
  double trace = 0.0;  // of linear times the other's transpose
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) trace += linear[i][j] * other[i][j];
  return std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0)) * 180.0 / kPi;
}

constexpr const char* kWorldSpace = ", as a cache written in world space may be";

// What the conversion does, with its likely cause, the move after it when
// there is one, and the option value that undoes it: "turned 90° about x, as
// an up-axis conversion between Y-up and Z-up makes: --pose-axis x-90 turns
// it back".
std::string Named(const AxisConversion& conversion, const std::string& move, const PoseAxisOption& option) {
  const std::string name = conversion.name;
  const bool mirror = name.rfind("mirror-", 0) == 0;
  std::string text;
  if (mirror) {
    const std::string axis = name.substr(7);
    text = "mirrored in " + axis + " (" + axis + " negated), as a handedness conversion makes";
  } else {
    text = "turned " + name.substr(1) + "° about " + name.substr(0, 1);
    if (name == "x90" || name == "x-90") text += ", as an up-axis conversion between Y-up and Z-up makes";
  }
  if (!move.empty()) text += ", and moved by " + move;
  return text + ": " + option.name + option.separator + option.quote + Inverse(conversion).name + option.quote +
         (mirror ? " mirrors" : " turns") + " it back" + (move.empty() ? "" : ", the move aside");
}

// The posed points less the rest points converted (null: as they are) and,
// when moving, less the move that brings them nearest: that move, and the
// root mean square of what is left.
struct Undone {
  const AxisConversion* conversion = nullptr;
  Vec3 move{};
  double distance = 0.0;
};
Undone Leftover(const std::vector<Vec3>& rest, const std::vector<Vec3>& posed, const AxisConversion* conversion,
                bool moving) {
  Undone undone;
  undone.conversion = conversion;
  const auto count = double(rest.size());
  const auto converted = [conversion](const Vec3& p) { return Column(conversion ? Converted(*conversion, p) : p); };
  Eigen::Vector3d move = Eigen::Vector3d::Zero();
  if (moving) {
    for (size_t i = 0; i < rest.size(); ++i) move += Column(posed[i]) - converted(rest[i]);
    move /= count;
  }
  double squares = 0.0;
  for (size_t i = 0; i < rest.size(); ++i) squares += (Column(posed[i]) - converted(rest[i]) - move).squaredNorm();
  undone.move = {move.x(), move.y(), move.z()};
  undone.distance = std::sqrt(squares / count);
  return undone;
}

}  // namespace

const std::vector<AxisConversion>& AxisConversions() {
  static const std::vector<AxisConversion> kConversions = {
      {"x90", {0, 2, 1}, {1, -1, 1}},      {"x-90", {0, 2, 1}, {1, 1, -1}},    {"x180", {0, 1, 2}, {1, -1, -1}},
      {"y90", {2, 1, 0}, {1, 1, -1}},      {"y-90", {2, 1, 0}, {-1, 1, 1}},    {"y180", {0, 1, 2}, {-1, 1, -1}},
      {"z90", {1, 0, 2}, {-1, 1, 1}},      {"z-90", {1, 0, 2}, {1, -1, 1}},    {"z180", {0, 1, 2}, {-1, -1, 1}},
      {"mirror-x", {0, 1, 2}, {-1, 1, 1}}, {"mirror-y", {0, 1, 2}, {1, -1, 1}}, {"mirror-z", {0, 1, 2}, {1, 1, -1}},
  };
  return kConversions;
}

std::string AxisConversionNames() {
  std::string names;
  for (const AxisConversion& conversion : AxisConversions())
    names += std::string(names.empty() ? "" : ", ") + conversion.name;
  for (const Alias& alias : kAliases) names += std::string(", ") + alias.name;
  return names;
}

const AxisConversion* FindAxisConversion(const std::string& name) {
  std::string wanted = name;
  for (const Alias& alias : kAliases)
    if (name == alias.name) wanted = alias.means;
  for (const AxisConversion& conversion : AxisConversions())
    if (wanted == conversion.name) return &conversion;
  return nullptr;
}

const AxisConversion& Inverse(const AxisConversion& conversion) {
  // The transpose: coordinate axis[i] of the result is sign[i] times coordinate i.
  std::array<int, 3> axis{}, sign{};
  for (int i = 0; i < 3; ++i) {
    axis[conversion.axis[i]] = i;
    sign[conversion.axis[i]] = conversion.sign[i];
  }
  for (const AxisConversion& other : AxisConversions())
    if (other.axis == axis && other.sign == sign) return other;
  return conversion;  // not reached: the set holds every inverse
}

Vec3 Converted(const AxisConversion& conversion, const Vec3& point) {
  const double in[3] = {point.x, point.y, point.z};
  double out[3];
  for (int i = 0; i < 3; ++i) out[i] = conversion.sign[i] < 0 ? -in[conversion.axis[i]] : in[conversion.axis[i]];
  return {out[0], out[1], out[2]};
}

void Convert(const AxisConversion& conversion, std::vector<Vec3>& points) {
  for (Vec3& point : points) point = Converted(conversion, point);
}

RigidFit FitRigid(const std::vector<Vec3>& rest, const std::vector<Vec3>& posed) {
  RigidFit fit;
  const size_t count = std::min(rest.size(), posed.size());
  if (count == 0) return fit;
  Eigen::Vector3d restMean = Eigen::Vector3d::Zero(), posedMean = Eigen::Vector3d::Zero();
  for (size_t i = 0; i < count; ++i) {
    restMean += Column(rest[i]);
    posedMean += Column(posed[i]);
  }
  restMean /= double(count);
  posedMean /= double(count);
  Eigen::Matrix3d cross = Eigen::Matrix3d::Zero();
  for (size_t i = 0; i < count; ++i) cross += (Column(rest[i]) - restMean) * (Column(posed[i]) - posedMean).transpose();
  // The orthogonal matrix nearest the cross-covariance's: a mirror is allowed.
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(cross, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::Matrix3d linear = svd.matrixV() * svd.matrixU().transpose();
  const Eigen::Vector3d move = posedMean - linear * restMean;
  double squares = 0.0;
  for (size_t i = 0; i < count; ++i) squares += (Column(posed[i]) - (linear * Column(rest[i]) + move)).squaredNorm();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) fit.linear[i][j] = linear(i, j);
  fit.move = {move.x(), move.y(), move.z()};
  fit.residual = std::sqrt(squares / double(count));
  return fit;
}

std::string CheckPose(const std::vector<Vec3>& rest, const std::vector<Vec3>& posed, const std::string& subject,
                      const PoseAxisOption& option) {
  if (rest.empty() || posed.size() != rest.size()) return "";
  const double size = driver::BoundingDiagonal(rest);
  if (!(size > 0.0)) return "";
  const double distance = Leftover(rest, posed, nullptr, false).distance / size;
  if (!(distance > kPoseFarDistance)) return "";
  const std::string lead = subject + " is " + Figure(distance) + " of the cage's size from the bound cage; ";
  const auto moved = [size](const Vec3& move) { return std::hypot(move.x, move.y, move.z) > kRigidFitResidual * size; };

  const RigidFit fit = FitRigid(rest, posed);
  if (fit.residual <= kRigidFitResidual * size) {
    const std::optional<double> unturned = AngleBetween(fit.linear, nullptr);
    if (unturned && *unturned <= kConversionAngleDegrees)
      return lead + "it is the bound cage moved by " + Triple(fit.move, size) + kWorldSpace;
    for (const AxisConversion& conversion : AxisConversions()) {
      const std::optional<double> angle = AngleBetween(fit.linear, &conversion);
      if (angle && *angle <= kConversionAngleDegrees)
        return lead + "it is the bound cage " +
               Named(conversion, moved(fit.move) ? Triple(fit.move, size) : "", option);
    }
    // Rigid, yet no conversion of axes.
    const std::string none = ", which no " + option.name + " value turns back";
    if (Determinant(fit.linear) < 0.0) return lead + "it is the bound cage mirrored and turned" + none;
    Eigen::Matrix3d linear;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) linear(i, j) = fit.linear[i][j];
    const Eigen::AngleAxisd turn(linear);
    char angle[32];
    std::snprintf(angle, sizeof angle, "%.0f", turn.angle() * 180.0 / kPi);
    return lead + "it is the bound cage turned " + angle + "° about " +
           Triple({turn.axis().x(), turn.axis().y(), turn.axis().z()}, 1.0) +
           (moved(fit.move) ? " and moved by " + Triple(fit.move, size) : "") + none;
  }

  // Posed as well: a conversion of axes and a move that bring it as near the
  // bound cage as a pose is say what it is.
  Undone nearest = Leftover(rest, posed, nullptr, true);
  for (const AxisConversion& conversion : AxisConversions()) {
    const Undone undone = Leftover(rest, posed, &conversion, true);
    if (undone.distance < nearest.distance) nearest = undone;
  }
  if (nearest.distance <= kPoseFarDistance * size) {
    if (!nearest.conversion)
      return lead + "it is a pose of the bound cage moved by " + Triple(nearest.move, size) + kWorldSpace;
    return lead + "it is a pose of the bound cage " +
           Named(*nearest.conversion, moved(nearest.move) ? Triple(nearest.move, size) : "", option);
  }
  // A pose this far that nothing above explains may be a big pose of the
  // right cage (a quarter-turn twist is): told only when farther still.
  if (!(distance > kPoseUnexplainedDistance)) return "";
  return lead + "it is not a turn or mirror of the bound cage: check that the animation is of this cage";
}

}  // namespace checks
