// The OBJ reader and its deformed copy. The input is a file's bytes: it is
// read or refused with ObjError (any other exception, a crash or a sanitizer
// report is a finding). A file that reads must hold a mesh whose every index
// is in range and whose recorded spans lie in order within its text; a copy
// written with its own points must be the same bytes, and one written with
// moved points must read back as the same faces at exactly those points.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/obj_file.h"

namespace {

[[noreturn]] void Finding(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

void Require(bool holds, const char* what) {
  if (!holds) Finding(what);
}

// Spans within the text, each after the one before.
void CheckSpans(const std::vector<host::TextSpan>& spans, size_t textSize, const char* what) {
  size_t end = 0;
  for (const host::TextSpan& span : spans) {
    if (!(end <= span.begin && span.begin < span.end && span.end <= textSize))
      Finding(std::string(what) + ": span out of order or outside the text");
    end = span.end;
  }
}

void CheckFile(const host::ObjFile& file) {
  const host::Mesh& mesh = file.mesh;
  Require(file.pointValues.size() == mesh.points.size(), "one span per point");
  Require(file.polygonLines.size() == mesh.polygons.size(), "one line per polygon");
  size_t corners = 0;
  for (size_t j = 0; j < mesh.polygons.size(); ++j) {
    const std::vector<int32_t>& polygon = mesh.polygons[j];
    Require(polygon.size() >= 3, "a polygon of fewer than three corners");
    for (int32_t point : polygon) Require(point >= 0 && static_cast<size_t>(point) < mesh.points.size(), "point index");
    Require(file.polygonLines[j] >= 1 && (j == 0 || file.polygonLines[j] > file.polygonLines[j - 1]), "face lines");
    corners += polygon.size();
  }
  Require(file.cornerNormals.empty() || file.cornerNormals.size() == corners, "one normal per corner");
  for (int32_t normal : file.cornerNormals)
    Require(normal >= -1 && (normal < 0 || static_cast<size_t>(normal) < file.normalValues.size()), "normal index");
  CheckSpans(file.pointValues, file.text.size(), "points");
  CheckSpans(file.normalValues, file.text.size(), "normals");
}

bool SameBits(const Vec3& a, const Vec3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  host::ObjFile file;
  try {
    file = host::ParseObj(std::string(reinterpret_cast<const char*>(data), size), "input.obj");
  } catch (const host::ObjError&) {
    return 0;
  }
  CheckFile(file);

  // With its own points the copy is the file itself.
  Require(host::DeformedObjText(file, file.mesh.points) == file.text, "the copy with the same points differs");

  // With moved points it reads back as the same faces at exactly those points.
  std::vector<Vec3> moved = file.mesh.points;
  // Moved so that no finite coordinate overflows.
  for (Vec3& p : moved) p = {p.x * -0.5 + 1.0, p.y * 0.75 - 2.0, p.z * 0.25 + p.x * 0.5};
  host::ObjFile copy;
  try {
    copy = host::ParseObj(host::DeformedObjText(file, moved), "copy.obj");
  } catch (const host::ObjError& e) {
    Finding(std::string("the copy with moved points is refused: ") + e.what());
  }
  CheckFile(copy);
  Require(copy.mesh.polygons == file.mesh.polygons, "the copy's polygons differ");
  Require(copy.cornerNormals == file.cornerNormals, "the copy's corner normals differ");
  Require(copy.polygonLines == file.polygonLines, "the copy's face lines differ");
  Require(copy.normalValues.size() == file.normalValues.size(), "the copy's normal count differs");
  Require(copy.mesh.points.size() == moved.size(), "the copy's point count differs");
  for (size_t i = 0; i < moved.size(); ++i)
    Require(SameBits(copy.mesh.points[i], moved[i]), "a point of the copy differs");
  return 0;
}
