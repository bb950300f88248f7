#include "checks/solid_angle_tree.h"

#include <cmath>
#include <numbers>

#include "checks/vector_math.h"

namespace checks {

namespace {

constexpr double kFourPi = 4.0 * std::numbers::pi;

// Half the triangle's normal (b - a) x (c - a): its area vector.
Vec3 AreaVector(const TreeTriangle& t) {
  const Vec3 n = Cross(Sub(t.b, t.a), Sub(t.c, t.a));
  return {0.5 * n.x, 0.5 * n.y, 0.5 * n.z};
}

}  // namespace

SolidAngleTree::SolidAngleTree(std::vector<TreeTriangle> triangles)
    : tree_(BuildTriangleTree(std::move(triangles))), moments_(tree_.nodes.size()) {
  // Children come after their parent: from the back, each node sums its
  // triangles or its children, moving their moments to its own centre.
  for (size_t i = tree_.nodes.size(); i-- > 0;) {
    const TreeNode& node = tree_.nodes[i];
    Moments& m = moments_[i];
    m.centre = {0.5 * (node.lo[0] + node.hi[0]), 0.5 * (node.lo[1] + node.hi[1]), 0.5 * (node.lo[2] + node.hi[2])};
    m.radius = 0.5 * Norm(Vec3{node.hi[0] - node.lo[0], node.hi[1] - node.lo[1], node.hi[2] - node.lo[2]});
    auto add = [&m](const Vec3& area, double size, const Vec3& at, const double (*moment)[3]) {
      m.area = Add(m.area, area);
      m.size += size;
      const Vec3 offset = Sub(at, m.centre);
      const double o[3] = {offset.x, offset.y, offset.z}, a[3] = {area.x, area.y, area.z};
      for (int j = 0; j < 3; ++j)
        for (int l = 0; l < 3; ++l) m.moment[j][l] += o[j] * a[l] + (moment ? moment[j][l] : 0.0);
    };
    if (node.count > 0) {
      for (int32_t k = node.first; k < node.first + node.count; ++k) {
        const TreeTriangle& t = tree_.triangles[k];
        const Vec3 area = AreaVector(t);
        add(area, Norm(area), {(t.a.x + t.b.x + t.c.x) / 3, (t.a.y + t.b.y + t.c.y) / 3, (t.a.z + t.b.z + t.c.z) / 3},
            nullptr);
      }
    } else {
      for (size_t child : {i + 1, static_cast<size_t>(node.first)}) {
        const Moments& c = moments_[child];
        add(c.area, c.size, c.centre, c.moment);
      }
    }
  }
}

SolidAngleTree::Estimate SolidAngleTree::estimate(const Vec3& p, double opening) const {
  Estimate sum;
  if (tree_.nodes.empty()) return sum;
  int32_t stack[64];
  int depth = 0;
  stack[depth++] = 0;
  while (depth > 0) {
    const int32_t self = stack[--depth];
    const TreeNode& node = tree_.nodes[self];
    const Moments& m = moments_[self];
    const Vec3 y = Sub(m.centre, p);
    const double distance = Norm(y), gap = distance - m.radius;
    if (gap > 0 && m.radius < opening * gap) {
      // The solid angle is the integral of f(x) = (x - p) / |x - p|^3 over
      // the area vectors: f and its derivative at the centre, times the area
      // and its moments; the rest is at most 3 r^2 / gap^4 (half the largest
      // second derivative, 6 / gap^4, times r^2) times the area.
      const double d2 = distance * distance, d3 = d2 * distance, d5 = d3 * d2;
      const double v[3] = {y.x, y.y, y.z};
      double trace = 0.0, quadratic = 0.0;
      for (int j = 0; j < 3; ++j) {
        trace += m.moment[j][j];
        for (int l = 0; l < 3; ++l) quadratic += v[j] * m.moment[j][l] * v[l];
      }
      sum.value += (Dot(m.area, y) / d3 + trace / d3 - 3.0 * quadratic / d5) / kFourPi;
      sum.error += 3.0 * m.radius * m.radius * m.size / (kFourPi * gap * gap * gap * gap);
    } else if (node.count > 0) {
      for (int32_t k = node.first; k < node.first + node.count; ++k) {
        const TreeTriangle& t = tree_.triangles[k];
        sum.value += SolidAngle(Sub(t.a, p), Sub(t.b, p), Sub(t.c, p)) / kFourPi;
      }
    } else {
      stack[depth++] = node.first;
      stack[depth++] = self + 1;
    }
  }
  // The triangles' own sums round too.
  sum.error += 1e-12 * static_cast<double>(tree_.triangles.size());
  return sum;
}

double SolidAngleTree::exact(const Vec3& p) const {
  double sum = 0.0;
  for (const TreeTriangle& t : tree_.triangles) sum += SolidAngle(Sub(t.a, p), Sub(t.b, p), Sub(t.c, p));
  return sum / kFourPi;
}

}  // namespace checks
