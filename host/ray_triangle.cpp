// The watertight ray-triangle test (Woop, Benthin and Wald, "Watertight
// Ray/Triangle Intersection", 2013), in double precision.
//
// The ray is sheared so that it runs along +z through the origin of a 2D plane;
// the triangle's corners are transformed the same way and the 2D edge functions
// of the projected triangle decide the hit. Two triangles sharing an edge
// compute that edge's function from the same transformed corners in the same
// way, with opposite sign, so a ray through the edge cannot slip between them.
#include <array>
#include <atomic>
#include <cmath>
#include <utility>

#include "host/host.h"
#include "host/host_functions.h"

namespace host {

namespace {

// a*b - c*d with a relative error of a few units in the last place, so that its
// sign is exact (Kahan's algorithm, with explicit fused multiply-adds).
double DifferenceOfProducts(double a, double b, double c, double d) {
  const double cd = c * d;
  const double roundingOfCd = std::fma(-c, d, cd);
  const double difference = std::fma(a, b, -cd);
  return difference + roundingOfCd;
}

bool HasZeroArea(const Vec3& c0, const Vec3& c1, const Vec3& c2) {
  const double ex = c1.x - c0.x, ey = c1.y - c0.y, ez = c1.z - c0.z;
  const double fx = c2.x - c0.x, fy = c2.y - c0.y, fz = c2.z - c0.z;
  return ey * fz - ez * fy == 0 && ez * fx - ex * fz == 0 && ex * fy - ey * fx == 0;
}

}  // namespace

int32_t RayIntersectTriangle(const Vec3* origin, const Vec3* direction, const Vec3* c0, const Vec3* c1,
                             const Vec3* c2, double* distance, double* barycentric3, int32_t) {
  if (!origin || !direction || !c0 || !c1 || !c2) return 0;
  if (HasZeroArea(*c0, *c1, *c2)) return 0;

  // Pick the dominant axis of the direction as z; swap x and y when it points
  // down z so the triangles keep their winding
  const double dir[3] = {direction->x, direction->y, direction->z};
  int kz = 0;
  if (std::fabs(dir[1]) > std::fabs(dir[kz])) kz = 1;
  if (std::fabs(dir[2]) > std::fabs(dir[kz])) kz = 2;
  if (!(std::fabs(dir[kz]) > 0) || !std::isfinite(dir[kz])) return 0;
  int kx = (kz + 1) % 3, ky = (kx + 1) % 3;
  if (dir[kz] < 0) std::swap(kx, ky);

  // Shear coefficients
  const double sx = dir[kx] / dir[kz];
  const double sy = dir[ky] / dir[kz];
  const double sz = 1.0 / dir[kz];

  // Corners relative to the ray origin, sheared onto the ray's 2D plane
  auto relative = [origin](const Vec3& c) {
    return std::array<double, 3>{c.x - origin->x, c.y - origin->y, c.z - origin->z};
  };
  const auto a = relative(*c0), b = relative(*c1), c = relative(*c2);
  const double ax = a[kx] - sx * a[kz], ay = a[ky] - sy * a[kz];
  const double bx = b[kx] - sx * b[kz], by = b[ky] - sy * b[kz];
  const double cx = c[kx] - sx * c[kz], cy = c[ky] - sy * c[kz];

  // Scaled barycentric coordinates: the edge functions opposite each corner
  double u = cx * by - cy * bx;
  double v = ax * cy - ay * cx;
  double w = bx * ay - by * ax;
  if (u == 0 || v == 0 || w == 0) {
    // A zero may be rounding: decide on the exact sign
    u = DifferenceOfProducts(cx, by, cy, bx);
    v = DifferenceOfProducts(ax, cy, ay, cx);
    w = DifferenceOfProducts(bx, ay, by, ax);
  }

  // Edge tests, without back-face culling
  if ((u < 0 || v < 0 || w < 0) && (u > 0 || v > 0 || w > 0)) return 0;
  const double det = u + v + w;
  if (det == 0 || !std::isfinite(det)) return 0;

  // Hit distance along the unnormalised direction, in front of the origin only
  const double az = sz * a[kz], bz = sz * b[kz], cz = sz * c[kz];
  const double scaledT = u * az + v * bz + w * cz;
  if (det > 0 ? !(scaledT > 0) : !(scaledT < 0)) return 0;
  const double t = scaledT / det;
  if (!(t > 0) || !std::isfinite(t)) return 0;

  if (distance) *distance = t * std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
  if (barycentric3) {
    barycentric3[0] = u / det;
    barycentric3[1] = v / det;
    barycentric3[2] = w / det;
  }
  return 1;
}

namespace {

// Set from a signal handler: a lock-free flag, read once per ray test.
std::atomic<bool> raysCancelled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void CancelRayTests(bool cancel) noexcept { raysCancelled.store(cancel, std::memory_order_relaxed); }

namespace api {

int32_t useful_RayIntersectTriangle(const Vec3* origin, const Vec3* direction, const Vec3* c0, const Vec3* c1,
                                    const Vec3* c2, double* distance, double* barycentric3, int32_t zero) {
  if (raysCancelled.load(std::memory_order_relaxed)) return 0;
  return RayIntersectTriangle(origin, direction, c0, c1, c2, distance, barycentric3, zero);
}

}  // namespace api
}  // namespace host
