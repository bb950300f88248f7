// Triangulation of mesh polygons, and the geometry module's TriangulateTarget
// service built on it.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>

#include "host/fault_injection.h"
#include "host/host.h"
#include "host/host_functions.h"
#include "host/host_state.h"

namespace host {

namespace {

struct Point2 {
  double x, y;
};

// Twice the signed area of (a, b, c): positive when they turn left.
double Cross(const Point2& a, const Point2& b, const Point2& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

bool operator==(const Point2& a, const Point2& b) { return a.x == b.x && a.y == b.y; }

// A convex polygon turns left (or goes straight) at every corner and turns
// once around in all; a star turns left everywhere but twice around.
bool IsConvex(const std::vector<Point2>& polygon) {
  std::vector<Point2> corners;
  for (const Point2& p : polygon)
    if (corners.empty() || !(corners.back() == p)) corners.push_back(p);
  while (corners.size() > 1 && corners.back() == corners.front()) corners.pop_back();
  const size_t n = corners.size();
  if (n < 3) return false;
  double turning = 0;
  for (size_t i = 0; i < n; ++i) {
    const Point2& a = corners[(i + n - 1) % n];
    const Point2& b = corners[i];
    const Point2& c = corners[(i + 1) % n];
    const double ex = b.x - a.x, ey = b.y - a.y, fx = c.x - b.x, fy = c.y - b.y;
    const double cross = ex * fy - ey * fx;
    if (cross < 0) return false;
    turning += std::atan2(cross, ex * fx + ey * fy);
  }
  return std::fabs(turning - 2 * std::numbers::pi) < 1.0;
}

// Inside or on the boundary of the left-turning triangle (a, b, c).
bool InTriangle(const Point2& a, const Point2& b, const Point2& c, const Point2& q) {
  return Cross(a, b, q) >= 0 && Cross(b, c, q) >= 0 && Cross(c, a, q) >= 0;
}

// Ear clipping of a counter-clockwise polygon; returns local corner triples.
std::vector<std::array<int32_t, 3>> ClipEars(const std::vector<Point2>& p) {
  std::vector<int32_t> remaining(p.size());
  for (size_t i = 0; i < p.size(); ++i) remaining[i] = static_cast<int32_t>(i);
  std::vector<std::array<int32_t, 3>> triangles;
  size_t start = 0;
  while (remaining.size() > 3) {
    const size_t m = remaining.size();
    auto corner = [&](size_t k, size_t offset) { return remaining[(k + offset) % m]; };
    size_t ear = m;
    for (size_t step = 0; step < m && ear == m; ++step) {
      const size_t k = (start + step) % m;
      const int32_t i0 = corner(k, m - 1), i1 = corner(k, 0), i2 = corner(k, 1);
      if (!(Cross(p[i0], p[i1], p[i2]) > 0)) continue;
      bool blocked = false;
      for (int32_t j : remaining) {
        if (j == i0 || j == i1 || j == i2 || p[j] == p[i0] || p[j] == p[i1] || p[j] == p[i2]) continue;
        if (InTriangle(p[i0], p[i1], p[i2], p[j])) {
          blocked = true;
          break;
        }
      }
      if (!blocked) ear = k;
    }
    if (ear == m) {
      // No proper ear (collinear runs, self-touching or crossing boundary):
      // clip the corner turning most to the left, which still makes progress
      double best = -INFINITY;
      ear = 0;
      for (size_t k = 0; k < m; ++k) {
        const double turn = Cross(p[corner(k, m - 1)], p[corner(k, 0)], p[corner(k, 1)]);
        if (turn > best) best = turn, ear = k;
      }
    }
    triangles.push_back({corner(ear, m - 1), corner(ear, 0), corner(ear, 1)});
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(ear));
    start = ear % remaining.size();
  }
  triangles.push_back({remaining[0], remaining[1], remaining[2]});
  return triangles;
}

}  // namespace

std::vector<std::array<int32_t, 3>> TriangulatePolygon(const std::vector<Vec3>& points,
                                                        const std::vector<int32_t>& polygon) {
  const size_t n = polygon.size();
  if (n < 3) return {};
  for (int32_t index : polygon)
    if (index < 0 || static_cast<size_t>(index) >= points.size())
      throw std::invalid_argument("TriangulatePolygon: point " + std::to_string(index) + " of " +
                                  std::to_string(points.size()));
  std::vector<std::array<int32_t, 3>> fan;
  for (size_t i = 1; i + 1 < n; ++i) fan.push_back({polygon[0], polygon[i], polygon[i + 1]});
  if (n == 3) return fan;

  // Newell normal: its components are twice the areas projected on the axis planes
  double normal[3] = {0, 0, 0};
  for (size_t i = 0; i < n; ++i) {
    const Vec3& p = points[polygon[i]];
    const Vec3& q = points[polygon[(i + 1) % n]];
    normal[0] += (p.y - q.y) * (p.z + q.z);
    normal[1] += (p.z - q.z) * (p.x + q.x);
    normal[2] += (p.x - q.x) * (p.y + q.y);
  }
  int axis = 0;
  if (std::fabs(normal[1]) > std::fabs(normal[axis])) axis = 1;
  if (std::fabs(normal[2]) > std::fabs(normal[axis])) axis = 2;
  // Without area (or with non-finite points) any n - 2 triangles cover it
  if (!(std::fabs(normal[axis]) > 0) || !std::isfinite(normal[axis])) return fan;

  // Project onto the plane of the largest area, turning counter-clockwise
  const double flip = normal[axis] > 0 ? 1.0 : -1.0;
  std::vector<Point2> projected(n);
  for (size_t i = 0; i < n; ++i) {
    const Vec3& p = points[polygon[i]];
    if (axis == 0) projected[i] = {flip * p.y, p.z};
    else if (axis == 1) projected[i] = {flip * p.z, p.x};
    else projected[i] = {flip * p.x, p.y};
  }
  if (IsConvex(projected)) return fan;

  std::vector<std::array<int32_t, 3>> triangles = ClipEars(projected);
  for (auto& triangle : triangles)
    for (int32_t& corner : triangle) corner = polygon[corner];
  return triangles;
}

namespace api {

namespace {

// useful_TriangulateTarget's bad answers, made from the real record (or null).
void* TriangulationFault(void* made, uint32_t object) {
  if (faults::Strikes(Fault::kTriangulateNull, object)) {
    useful_FreeMesh(made);
    return nullptr;
  }
  auto* cage = static_cast<TriangulatedCage*>(made);
  if (!cage) return made;
  if (faults::Strikes(Fault::kTriangulateNegativePolygons, object)) {
    // The polygons block stays (useful_FreeMesh frees it), its triangles go.
    for (int32_t i = 0; i < cage->polygonCount; ++i) {
      std::free(cage->polygons[i].triangles);
      cage->polygons[i].triangles = nullptr;
    }
    if (!cage->polygons) cage->polygons = static_cast<TriangulatedPolygon*>(std::calloc(1, sizeof(TriangulatedPolygon)));
    cage->polygonCount = -3;
  } else if (faults::Strikes(Fault::kTriangulateNegativeTriangles, object)) {
    for (int32_t i = 0; i < cage->polygonCount; ++i) cage->polygons[i].triangleCount = -2;
  }
  return made;
}

void* Triangulate(uint32_t object) {
  // Owned by the guard until complete, so a failure part way frees what was made
  std::unique_ptr<TriangulatedCage, void (*)(void*)> cage(
      static_cast<TriangulatedCage*>(std::calloc(1, sizeof(TriangulatedCage))), &useful_FreeMesh);
  if (!cage) return nullptr;
  Host::State* state = CurrentState();
  const Object* found = state ? state->objectAt(object) : nullptr;
  if (!found || found->mesh.polygons.empty()) return cage.release();
  const auto& mesh = found->mesh;
  cage->polygons = static_cast<TriangulatedPolygon*>(std::calloc(mesh.polygons.size(), sizeof(TriangulatedPolygon)));
  if (!cage->polygons) return nullptr;
  cage->polygonCount = static_cast<int32_t>(mesh.polygons.size());
  for (size_t i = 0; i < mesh.polygons.size(); ++i) {
    const auto triangles = TriangulatePolygon(mesh.points, mesh.polygons[i]);
    if (triangles.empty()) continue;
    auto* block = static_cast<int32_t(*)[3]>(std::malloc(triangles.size() * sizeof(int32_t[3])));
    if (!block) return nullptr;
    for (size_t t = 0; t < triangles.size(); ++t)
      for (int k = 0; k < 3; ++k) block[t][k] = triangles[t][k];
    cage->polygons[i].triangles = block;
    cage->polygons[i].triangleCount = static_cast<int32_t>(triangles.size());
  }
  return cage.release();
}

}  // namespace

void* useful_TriangulateTarget(uint32_t object, int32_t) {
  void* made = Triangulate(object);
  if (faults::Armed()) [[unlikely]]
    return TriangulationFault(made, object);
  return made;
}

void useful_FreeMesh(void* mesh) {
  auto* cage = static_cast<TriangulatedCage*>(mesh);
  if (!cage) return;
  if (cage->polygons)
    for (int32_t i = 0; i < cage->polygonCount; ++i) std::free(cage->polygons[i].triangles);
  std::free(cage->polygons);
  std::free(cage);
}

}  // namespace api
}  // namespace host
