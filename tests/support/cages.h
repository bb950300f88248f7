// Closed cage meshes and points inside them, shared by the coordinate tests
// and benchmarks, and by any search that must agree with the exhaustive one.
//
// Every cage is closed, with outward-facing polygons. Header-only: it needs
// nothing but host::Mesh, so benchmarks that link only the host stand-in can
// use it as well as the unit tests.
#pragma once

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "ostrand/types.h"

namespace test_support {

struct Point2 {
  double x, y;
};

// The prism over a counter-clockwise outline in the x-z plane, from
// y = -halfHeight to y = +halfHeight: two caps with the outline's points (an
// n-gon each, non-convex when the outline is) and one quad per outline edge.
// Points 0..n-1 are the bottom ring, n..2n-1 the top ring.
inline host::Mesh Prism(const std::vector<Point2>& outline, double halfHeight) {
  host::Mesh mesh;
  const auto n = static_cast<int32_t>(outline.size());
  // The outline runs counter-clockwise seen from +y when laid out as (x, -z).
  for (double y : {-halfHeight, halfHeight})
    for (const Point2& p : outline) mesh.points.push_back(Vec3{p.x, y, -p.y});
  std::vector<int32_t> bottom, top;
  for (int32_t i = 0; i < n; ++i) {
    bottom.push_back(n - 1 - i);
    top.push_back(n + i);
  }
  mesh.polygons.push_back(bottom);
  mesh.polygons.push_back(top);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t j = (i + 1) % n;
    mesh.polygons.push_back({i, j, n + j, n + i});
  }
  return mesh;
}

// The cube [-half, half]^3: 8 points, 6 quads, numbered as Prism numbers them
// (not as CubeMesh in test_meshes.h does).
inline host::Mesh Cube(double half = 1.0) {
  return Prism({{-half, -half}, {half, -half}, {half, half}, {-half, half}}, half);
}

// A cube with every face cut into k x k quads: 6 k^2 quads, 12 k^2 triangles
// (k = 9 gives 972).
inline host::Mesh SubdividedCube(int k, double half = 1.0) {
  host::Mesh mesh;
  // Point numbers on the surface grid, shared between faces along their edges.
  const int side = k + 1;
  std::vector<int32_t> number(static_cast<size_t>(side * side * side), -1);
  auto pointAt = [&](int i, int j, int l) {
    int32_t& slot = number[static_cast<size_t>((i * side + j) * side + l)];
    if (slot < 0) {
      slot = static_cast<int32_t>(mesh.points.size());
      mesh.points.push_back(Vec3{-half + 2 * half * i / k, -half + 2 * half * j / k, -half + 2 * half * l / k});
    }
    return slot;
  };
  // Each face: a fixed axis at 0 or k and two running axes, ordered so the
  // quads face outward.
  for (int axis = 0; axis < 3; ++axis)
    for (int end : {0, k})
      for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b) {
          auto at = [&](int u, int v) {
            int c[3];
            c[axis] = end;
            c[(axis + 1) % 3] = u;
            c[(axis + 2) % 3] = v;
            return pointAt(c[0], c[1], c[2]);
          };
          if (end == k)
            mesh.polygons.push_back({at(a, b), at(a + 1, b), at(a + 1, b + 1), at(a, b + 1)});
          else
            mesh.polygons.push_back({at(a, b), at(a, b + 1), at(a + 1, b + 1), at(a + 1, b)});
        }
  return mesh;
}

// The regular n-gon of the given radius, counter-clockwise.
inline std::vector<Point2> RegularPolygon(int n, double radius) {
  std::vector<Point2> outline;
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * 3.141592653589793 * i / n;
    outline.push_back({radius * std::cos(a), radius * std::sin(a)});
  }
  return outline;
}

// A star of `tips` tips alternating between the outer and the inner radius.
inline std::vector<Point2> Star(int tips, double outer, double inner) {
  std::vector<Point2> outline;
  for (int i = 0; i < 2 * tips; ++i) {
    const double a = 3.141592653589793 * i / tips;
    const double r = i % 2 == 0 ? outer : inner;
    outline.push_back({r * std::cos(a), r * std::sin(a)});
  }
  return outline;
}

// An L: the unit-wide arms [0, 2] x [0, 1] and [0, 1] x [0, 2].
inline std::vector<Point2> LShape() { return {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}; }

// Even-odd rule: whether q is inside the outline.
inline bool InsideOutline(const std::vector<Point2>& outline, Point2 q) {
  bool inside = false;
  for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
    const Point2& a = outline[i];
    const Point2& b = outline[j];
    if ((a.y > q.y) != (b.y > q.y) && q.x < (b.x - a.x) * (q.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
  }
  return inside;
}

// Points well inside the prism over the outline: a grid of `steps` per axis
// over its bounding box, kept where the point lies inside the outline shrunk
// by `shrink` towards `kernel` (a point that sees the whole outline) and
// within shrink * halfHeight of the middle.
inline std::vector<Vec3> PointsInPrism(const std::vector<Point2>& outline, Point2 kernel, double halfHeight,
                                       int steps, double shrink = 0.85) {
  std::vector<Point2> inner;
  double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
  for (const Point2& p : outline) {
    inner.push_back({kernel.x + shrink * (p.x - kernel.x), kernel.y + shrink * (p.y - kernel.y)});
    lo[0] = std::fmin(lo[0], p.x), hi[0] = std::fmax(hi[0], p.x);
    lo[1] = std::fmin(lo[1], p.y), hi[1] = std::fmax(hi[1], p.y);
  }
  std::vector<Vec3> points;
  for (int a = 0; a < steps; ++a)
    for (int b = 0; b < steps; ++b)
      for (int c = 0; c < steps; ++c) {
        // Cell centres, so that no point sits on a symmetry plane of the cage.
        const Point2 q{lo[0] + (hi[0] - lo[0]) * (a + 0.5) / steps, lo[1] + (hi[1] - lo[1]) * (b + 0.5) / steps};
        const double y = shrink * halfHeight * (2.0 * (c + 0.5) / steps - 1.0);
        if (InsideOutline(inner, q)) points.push_back(Vec3{q.x, y, -q.y});
      }
  return points;
}

// A cage and points inside it.
struct CageCase {
  std::string name;
  host::Mesh mesh;
  std::vector<Vec3> inside;
};

inline CageCase CubeCase(int steps = 4) {
  const std::vector<Point2> square = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  return {"cube", Cube(1.0), PointsInPrism(square, {0, 0}, 1.0, steps)};
}

inline CageCase StarCase(int steps = 5) {
  const std::vector<Point2> star = Star(5, 2.0, 0.8);
  return {"star prism", Prism(star, 0.5), PointsInPrism(star, {0, 0}, 0.5, steps)};
}

inline CageCase LCase(int steps = 5) {
  const std::vector<Point2> l = LShape();
  return {"L prism", Prism(l, 0.5), PointsInPrism(l, {0.5, 0.5}, 0.5, steps)};
}

inline CageCase NGonCase(int sides = 12, int steps = 4) {
  const std::vector<Point2> ngon = RegularPolygon(sides, 1.0);
  return {"n-gon prism", Prism(ngon, 0.75), PointsInPrism(ngon, {0, 0}, 0.75, steps)};
}

// A random closed cage, star-shaped around `centre`: a latitude-longitude
// grid of 1 to 5 rings of 3 to 10 points each, at random radii, stretched
// along the axes by 0.2 to 3. Quads join the rings; each end is closed by one
// n-gon (planar or not) or by a fan of triangles to a pole point. With
// `collapse`, a few points are moved onto their neighbours, which gives
// polygons with zero-area triangles and repeated corners.
inline host::Mesh RandomCage(std::mt19937& random, Vec3* centre, bool collapse = false) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int rings = 1 + static_cast<int>(random() % 5), segments = 3 + static_cast<int>(random() % 8);
  const double stretch[3] = {0.2 + 2.8 * unit(random), 0.2 + 2.8 * unit(random), 0.2 + 2.8 * unit(random)};
  *centre = Vec3{10 * unit(random) - 5, 10 * unit(random) - 5, 10 * unit(random) - 5};
  const double pi = 3.141592653589793;
  auto place = [&](double polar, double azimuth, double radius) {
    return Vec3{centre->x + stretch[0] * radius * std::sin(polar) * std::cos(azimuth),
                centre->y + stretch[1] * radius * std::cos(polar),
                centre->z + stretch[2] * radius * std::sin(polar) * std::sin(azimuth)};
  };
  host::Mesh mesh;
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segments; ++j)
      mesh.points.push_back(place(pi * (i + 1) / (rings + 1), 2 * pi * (j + 0.8 * unit(random)) / segments,
                                  0.4 + 1.2 * unit(random)));
  auto at = [&](int i, int j) { return static_cast<int32_t>(i * segments + (j % segments)); };
  for (int i = 0; i + 1 < rings; ++i)
    for (int j = 0; j < segments; ++j)
      mesh.polygons.push_back({at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j)});
  for (int end = 0; end < 2; ++end) {
    const int ring = end == 0 ? 0 : rings - 1;
    std::vector<int32_t> cap;
    for (int j = 0; j < segments; ++j) cap.push_back(at(ring, end == 0 ? segments - j : j));
    if (random() % 2 == 0) {
      mesh.polygons.push_back(cap);
      continue;
    }
    const auto pole = static_cast<int32_t>(mesh.points.size());
    mesh.points.push_back(place(end == 0 ? 0.0 : pi, 0.0, 0.4 + 1.2 * unit(random)));
    for (int j = 0; j < segments; ++j) mesh.polygons.push_back({pole, cap[j], cap[(j + 1) % segments]});
  }
  if (collapse)
    for (int k = 0; k < 3; ++k) {
      const size_t from = random() % mesh.points.size();
      mesh.points[from] = mesh.points[(from + 1) % mesh.points.size()];
    }
  return mesh;
}

// Every fixture cage, each with a few dozen inside points.
inline std::vector<CageCase> AllCageCases() { return {CubeCase(), StarCase(), LCase(), NGonCase()}; }

// Length of the diagonal of the mesh's bounding box.
inline double BoundingDiagonal(const host::Mesh& mesh) {
  Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
  for (const Vec3& p : mesh.points) {
    lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
    hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
  }
  const double dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// A TriangulatedCage that owns its arrays, made the way the geometry module
// makes one: record j holds the triangles of polygon j.
static_assert(sizeof(std::array<int32_t, 3>) == 3 * sizeof(int32_t));

struct OwnedTriangulation {
  std::vector<std::vector<std::array<int32_t, 3>>> triangles;
  std::vector<TriangulatedPolygon> polygons;
  TriangulatedCage cage{};

  explicit OwnedTriangulation(const host::Mesh& mesh) {
    for (const std::vector<int32_t>& polygon : mesh.polygons)
      triangles.push_back(host::TriangulatePolygon(mesh.points, polygon));
    link();
  }
  explicit OwnedTriangulation(std::vector<std::vector<std::array<int32_t, 3>>> byPolygon)
      : triangles(std::move(byPolygon)) {
    link();
  }
  OwnedTriangulation(const OwnedTriangulation&) = delete;
  OwnedTriangulation& operator=(const OwnedTriangulation&) = delete;

  size_t triangleCount() const {
    size_t n = 0;
    for (const auto& t : triangles) n += t.size();
    return n;
  }

 private:
  void link() {
    polygons.clear();
    for (auto& t : triangles)
      polygons.push_back(TriangulatedPolygon{static_cast<int32_t>(t.size()), 0,
                                             reinterpret_cast<int32_t(*)[3]>(t.empty() ? nullptr : t.data())});
    cage.polygonCount = static_cast<int32_t>(polygons.size());
    cage.polygons = polygons.empty() ? nullptr : polygons.data();
  }
};

// steps x steps points on a torus around the y axis (radii 0.6 and 0.3),
// inside the unit cube: a large target for benchmarks.
inline std::vector<Vec3> TorusPoints(int steps) {
  std::vector<Vec3> made;
  made.reserve(static_cast<size_t>(steps) * static_cast<size_t>(steps));
  const double pi = 3.141592653589793;
  for (int i = 0; i < steps; ++i)
    for (int j = 0; j < steps; ++j) {
      const double u = 2 * pi * i / steps, v = 2 * pi * j / steps;
      const double r = 0.6 + 0.3 * std::cos(v);
      made.push_back({r * std::cos(u), 0.3 * std::sin(v), r * std::sin(u)});
    }
  return made;
}

}  // namespace test_support
