#include "checks/parallel_tasks.h"
#include "checks/self_intersection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>

#include "checks/triangle_tree.h"
#include "checks/vector_math.h"

namespace checks {

namespace {

constexpr size_t kTrianglesPerTask = 4096;

struct Triangle {
  Vec3 corner[3];
  Vec3 normal;  // unit length
  Vec3 lo, hi;  // its bounding box
  int32_t face;
};

// -1, 0 or 1: below, on or above a plane, at this signed distance from it.
int Side(double distance) { return distance > kOnSurface ? 1 : distance < -kOnSurface ? -1 : 0; }

bool Straddles(const int side[3]) {
  return (side[0] > 0 || side[1] > 0 || side[2] > 0) && (side[0] < 0 || side[1] < 0 || side[2] < 0);
}

// Where a triangle that straddles a plane meets it, as positions along the
// unit direction of a line in that plane: the lowest and the highest. A
// corner on the plane is taken as it is, so that two triangles sharing it
// give it the very same position.
void Reach(const Triangle& t, const double distance[3], const int side[3], const Vec3& along, double* low, double* high) {
  *low = INFINITY;
  *high = -INFINITY;
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    double at;
    if (side[i] == 0) {
      at = Dot(along, t.corner[i]);
    } else if (side[i] * side[j] < 0) {
      const double f = distance[i] / (distance[i] - distance[j]);
      const Vec3 &a = t.corner[i], &b = t.corner[j];
      at = Dot(along, {a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)});
    } else {
      continue;
    }
    *low = at < *low ? at : *low;
    *high = at > *high ? at : *high;
  }
}

bool PassThrough(const Triangle& a, const Triangle& b) {
  double fromB[3], fromA[3];
  int sideOfB[3], sideOfA[3];
  for (int i = 0; i < 3; ++i) sideOfB[i] = Side(fromB[i] = Dot(b.normal, Sub(a.corner[i], b.corner[0])));
  if (!Straddles(sideOfB)) return false;
  for (int i = 0; i < 3; ++i) sideOfA[i] = Side(fromA[i] = Dot(a.normal, Sub(b.corner[i], a.corner[0])));
  if (!Straddles(sideOfA)) return false;
  Vec3 along = Cross(a.normal, b.normal);
  const double length = Norm(along);
  if (!(length > 0)) return false;
  along = {along.x / length, along.y / length, along.z / length};
  double aLow, aHigh, bLow, bHigh;
  Reach(a, fromB, sideOfB, along, &aLow, &aHigh);
  Reach(b, fromA, sideOfA, along, &bLow, &bHigh);
  return (aHigh < bHigh ? aHigh : bHigh) - (aLow > bLow ? aLow : bLow) > kOnSurface;
}

bool BoxesMeet(const Triangle& a, const Triangle& b) {
  return a.lo.x <= b.hi.x && b.lo.x <= a.hi.x && a.lo.y <= b.hi.y && b.lo.y <= a.hi.y && a.lo.z <= b.hi.z &&
         b.lo.z <= a.hi.z;
}

// The fans' triangles with area, in the order of the faces and their corners.
std::vector<Triangle> FanTriangles(const std::vector<std::vector<int32_t>>& faces, const std::vector<Vec3>& points,
                                   double minArea) {
  std::vector<Triangle> triangles;
  for (size_t j = 0; j < faces.size(); ++j) {
    const std::vector<int32_t>& face = faces[j];
    const bool usable = face.size() >= 3 && std::all_of(face.begin(), face.end(), [&](int32_t k) {
      return k >= 0 && static_cast<size_t>(k) < points.size() && Finite(points[k]);
    });
    if (!usable) continue;
    for (size_t i = 1; i + 1 < face.size(); ++i) {
      Triangle t{{points[face[0]], points[face[i]], points[face[i + 1]]}, {}, {}, {}, static_cast<int32_t>(j)};
      const Vec3 normal = Cross(Sub(t.corner[1], t.corner[0]), Sub(t.corner[2], t.corner[0]));
      const double area = Norm(normal);
      if (!(area > minArea)) continue;
      t.normal = {normal.x / area, normal.y / area, normal.z / area};
      // Plain comparisons (the corners are finite): fmin and fmax are calls.
      t.lo = t.hi = t.corner[0];
      for (const Vec3& p : t.corner) {
        t.lo = {p.x < t.lo.x ? p.x : t.lo.x, p.y < t.lo.y ? p.y : t.lo.y, p.z < t.lo.z ? p.z : t.lo.z};
        t.hi = {p.x > t.hi.x ? p.x : t.hi.x, p.y > t.hi.y ? p.y : t.hi.y, p.z > t.hi.z ? p.z : t.hi.z};
      }
      triangles.push_back(t);
    }
  }
  return triangles;
}

}  // namespace

std::vector<FacePair> CrossingFaces(const std::vector<std::vector<int32_t>>& faces, const std::vector<Vec3>& points,
                                    double minArea, int threads) {
  const std::vector<Triangle> fans = FanTriangles(faces, points, minArea);
  std::vector<TreeTriangle> boxed;
  boxed.reserve(fans.size());
  for (size_t i = 0; i < fans.size(); ++i)
    boxed.push_back({fans[i].corner[0], fans[i].corner[1], fans[i].corner[2], false, static_cast<int32_t>(i)});
  const TriangleTree tree = BuildTriangleTree(std::move(boxed));
  // In the tree's order, so that neighbours in the tree are near in memory.
  std::vector<Triangle> triangles;
  triangles.reserve(fans.size());
  for (const TreeTriangle& t : tree.triangles) triangles.push_back(fans[t.id]);

  // Each pair is tested once, from the one of its triangles that comes first.
  const size_t tasks = (triangles.size() + kTrianglesPerTask - 1) / kTrianglesPerTask;
  std::vector<std::vector<FacePair>> found(tasks);
  std::atomic<size_t> next{0};
  auto work = [&] {
    std::vector<int32_t> near;
    for (size_t task = next++; task < tasks; task = next++) {
      const size_t end = std::min(triangles.size(), (task + 1) * kTrianglesPerTask);
      for (size_t k = task * kTrianglesPerTask; k < end; ++k) {
        const Triangle& a = triangles[k];
        TrianglesNear(tree, a.lo, a.hi, &near);
        for (int32_t m : near) {
          const Triangle& b = triangles[m];
          if (static_cast<size_t>(m) <= k || b.face == a.face || !BoxesMeet(a, b) || !PassThrough(a, b)) continue;
          found[task].push_back({std::min(a.face, b.face), std::max(a.face, b.face)});
        }
      }
    }
  };
  RunWorkers(threads, tasks, work);

  std::vector<FacePair> pairs;
  for (const std::vector<FacePair>& part : found) pairs.insert(pairs.end(), part.begin(), part.end());
  const auto before = [](const FacePair& a, const FacePair& b) {
    return a.first != b.first ? a.first < b.first : a.second < b.second;
  };
  std::sort(pairs.begin(), pairs.end(), before);
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  return pairs;
}

}  // namespace checks
