// Meshes with normals as modelling programs write them: per point, the
// angle-weighted sum of the normals of the faces around it, shared by the
// faces of one smoothing group and split where groups meet. And how far a
// written file's normals turned from those it was made from.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/obj_file.h"

namespace test_support {

namespace authored {

inline Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Length(const Vec3& a) { return std::sqrt(Dot(a, a)); }
inline double Angle(const Vec3& a, const Vec3& b) { return std::atan2(Length(Cross(a, b)), Dot(a, b)); }

// Newell's normal: twice the area, pointing out of a counter-clockwise face.
inline Vec3 FaceNormal(const std::vector<int32_t>& polygon, const std::vector<Vec3>& points) {
  Vec3 n{0.0, 0.0, 0.0};
  for (size_t k = 0; k < polygon.size(); ++k) {
    const Vec3& a = points[static_cast<size_t>(polygon[k])];
    const Vec3& b = points[static_cast<size_t>(polygon[(k + 1) % polygon.size()])];
    n.x += (a.y - b.y) * (a.z + b.z);
    n.y += (a.z - b.z) * (a.x + b.x);
    n.z += (a.x - b.x) * (a.y + b.y);
  }
  return n;
}

}  // namespace authored

// OBJ text of mesh with a "vn" per point and smoothing group (group(f) of
// each polygon f): the angle-weighted sum of the unit normals of the group's
// faces around the point, made unit, written with 6 digits as exporters do.
inline std::string ObjWithAuthoredNormals(const host::Mesh& mesh, const std::function<int(size_t)>& group) {
  using namespace authored;
  std::map<std::pair<int32_t, int>, size_t> index;  // (point, group) -> normal
  std::vector<Vec3> sums;
  std::vector<std::vector<size_t>> corners(mesh.polygons.size());
  for (size_t f = 0; f < mesh.polygons.size(); ++f) {
    const std::vector<int32_t>& polygon = mesh.polygons[f];
    const Vec3 n = FaceNormal(polygon, mesh.points);
    const double length = Length(n);
    for (size_t k = 0; k < polygon.size(); ++k) {
      const auto [it, added] = index.emplace(std::make_pair(polygon[k], group(f)), sums.size());
      if (added) sums.push_back({0.0, 0.0, 0.0});
      const Vec3& at = mesh.points[static_cast<size_t>(polygon[k])];
      const double angle =
          Angle(Sub(mesh.points[static_cast<size_t>(polygon[(k + polygon.size() - 1) % polygon.size()])], at),
                Sub(mesh.points[static_cast<size_t>(polygon[(k + 1) % polygon.size()])], at));
      Vec3& sum = sums[it->second];
      sum = {sum.x + n.x / length * angle, sum.y + n.y / length * angle, sum.z + n.z / length * angle};
      corners[f].push_back(it->second);
    }
  }
  std::string text = "# authored normals\n";
  char line[128];
  for (const Vec3& p : mesh.points) {
    std::snprintf(line, sizeof line, "v %.9g %.9g %.9g\n", p.x, p.y, p.z);
    text += line;
  }
  for (const Vec3& s : sums) {
    const double length = Length(s);
    std::snprintf(line, sizeof line, "vn %.6f %.6f %.6f\n", s.x / length, s.y / length, s.z / length);
    text += line;
  }
  for (size_t f = 0; f < mesh.polygons.size(); ++f) {
    text += "f";
    for (size_t k = 0; k < mesh.polygons[f].size(); ++k)
      text += " " + std::to_string(mesh.polygons[f][k] + 1) + "//" + std::to_string(corners[f][k] + 1);
    text += "\n";
  }
  return text;
}

// A sphere of radius 1 made of a cube's faces cut into k by k quads (k even),
// with normals split along the equator (z = 0) between the faces above and
// below it, shared everywhere else.
inline std::string AuthoredSphereObj(int k) {
  host::Mesh mesh;
  std::map<std::tuple<int, int, int>, int32_t> points;  // on the cube's grid, from -k to k
  auto point = [&](int x, int y, int z) {
    const auto [it, added] = points.emplace(std::make_tuple(x, y, z), static_cast<int32_t>(mesh.points.size()));
    if (added) {
      const double length = std::sqrt(double(x) * x + double(y) * y + double(z) * z);
      mesh.points.push_back({x / length, y / length, z / length});
    }
    return it->second;
  };
  // Each face of the cube: its normal axis and sign, with two axes across it
  // in an order that makes its quads counter-clockwise seen from outside.
  for (int axis = 0; axis < 3; ++axis)
    for (int sign : {-1, 1})
      for (int i = -k; i < k; i += 2)
        for (int j = -k; j < k; j += 2) {
          int corners[4][2] = {{i, j}, {i + 2, j}, {i + 2, j + 2}, {i, j + 2}};
          std::vector<int32_t> quad;
          for (int c = 0; c < 4; ++c) {
            const int u = corners[sign > 0 ? c : 3 - c][0], v = corners[sign > 0 ? c : 3 - c][1];
            int xyz[3];
            xyz[axis] = sign * k;
            xyz[(axis + 1) % 3] = u;
            xyz[(axis + 2) % 3] = v;
            quad.push_back(point(xyz[0], xyz[1], xyz[2]));
          }
          mesh.polygons.push_back(quad);
        }
  return ObjWithAuthoredNormals(mesh, [&mesh](size_t f) {
    double z = 0.0;
    for (int32_t p : mesh.polygons[f]) z += mesh.points[static_cast<size_t>(p)].z;
    return z > 0.0 ? 1 : 0;
  });
}

// For every normal some face names: how far (radians) the normal as written
// in after turned from the one in before, and the largest turn of the faces
// that name it between before's points and after's.
struct NormalTurn {
  double normal = 0.0, faces = 0.0;
};
inline std::vector<NormalTurn> NormalTurns(const host::ObjFile& before, const host::ObjFile& after) {
  using namespace authored;
  std::vector<NormalTurn> turns(before.normals.size());
  std::vector<char> named(before.normals.size(), 0);
  size_t corner = 0;
  for (const std::vector<int32_t>& polygon : before.mesh.polygons) {
    const double faceTurn =
        Angle(FaceNormal(polygon, before.mesh.points), FaceNormal(polygon, after.mesh.points));
    for (size_t k = 0; k < polygon.size(); ++k, ++corner) {
      const int32_t normal = before.cornerNormals.empty() ? -1 : before.cornerNormals[corner];
      if (normal < 0) continue;
      const size_t i = static_cast<size_t>(normal);
      named[i] = 1;
      turns[i].faces = std::max(turns[i].faces, faceTurn);
    }
  }
  std::vector<NormalTurn> result;
  for (size_t i = 0; i < turns.size(); ++i) {
    if (!named[i]) continue;
    turns[i].normal = Angle(before.normals[i], after.normals[i]);
    result.push_back(turns[i]);
  }
  return result;
}

}  // namespace test_support
