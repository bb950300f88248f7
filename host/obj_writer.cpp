// OBJ writing: a deformed copy of a file as read, and a plain mesh.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "host/obj_file.h"

namespace host {
namespace {

void AppendNumber(std::string& out, double value) {
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, error == std::errc() ? end : buffer);
}

void AppendVector(std::string& out, const Vec3& v) {
  AppendNumber(out, v.x);
  out += ' ';
  AppendNumber(out, v.y);
  out += ' ';
  AppendNumber(out, v.z);
}

// Bit for bit, so that -0 and 0 count as different.
bool Unmoved(const Vec3& a, const Vec3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameBits(const Vec3& a, const Vec3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The polygon's normal scaled by twice its area (Newell's method), so that
// summing it over the faces around a normal weights each face by its area.
Vec3 AreaNormal(const std::vector<int32_t>& polygon, const std::vector<Vec3>& points) {
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

// The text of each normal a face names, at the deformed points; "" for a
// normal that keeps its text (none of its faces moved, or they have no area).
std::vector<std::string> DeformedNormals(const ObjFile& file, const std::vector<Vec3>& points) {
  std::vector<std::string> texts(file.normalValues.size());
  if (file.cornerNormals.empty()) return texts;
  std::vector<Vec3> sums(file.normalValues.size(), Vec3{0.0, 0.0, 0.0});
  std::vector<char> moved(file.normalValues.size(), 0);
  size_t corner = 0;
  for (const std::vector<int32_t>& polygon : file.mesh.polygons) {
    const Vec3 n = AreaNormal(polygon, points);
    bool polygonMoved = false;
    for (int32_t point : polygon) {
      const size_t i = static_cast<size_t>(point);
      polygonMoved = polygonMoved || !Unmoved(points[i], file.mesh.points[i]);
    }
    for (size_t k = 0; k < polygon.size(); ++k, ++corner) {
      const int32_t normal = file.cornerNormals[corner];
      if (normal < 0) continue;
      Vec3& sum = sums[static_cast<size_t>(normal)];
      sum = {sum.x + n.x, sum.y + n.y, sum.z + n.z};
      moved[static_cast<size_t>(normal)] |= static_cast<char>(polygonMoved);
    }
  }
  for (size_t i = 0; i < sums.size(); ++i) {
    if (!moved[i]) continue;
    const Vec3& s = sums[i];
    const double length = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
    if (!(length > 0.0) || !std::isfinite(length)) continue;
    AppendVector(texts[i], Vec3{s.x / length, s.y / length, s.z / length});
  }
  return texts;
}

}  // namespace

std::string NumberText(double value) {
  std::string text;
  AppendNumber(text, value);
  return text;
}

std::string DeformedObjText(const ObjFile& file, const std::vector<Vec3>& points) {
  const std::vector<std::string> normals = DeformedNormals(file, points);
  std::string out;
  out.reserve(file.text.size() + file.text.size() / 8);
  // Points and normals in the order their spans appear in the text.
  size_t copied = 0, p = 0, n = 0;
  while (p < file.pointValues.size() || n < normals.size()) {
    const bool point = n == normals.size() ||
                       (p < file.pointValues.size() && file.pointValues[p].begin < file.normalValues[n].begin);
    const TextSpan& span = point ? file.pointValues[p] : file.normalValues[n];
    // What keeps its text is copied with the text around it.
    if (point && Unmoved(points[p], file.mesh.points[p])) {
      ++p;
      continue;
    }
    if (!point && normals[n].empty()) {
      ++n;
      continue;
    }
    if (point && SameBits(points[p], file.mesh.points[p])) {  // unmoved: its text stays as written
      ++p;
      continue;
    }
    out.append(file.text, copied, span.begin - copied);
    if (point)
      AppendVector(out, points[p++]);
    else
      out += normals[n++];
    copied = span.end;
  }
  out.append(file.text, copied, std::string::npos);
  return out;
}

void WriteObj(const std::string& path, const Mesh& mesh) {
  std::string out;
  for (const Vec3& p : mesh.points) {
    out += "v ";
    AppendVector(out, p);
    out += '\n';
  }
  char buffer[16];
  for (const auto& polygon : mesh.polygons) {
    out += 'f';
    for (int32_t point : polygon) {
      out += ' ';
      out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, point + 1).ptr);
    }
    out += '\n';
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) throw std::runtime_error("OBJ file " + path + ": cannot be created: " + std::strerror(errno));
  const bool ok = std::fwrite(out.data(), 1, out.size(), file.get()) == out.size();
  const int writeError = ok ? 0 : errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!ok || !closed)
    throw std::runtime_error("OBJ file " + path + ": cannot be written: " + std::strerror(ok ? errno : writeError));
}

}  // namespace host
