#include "checks/parallel_tasks.h"
#include "checks/cage_interior.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <system_error>
#include <thread>

#include "checks/vector_math.h"

namespace checks {

namespace {

constexpr size_t kPointsPerTask = 2048;
// Points further than this from the cage's middle (frame units) are outside.
constexpr double kFarAway = 1e6;
// The caps' estimates tried before their exact sum: first coarse, then finer.
constexpr double kOpenings[] = {0.3, 0.15};

}  // namespace

Vec3 Frame::apply(const Vec3& p) const {
  return {std::ldexp(p.x - centre.x, exponent), std::ldexp(p.y - centre.y, exponent),
          std::ldexp(p.z - centre.z, exponent)};
}

Frame FrameOf(const std::vector<Vec3>& points) {
  Frame frame;
  bool any = false;
  Vec3 lo{0, 0, 0}, hi{0, 0, 0};
  for (const Vec3& p : points) {
    if (!Finite(p)) continue;
    if (!any) lo = hi = p, any = true;
    lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
    hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
  }
  if (!any) return frame;
  // Halves first, so that nothing overflows.
  frame.centre = {0.5 * lo.x + 0.5 * hi.x, 0.5 * lo.y + 0.5 * hi.y, 0.5 * lo.z + 0.5 * hi.z};
  const double half = std::fmax(0.5 * hi.x - 0.5 * lo.x, std::fmax(0.5 * hi.y - 0.5 * lo.y, 0.5 * hi.z - 0.5 * lo.z));
  if (half > 0) frame.exponent = -(std::ilogb(half) + 1);
  return frame;
}

CageInterior::CageInterior(const host::Mesh& cage) : frame_(FrameOf(cage.points)) {
  const size_t n = cage.points.size();
  std::vector<Vec3> points(n);
  std::vector<uint8_t> usable(n);
  for (size_t i = 0; i < n; ++i) {
    points[i] = frame_.apply(cage.points[i]);
    usable[i] = Finite(points[i]);
  }
  auto validFace = [&](const std::vector<int32_t>& face) {
    if (face.size() < 3) return false;
    for (int32_t k : face)
      if (k < 0 || static_cast<size_t>(k) >= n || !usable[k]) return false;
    return true;
  };

  // Points at exactly the same place are one point of the surface.
  std::vector<int32_t> order;
  for (size_t i = 0; i < n; ++i)
    if (usable[i]) order.push_back(static_cast<int32_t>(i));
  auto same = [&](int32_t a, int32_t b) {
    return points[a].x == points[b].x && points[a].y == points[b].y && points[a].z == points[b].z;
  };
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    const Vec3 &p = points[a], &q = points[b];
    if (p.x != q.x) return p.x < q.x;
    if (p.y != q.y) return p.y < q.y;
    if (p.z != q.z) return p.z < q.z;
    return a < b;
  });
  std::vector<int32_t> weld(n, -1);
  for (size_t k = 0; k < order.size(); ++k)
    weld[order[k]] = k > 0 && same(order[k - 1], order[k]) ? weld[order[k - 1]] : order[k];

  // The faces' fans, and the net count of each welded edge (+1 along lo -> hi, -1 against).
  std::vector<TreeTriangle> triangles;
  std::vector<std::array<int32_t, 3>> edges;
  for (const std::vector<int32_t>& face : cage.polygons) {
    if (!validFace(face)) continue;
    for (size_t i = 1; i + 1 < face.size(); ++i)
      triangles.push_back({points[face[0]], points[face[i]], points[face[i + 1]], false});
    for (size_t i = 0; i < face.size(); ++i) {
      const int32_t a = weld[face[i]], b = weld[face[(i + 1) % face.size()]];
      if (a != b) edges.push_back(a < b ? std::array<int32_t, 3>{a, b, 1} : std::array<int32_t, 3>{b, a, -1});
    }
  }
  // The boundary: every welded edge as often as it is left open, directed.
  std::sort(edges.begin(), edges.end());
  std::vector<std::array<int32_t, 2>> open;
  for (size_t i = 0; i < edges.size();) {
    size_t j = i;
    int net = 0;
    for (; j < edges.size() && edges[j][0] == edges[i][0] && edges[j][1] == edges[i][1]; ++j) net += edges[j][2];
    for (int k = 0; k < std::abs(net); ++k)
      open.push_back(net > 0 ? std::array<int32_t, 2>{edges[i][0], edges[i][1]}
                             : std::array<int32_t, 2>{edges[i][1], edges[i][0]});
    i = j;
  }
  addCaps(open, points, &triangles);
  tree_ = BuildTriangleTree(std::move(triangles));

  for (const Vec3& d : kRayDirections) {
    const double length = Norm(d);
    directions_.push_back({d.x / length, d.y / length, d.z / length});
  }
}

void CageInterior::addCaps(const std::vector<std::array<int32_t, 2>>& open, const std::vector<Vec3>& points,
                           std::vector<TreeTriangle>* triangles) {
  if (open.empty()) return;
  // The holes: the boundary's connected pieces (each closes on itself).
  std::vector<int32_t> parent(points.size());
  for (size_t i = 0; i < parent.size(); ++i) parent[i] = static_cast<int32_t>(i);
  auto root = [&](int32_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  for (const auto& [a, b] : open) parent[root(a)] = root(b);
  std::vector<int32_t> hole(points.size(), -1);
  std::vector<std::vector<std::array<Vec3, 2>>> holes;
  for (const auto& [a, b] : open) {
    int32_t& number = hole[root(a)];
    if (number < 0) number = static_cast<int32_t>(holes.size()), holes.emplace_back();
    holes[number].push_back({points[a], points[b]});
  }
  std::vector<TreeTriangle> capTriangles;
  for (const auto& edges : holes) {
    // Each hole's cap is a fan from the mean of its points.
    Cap cap;
    Vec3 apex{0, 0, 0};
    for (const auto& edge : edges) apex = Add(apex, edge[0]);
    const auto count = static_cast<double>(edges.size());
    apex = {apex.x / count, apex.y / count, apex.z / count};
    Vec3 lo = apex, hi = apex, normal{0, 0, 0};
    for (const auto& edge : edges) {
      capTriangles.push_back({apex, edge[0], edge[1], true});
      const Vec3 n = Cross(Sub(edge[0], apex), Sub(edge[1], apex));
      cap.area += 0.5 * Norm(n);
      normal = Add(normal, n);
      for (const Vec3& p : edge) {
        lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
        hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
      }
    }
    cap.centre = {0.5 * (lo.x + hi.x), 0.5 * (lo.y + hi.y), 0.5 * (lo.z + hi.z)};
    cap.radius = Norm(Sub(hi, cap.centre)) * (1 + 1e-9);
    // A plane polygon that the fan covers once, all its triangles turning the
    // same way: its winding number stays within (-1/2, 1/2).
    const double length = Norm(normal);
    cap.flat = length > 0;
    double turning = 0.0;
    for (const auto& edge : edges) {
      if (!cap.flat) break;
      const Vec3 a = Sub(edge[0], apex), b = Sub(edge[1], apex);
      const double height = Dot(normal, a) / length, turn = Dot(normal, Cross(a, b)) / length;
      cap.flat = std::fabs(height) <= kOnSurface && turn >= 0;
      turning += std::atan2(turn, Dot(a, b));
    }
    cap.flat = cap.flat && std::fabs(turning - 2 * std::numbers::pi) <= 1e-6;
    caps_.push_back(cap);
  }
  // Turned over, the caps close the faces up.
  for (const TreeTriangle& t : capTriangles) triangles->push_back({t.a, t.c, t.b, true});
  capTree_ = std::make_unique<SolidAngleTree>(std::move(capTriangles));
}

bool CageInterior::capsNegligible(const Vec3& p) const {
  // Bounds on each cap's |w| (never reached): 1/2 for a flat one, and far
  // away its area over 4 pi times the squared distance.
  double bound = 0.0;
  for (const Cap& cap : caps_) {
    double capBound = cap.flat ? 0.5 : INFINITY;
    const double gap = Norm(Sub(p, cap.centre)) - cap.radius;
    if (gap > 0) capBound = std::fmin(capBound, cap.area / (4.0 * std::numbers::pi * gap * gap));
    bound += capBound;
    if (bound > 0.5) return false;
  }
  return true;
}

double CageInterior::exactInFrame(const Vec3& p) const {
  double sum = 0.0;
  for (const TreeTriangle& t : tree_.triangles)
    if (!t.cap) sum += SolidAngle(Sub(t.a, p), Sub(t.b, p), Sub(t.c, p));
  return sum / (4.0 * std::numbers::pi);
}

double CageInterior::exactWinding(const Vec3& point) const {
  const Vec3 p = frame_.apply(point);
  return Finite(p) ? exactInFrame(p) : 0.0;
}

Winding CageInterior::windingInFrame(const Vec3& p, bool decideOnly) const {
  // The cage lies within [-1, 1] on every axis: this far away its winding
  // number is below 1e-13 times its area (and the products below could
  // overflow).
  if (!Finite(p) || std::fmax(std::fabs(p.x), std::fmax(std::fabs(p.y), std::fabs(p.z))) > kFarAway) return {};
  for (const Vec3& d : directions_) {
    int count = 0;
    const RayOutcome outcome = CountCrossings(tree_, p, d, &count);
    if (outcome == RayOutcome::kOnSurface) return {1.0, true};
    if (outcome == RayOutcome::kAmbiguous) continue;
    if (!capTree_) return {static_cast<double>(count), false};
    if (decideOnly) {
      // When the caps together stay below 1/2, the count alone tells: 0 is
      // outside, any other count inside.
      if (capsNegligible(p)) return {count == 0 ? 0.0 : 1.0, false};
      for (double opening : kOpenings) {
        const SolidAngleTree::Estimate caps = capTree_->estimate(p, opening);
        const double value = count + caps.value;
        if (std::fabs(value) - caps.error >= 0.5 || std::fabs(value) + caps.error < 0.5) return {value, false};
      }
    }
    return {count + capTree_->exact(p), false};
  }
  return {exactInFrame(p), false};
}

Winding CageInterior::winding(const Vec3& point) const { return windingInFrame(frame_.apply(point), false); }

bool CageInterior::inside(const Vec3& point) const {
  const Winding w = windingInFrame(frame_.apply(point), true);
  return w.onSurface || std::fabs(w.number) >= 0.5;
}

std::vector<uint8_t> PointsOutside(const CageInterior& interior, const std::vector<Vec3>& points, int threads) {
  std::vector<uint8_t> outside(points.size(), 0);
  const size_t tasks = (points.size() + kPointsPerTask - 1) / kPointsPerTask;
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t task = next++; task < tasks; task = next++) {
      const size_t end = std::min(points.size(), (task + 1) * kPointsPerTask);
      for (size_t i = task * kPointsPerTask; i < end; ++i) outside[i] = interior.inside(points[i]) ? 0 : 1;
    }
  };
  RunWorkers(threads, tasks, work);
  return outside;
}

}  // namespace checks
