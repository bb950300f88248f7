// Small vector sums for the cage check, on the records' Vec3.
#pragma once

#include <cmath>

#include "ostrand/types.h"

namespace checks {

inline Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 Add(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double Norm(const Vec3& a) { return std::sqrt(Dot(a, a)); }
inline bool Finite(const Vec3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// The signed solid angle of the triangle (a, b, c) seen from the origin (the
// corners given relative to the point), positive when the point is behind
// it, that is on the side its normal (b - a) x (c - a) turns from.
inline double SolidAngle(const Vec3& a, const Vec3& b, const Vec3& c) {
  const double la = Norm(a), lb = Norm(b), lc = Norm(c);
  const double numerator = Dot(a, Cross(b, c));
  const double denominator = la * lb * lc + Dot(a, b) * lc + Dot(a, c) * lb + Dot(b, c) * la;
  return 2.0 * std::atan2(numerator, denominator);
}

}  // namespace checks
