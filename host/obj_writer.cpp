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

Vec3 Add(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Scale(const Vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(const Vec3& a) { return std::sqrt(Dot(a, a)); }

// The angle between two vectors, accurate for small angles too.
double AngleBetween(const Vec3& a, const Vec3& b) { return std::atan2(Length(Cross(a, b)), Dot(a, b)); }

// The polygon's normal scaled by twice its area (Newell's method).
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

// The smallest rotation taking unit vector a to unit vector b, applied to v.
// Opposite vectors turn half a turn about an axis across a.
Vec3 RotateLike(const Vec3& a, const Vec3& b, const Vec3& v) {
  const double c = Dot(a, b);
  if (1.0 + c < 1e-12) {
    const Vec3 other = std::fabs(a.x) < 0.5 ? Vec3{1.0, 0.0, 0.0} : Vec3{0.0, 1.0, 0.0};
    const Vec3 axis = Cross(a, other);
    const Vec3 k = Scale(axis, 1.0 / Length(axis));
    return Sub(Scale(k, 2.0 * Dot(k, v)), v);
  }
  const Vec3 w = Cross(a, b);
  return Add(Add(Scale(v, c), Cross(w, v)), Scale(w, Dot(w, v) / (1.0 + c)));
}

// The angle of a polygon's corner k at points.
double CornerAngle(const std::vector<int32_t>& polygon, size_t k, const std::vector<Vec3>& points) {
  const size_t n = polygon.size();
  const Vec3& at = points[static_cast<size_t>(polygon[k])];
  const Vec3 before = Sub(points[static_cast<size_t>(polygon[(k + n - 1) % n])], at);
  const Vec3 after = Sub(points[static_cast<size_t>(polygon[(k + 1) % n])], at);
  const double angle = AngleBetween(before, after);
  return std::isfinite(angle) ? angle : 0.0;
}

// A normal smaller turns than this keep their text: far below what a
// shading or a float can tell, and above the rounding of a moved face.
constexpr double kUnturned = 1e-9;

// Each "vn" a face names, turned by its faces: the angle-weighted sums of
// the turned normal (and, for faces whose corners have no angle, the plain
// sums), and whether any of its faces moved.
struct TurnedNormal {
  Vec3 weighted{0.0, 0.0, 0.0}, plain{0.0, 0.0, 0.0};
  bool moved = false;
};

// The text of each normal a face names, at the deformed points; "" for a
// normal that keeps its text.
std::vector<std::string> DeformedNormals(const ObjFile& file, const std::vector<Vec3>& points) {
  std::vector<std::string> texts(file.normalValues.size());
  if (file.cornerNormals.empty()) return texts;
  std::vector<TurnedNormal> turned(file.normals.size());
  const std::vector<Vec3>& rest = file.mesh.points;
  size_t corner = 0;
  for (const std::vector<int32_t>& polygon : file.mesh.polygons) {
    bool moved = false;
    for (int32_t point : polygon) {
      const auto k = static_cast<size_t>(point);
      moved = moved || !Unmoved(points[k], rest[k]);
    }
    const Vec3 before = AreaNormal(polygon, rest), after = AreaNormal(polygon, points);
    const double lengthBefore = Length(before), lengthAfter = Length(after);
    // A face without area, before or after, has no turn to give.
    const bool turns = moved && lengthBefore > 0.0 && lengthAfter > 0.0 && std::isfinite(lengthBefore) &&
                       std::isfinite(lengthAfter);
    const Vec3 a = Scale(before, 1.0 / lengthBefore), b = Scale(after, 1.0 / lengthAfter);
    for (size_t k = 0; k < polygon.size(); ++k, ++corner) {
      const int32_t normal = file.cornerNormals[corner];
      if (normal < 0) continue;
      TurnedNormal& sum = turned[static_cast<size_t>(normal)];
      sum.moved = sum.moved || moved;
      if (!turns) continue;
      const Vec3 v = RotateLike(a, b, file.normals[static_cast<size_t>(normal)]);
      sum.weighted = Add(sum.weighted, Scale(v, CornerAngle(polygon, k, rest)));
      sum.plain = Add(sum.plain, v);
    }
  }
  for (size_t i = 0; i < turned.size(); ++i) {
    const TurnedNormal& sum = turned[i];
    if (!sum.moved) continue;
    const Vec3& source = file.normals[i];
    const Vec3& s = Length(sum.weighted) > 0.0 ? sum.weighted : sum.plain;
    const double length = Length(s), wanted = Length(source);
    if (!(length > 0.0) || !std::isfinite(length) || !(wanted > 0.0)) continue;
    const Vec3 normal = Scale(s, wanted / length);
    if (!(AngleBetween(normal, source) >= kUnturned)) continue;
    AppendVector(texts[i], normal);
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
