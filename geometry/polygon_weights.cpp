#include "geometry/polygon_weights.h"

#include <cmath>

namespace ostrand {
namespace {

constexpr double kCornerRadius = 1e-6;  // below this distance x is at the corner
constexpr double kEdgeArea = 1e-6;      // below this area x is on the edge (if between its ends)

inline double Length(const Vec3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
inline double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace

void PolygonWeights(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners, double* weights) {
  if (n <= 0) return;
  for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;

  // Vertex case: x at a corner takes the whole share there.
  for (int32_t i = 0; i < n; ++i) {
    PolygonCorner& c = corners[i];
    c.d = Vec3{points[i].x - x.x, points[i].y - x.y, points[i].z - x.z};
    c.r = Length(c.d);
    if (c.r < kCornerRadius) {
      weights[i] = s;
      return;
    }
  }

  // Edge case: x between the ends of an edge, on it up to the area threshold.
  for (int32_t j = 0; j < n; ++j) {
    const int32_t k = j + 1 == n ? 0 : j + 1;
    PolygonCorner& c = corners[j];
    c.area = 0.5 * Length(Cross(c.d, corners[k].d));
    c.dot = Dot(c.d, corners[k].d);
    if (c.dot < 0 && c.area < kEdgeArea) {
      const double rj = c.r, rk = corners[k].r;
      weights[j] = s * rk / (rj + rk);
      weights[k] = s * rj / (rj + rk);
      return;
    }
  }

  // Mean value weights: each corner gets the tangent terms of its two edges
  // over its distance; an edge whose triangle has no area adds nothing.
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t before = i == 0 ? n - 1 : i - 1;
    const int32_t after = i + 1 == n ? 0 : i + 1;
    const PolygonCorner& p = corners[before];
    const PolygonCorner& c = corners[i];
    double t = 0.0;
    if (p.area != 0) t = (p.r - p.dot / c.r) / p.area;
    if (c.area != 0) t += (corners[after].r - c.dot / c.r) / c.area;
    weights[i] = t;
    sum += t;
  }
  // Every term vanishes only when x is in line with every edge; the share
  // then goes nowhere rather than turning the row into NaN.
  if (sum == 0) {
    for (int32_t i = 0; i < n; ++i) weights[i] = 0.0;
    return;
  }
  for (int32_t i = 0; i < n; ++i) weights[i] = (weights[i] / sum) * s;
}

}  // namespace ostrand
