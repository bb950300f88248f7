// An axis-aligned box and what the hierarchy's builder does with boxes.
#pragma once

#include <cmath>
#include <limits>

namespace ostrand {

struct BvhBox {
  double lo[3];
  double hi[3];
};

inline BvhBox EmptyBox() {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  return BvhBox{{kInfinity, kInfinity, kInfinity}, {-kInfinity, -kInfinity, -kInfinity}};
}

// std::fmin and std::fmax for a bound a that is a number (as every box
// here starts empty and only grows): a NaN b is passed over. Inlined, unlike
// the library's, which the build calls for every bound of every piece.
inline double Least(double a, double b) { return b < a ? b : a; }
inline double Most(double a, double b) { return b > a ? b : a; }

inline void Grow(BvhBox* box, const BvhBox& other) {
  for (int a = 0; a < 3; ++a) {
    box->lo[a] = Least(box->lo[a], other.lo[a]);
    box->hi[a] = Most(box->hi[a], other.hi[a]);
  }
}

inline void GrowByPoint(BvhBox* box, const double p[3]) {
  for (int a = 0; a < 3; ++a) {
    box->lo[a] = Least(box->lo[a], p[a]);
    box->hi[a] = Most(box->hi[a], p[a]);
  }
}

// Half the surface area: proportional to the chance that a random line
// meets the box. 0 for an empty box.
inline double HalfArea(const BvhBox& box) {
  const double dx = box.hi[0] - box.lo[0], dy = box.hi[1] - box.lo[1], dz = box.hi[2] - box.lo[2];
  if (!(dx >= 0 && dy >= 0 && dz >= 0)) return 0.0;
  return dx * dy + dy * dz + dz * dx;
}

}  // namespace ostrand
