#include "checks/triangle_tree.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "checks/vector_math.h"

namespace checks {

namespace {

// A ray passes "through" an edge when the sine of its angle to the plane of
// the edge and the point is below this: rounding is some 1e-15.
constexpr double kEdgeSine = 1e-10;
// Relative size of rounding noise in a triple product.
constexpr double kNoise = 1e-13;
constexpr double kBoxPad = 1e-9;
constexpr int32_t kLeafSize = 4;

// Distance from the origin to the triangle (a, b, c), given relative to the point.
double DistanceToTriangle(const Vec3& a, const Vec3& b, const Vec3& c) {
  const Vec3 origin{0, 0, 0};
  const Vec3 ab = Sub(b, a), ac = Sub(c, a), ap = Sub(origin, a);
  auto at = [&](double v, double w) {
    return Norm(Vec3{a.x + v * ab.x + w * ac.x, a.y + v * ab.y + w * ac.y, a.z + v * ab.z + w * ac.z});
  };
  const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return Norm(a);
  const Vec3 bp = Sub(origin, b);
  const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return Norm(b);
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return at(d1 / (d1 - d3), 0);
  const Vec3 cp = Sub(origin, c);
  const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return Norm(c);
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return at(0, d2 / (d2 - d6));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    return Norm(Vec3{b.x + w * (c.x - b.x), b.y + w * (c.y - b.y), b.z + w * (c.z - b.z)});
  }
  const double sum = va + vb + vc;
  if (!(sum > 0)) return std::fmin(Norm(a), std::fmin(Norm(b), Norm(c)));  // no area
  return at(vb / sum, vc / sum);
}

// -1, 0 or 1: the sign of s when it is clearly apart from 0 (|s| above
// kEdgeSine * sqrt(scale2)), else 0.
int ClearSign(double s, double scale2) {
  if (s * s <= kEdgeSine * kEdgeSine * scale2) return 0;
  return s > 0 ? 1 : -1;
}

// What the ray from the origin along d does at the triangle (a, b, c), given
// relative to its start: adds its crossing to count, or tells why it cannot.
RayOutcome CrossTriangle(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d, int* count) {
  const double aa = Dot(a, a), bb = Dot(b, b), cc = Dot(c, c);
  // The ray's line meets the triangle where these three agree in sign.
  const int s1 = ClearSign(Dot(d, Cross(a, b)), aa * bb);
  const int s2 = ClearSign(Dot(d, Cross(b, c)), bb * cc);
  if (s1 * s2 < 0) return RayOutcome::kCounted;
  const int s3 = ClearSign(Dot(d, Cross(c, a)), cc * aa);
  if (s1 * s3 < 0 || s2 * s3 < 0) return RayOutcome::kCounted;
  const double volume = Dot(a, Cross(b, c));
  const double noise = kNoise * std::sqrt(aa * bb * cc);
  if (s1 != 0 && s2 != 0 && s3 != 0) {
    // Through the inside of the triangle: ahead of the point when the volume
    // has the sign of the crossing; on it when the point is on its plane.
    const double area2 = Norm(Cross(Sub(b, a), Sub(c, a)));
    if (std::fabs(volume) <= kOnSurface * area2) return RayOutcome::kOnSurface;
    if (std::fabs(volume) <= noise) return RayOutcome::kAmbiguous;
    if ((volume > 0) == (s1 > 0)) *count += s1;
    return RayOutcome::kCounted;
  }
  // Past an edge or a corner, or a triangle without area.
  if (DistanceToTriangle(a, b, c) <= kOnSurface) return RayOutcome::kOnSurface;
  const Vec3 ab = Sub(b, a), ac = Sub(c, a), normal = Cross(ab, ac);
  if (s1 == 0 && s2 == 0 && s3 == 0 && Dot(normal, normal) <= kEdgeSine * kEdgeSine * Dot(ab, ab) * Dot(ac, ac))
    return RayOutcome::kCounted;
  // Behind the point the crossing does not count.
  const double facing = Dot(d, normal);
  const double facingNoise = kNoise * (std::sqrt(aa * bb) + std::sqrt(bb * cc) + std::sqrt(cc * aa));
  if (std::fabs(volume) > noise && std::fabs(facing) > facingNoise && (volume > 0) != (facing > 0))
    return RayOutcome::kCounted;
  return RayOutcome::kAmbiguous;
}

}  // namespace

TriangleTree BuildTriangleTree(std::vector<TreeTriangle> triangles) {
  TriangleTree tree;
  if (triangles.empty()) return tree;
  std::vector<int32_t> index(triangles.size());
  std::vector<Vec3> centroid(triangles.size());
  // Each triangle's padded box, lo then hi per axis. Plain comparisons
  // (the corners are finite): fmin and fmax are calls.
  std::vector<std::array<double, 6>> box(triangles.size());
  for (size_t i = 0; i < triangles.size(); ++i) {
    index[i] = static_cast<int32_t>(i);
    const TreeTriangle& t = triangles[i];
    centroid[i] = {(t.a.x + t.b.x + t.c.x) / 3, (t.a.y + t.b.y + t.c.y) / 3, (t.a.z + t.b.z + t.c.z) / 3};
    const double corners[3][3] = {{t.a.x, t.b.x, t.c.x}, {t.a.y, t.b.y, t.c.y}, {t.a.z, t.b.z, t.c.z}};
    for (int axis = 0; axis < 3; ++axis) {
      const double* c = corners[axis];
      const double lo = c[0] < c[1] ? (c[0] < c[2] ? c[0] : c[2]) : (c[1] < c[2] ? c[1] : c[2]);
      const double hi = c[0] > c[1] ? (c[0] > c[2] ? c[0] : c[2]) : (c[1] > c[2] ? c[1] : c[2]);
      box[i][axis] = lo - kBoxPad;
      box[i][3 + axis] = hi + kBoxPad;
    }
  }
  // Depth first: a node's first child follows it; its second comes after the
  // first's whole subtree.
  struct Pending {
    int32_t begin, end, parent;
  };
  std::vector<Pending> stack{{0, static_cast<int32_t>(triangles.size()), -1}};
  while (!stack.empty()) {
    const Pending job = stack.back();
    stack.pop_back();
    const auto self = static_cast<int32_t>(tree.nodes.size());
    if (job.parent >= 0) tree.nodes[job.parent].first = self;
    TreeNode node{{INFINITY, INFINITY, INFINITY}, {-INFINITY, -INFINITY, -INFINITY}, 0, 0};
    double low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (int32_t k = job.begin; k < job.end; ++k) {
      const std::array<double, 6>& b = box[index[k]];
      const Vec3& m = centroid[index[k]];
      const double c[3] = {m.x, m.y, m.z};
      for (int axis = 0; axis < 3; ++axis) {
        node.lo[axis] = b[axis] < node.lo[axis] ? b[axis] : node.lo[axis];
        node.hi[axis] = b[3 + axis] > node.hi[axis] ? b[3 + axis] : node.hi[axis];
        low[axis] = c[axis] < low[axis] ? c[axis] : low[axis];
        high[axis] = c[axis] > high[axis] ? c[axis] : high[axis];
      }
    }
    if (job.end - job.begin <= kLeafSize) {
      node.first = job.begin;
      node.count = job.end - job.begin;
      tree.nodes.push_back(node);
      continue;
    }
    int axis = 0;
    for (int a = 1; a < 3; ++a)
      if (high[a] - low[a] > high[axis] - low[axis]) axis = a;
    auto key = [&](int32_t i) { return axis == 0 ? centroid[i].x : axis == 1 ? centroid[i].y : centroid[i].z; };
    const int32_t middle = job.begin + (job.end - job.begin) / 2;
    std::nth_element(index.begin() + job.begin, index.begin() + middle, index.begin() + job.end,
                     [&](int32_t a, int32_t b) { return key(a) != key(b) ? key(a) < key(b) : a < b; });
    tree.nodes.push_back(node);
    // The first child is taken next, so it is pushed last.
    stack.push_back({middle, job.end, self});
    stack.push_back({job.begin, middle, -1});
  }
  tree.triangles.reserve(triangles.size());
  for (int32_t i : index) tree.triangles.push_back(triangles[i]);
  return tree;
}

RayOutcome CountCrossings(const TriangleTree& tree, const Vec3& p, const Vec3& d, int* count) {
  *count = 0;
  if (tree.nodes.empty()) return RayOutcome::kCounted;
  const double inverse[3] = {1.0 / d.x, 1.0 / d.y, 1.0 / d.z};
  const double origin[3] = {p.x, p.y, p.z};
  bool ambiguous = false;
  int32_t stack[64];  // the tree is at most 31 levels deep
  int depth = 0;
  stack[depth++] = 0;
  while (depth > 0) {
    const int32_t self = stack[--depth];
    const TreeNode& node = tree.nodes[self];
    // Plain comparisons (nothing here is NaN): fmin and fmax are calls.
    double enter = 0.0, leave = INFINITY;
    for (int axis = 0; axis < 3; ++axis) {
      const double t1 = (node.lo[axis] - origin[axis]) * inverse[axis];
      const double t2 = (node.hi[axis] - origin[axis]) * inverse[axis];
      const double near = t1 < t2 ? t1 : t2, far = t1 < t2 ? t2 : t1;
      enter = near > enter ? near : enter;
      leave = far < leave ? far : leave;
    }
    if (!(enter <= leave)) continue;
    if (node.count == 0) {
      stack[depth++] = node.first;
      stack[depth++] = self + 1;
      continue;
    }
    for (int32_t k = node.first; k < node.first + node.count; ++k) {
      const TreeTriangle& t = tree.triangles[k];
      const RayOutcome outcome = CrossTriangle(Sub(t.a, p), Sub(t.b, p), Sub(t.c, p), d, count);
      if (outcome == RayOutcome::kOnSurface && !t.cap) return outcome;
      if (outcome != RayOutcome::kCounted) ambiguous = true;
    }
  }
  return ambiguous ? RayOutcome::kAmbiguous : RayOutcome::kCounted;
}

void TrianglesNear(const TriangleTree& tree, const Vec3& lo, const Vec3& hi, std::vector<int32_t>* found) {
  found->clear();
  if (tree.nodes.empty()) return;
  const double low[3] = {lo.x, lo.y, lo.z}, high[3] = {hi.x, hi.y, hi.z};
  int32_t stack[64];
  int depth = 0;
  stack[depth++] = 0;
  while (depth > 0) {
    const int32_t self = stack[--depth];
    const TreeNode& node = tree.nodes[self];
    if (node.lo[0] > high[0] || node.hi[0] < low[0] || node.lo[1] > high[1] || node.hi[1] < low[1] ||
        node.lo[2] > high[2] || node.hi[2] < low[2])
      continue;
    if (node.count == 0) {
      stack[depth++] = node.first;
      stack[depth++] = self + 1;
      continue;
    }
    for (int32_t k = node.first; k < node.first + node.count; ++k) found->push_back(k);
  }
}

}  // namespace checks
