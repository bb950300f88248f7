// OBJ reading and writing: every polygon and corner form read exactly, bad
// input refused at its line, and a deformed copy that changes nothing but
// coordinates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "host/obj_file.h"
#include "host_test_support.h"
#include "support/authored_normals.h"

namespace {

std::string WriteText(const std::string& name, const std::string& text) {
  const std::string path = host_test::TempPath(name);
  std::ofstream(path) << text;
  return path;
}

TEST(ObjFile, WrittenMeshReadsBackWithPolygonsKept) {
  host::Mesh mesh = host_test::Cube(0.5);
  mesh.points.push_back({-1.25, 3.75, 1024});
  mesh.polygons.push_back({0, 1, 8, 3, 2});  // a pentagon stays a pentagon
  const std::string path = host_test::TempPath("round_trip.obj");
  host::WriteObj(path, mesh);
  const host::Mesh read = host::ReadObj(path);
  ASSERT_EQ(read.points.size(), mesh.points.size());
  for (size_t i = 0; i < mesh.points.size(); ++i) {
    EXPECT_EQ(read.points[i].x, mesh.points[i].x);
    EXPECT_EQ(read.points[i].y, mesh.points[i].y);
    EXPECT_EQ(read.points[i].z, mesh.points[i].z);
  }
  EXPECT_EQ(read.polygons, mesh.polygons);
}

TEST(ObjFile, ShapesAreConcatenatedAndExtrasIgnored) {
  const std::string path = WriteText("two_shapes.obj",
                                     "# two shapes\n"
                                     "o first\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n"
                                     "o second\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nvt 0 0\nf -4 -3/1 -2 -1\n");
  const host::Mesh mesh = host::ReadObj(path);
  EXPECT_EQ(mesh.points.size(), 7u);
  EXPECT_EQ(mesh.polygons, (std::vector<std::vector<int32_t>>{{0, 1, 2}, {3, 4, 5, 6}}));
}

TEST(ObjFile, BadFilesNameTheFile) {
  const std::string missing = host_test::TempPath("missing.obj");
  const std::string badIndex = WriteText("bad_index.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n");
  for (const std::string& path : {missing, badIndex}) {
    try {
      host::ReadObj(path);
      ADD_FAILURE() << path << " was read";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  host::Host host;
  EXPECT_THROW(host.addObjectFromObj(missing), std::runtime_error);
  EXPECT_TRUE(host.objectIds().empty());
  EXPECT_THROW(host::WriteObj("/nonexistent/dir/out.obj", host_test::Cube()), std::runtime_error);
}

TEST(ObjFile, ObjectFromFileIsNamedAfterIt) {
  const std::string path = WriteText("quad_mesh.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  host::Host host;
  const uint32_t id = host.addObjectFromObj(path);
  EXPECT_EQ(host.object(id)->name, "quad_mesh");
  EXPECT_EQ(host.object(host.addObjectFromObj(path, "named"))->name, "named");
}

using Polygons = std::vector<std::vector<int32_t>>;

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The error ParseObj throws for text; fails the test when text reads.
host::ObjError RefusalOf(const std::string& text) {
  try {
    host::ParseObj(text, "t.obj");
  } catch (const host::ObjError& e) {
    return e;
  }
  ADD_FAILURE() << "read: " << text.substr(0, 80);
  return host::ObjError("", 0, "");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ObjFile, PolygonsOfAnySizeKeepTheirCornersInOrder) {
  constexpr int kPoints = 1009;
  std::string text;
  for (int i = 0; i < kPoints; ++i) text += "v " + std::to_string(i) + " 0 0\n";
  Polygons expected;
  // Faces after the huge one show that no count was kept modulo 256.
  for (int corners : {3, 255, 256, 257, 1000, 100000, 3, 4, 5, 3}) {
    std::vector<int32_t>& polygon = expected.emplace_back();
    text += "f";
    for (int k = 0; k < corners; ++k) {
      polygon.push_back(static_cast<int32_t>((k * 37 + expected.size() * 11) % kPoints));
      text += " " + std::to_string(polygon.back() + 1);
    }
    text += "\n";
  }
  const host::ObjFile file = host::ParseObj(text, "big.obj");
  ASSERT_EQ(file.mesh.polygons.size(), expected.size());
  for (size_t j = 0; j < expected.size(); ++j)
    EXPECT_TRUE(file.mesh.polygons[j] == expected[j]) << "face " << j + 1 << " of " << expected[j].size();
  EXPECT_EQ(file.polygonLines.back(), kPoints + expected.size());
}

TEST(ObjFile, CornerFormsAndRelativeIndicesMix) {
  const host::ObjFile file = host::ParseObj(
      "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\nvn 0 0 -1\n"
      "f 1 2 3\nf 1/1 2/2 3/3\nf 1//1 3//1 4//1\nf 4/1/2 3/2/2 2/3/2 1/1/2\nf -4 -3/-2 -2//-1 -1/-3/-2\n",
      "forms.obj");
  EXPECT_EQ(file.mesh.polygons, (Polygons{{0, 1, 2}, {0, 1, 2}, {0, 2, 3}, {3, 2, 1, 0}, {0, 1, 2, 3}}));
  EXPECT_EQ(file.cornerNormals, (std::vector<int32_t>{-1, -1, -1, -1, -1, -1, 0, 0, 0, 1, 1, 1, 1, -1, -1, 1, 0}));

  const std::string head = "# three points\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\nf 1/1/1 2/1/1 3/1/1\n";
  for (const char* corner : {"0", "4", "-4", "1/2/3/4", "a", "1//", "//1", "1/", "1/2", "1/1/2", "1/-2", "1.5"}) {
    const host::ObjError e = RefusalOf(head + "f " + corner + " 2 3\nf 1 2 3\n");
    EXPECT_EQ(e.line, 8u) << corner << ": " << e.what();
    EXPECT_EQ(e.path, "t.obj");
  }
}

TEST(ObjFile, NumbersReadAsStrtodReadsThemAndMustBeFinite) {
  const std::pair<const char*, double> numbers[] = {{"0x1p-2", 0.25}, {"+1.5", 1.5}, {"1e-310", 1e-310},
                                                    {"1E3", 1000.0},  {"-0", -0.0}, {"0.1", 0.1}};
  for (const auto& [number, value] : numbers) {
    const host::ObjFile file = host::ParseObj(std::string("v ") + number + " 0 0\nv 0 1 0\nf 1 2 1\n", "n.obj");
    EXPECT_EQ(Bits(file.mesh.points[0].x), Bits(value)) << number;
  }
  for (const char* number : {"nan", "inf", "-infinity", "1e999", "1.5.2", "abc", "0x", "1e", "1,5"}) {
    for (const char* line : {"v 0 1 ", "vt 0 ", "vn 0 0 "}) {
      const host::ObjError e = RefusalOf(std::string("v 0 0 0\n") + line + number + "\n");
      EXPECT_EQ(e.line, 2u) << line << number << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("line 2: "), std::string::npos) << e.what();
    }
  }
}

TEST(ObjFile, OtherFormatsAreNamedFromTheirFirstBytes) {
  using namespace std::string_literals;
  const std::pair<std::string, const char*> others[] = {
      {"ply\nformat ascii 1.0\n", "PLY"},          {"solid cube\n  facet normal 0 0 1\n", "STL"},
      {"glTF\x02\0\0\0"s, "glTF"},                {"\n {\"asset\": {\"version\": \"2.0\"}}", "JSON"},
      {"Kaydara FBX Binary  \0\x1a\0"s, "FBX"},   {"\x1f\x8b\x08\0"s, "gzip"},
      {"\xff\xfev\0 \0000\0"s, "UTF-16"},         {"v 0 0 0\n\0\0\0\0"s, "binary"},
      {"v 0 0 0\n#" + std::string(5000, '-') + "\0\n"s, "binary"}};
  for (const auto& [bytes, name] : others) {
    const host::ObjError e = RefusalOf(bytes);
    EXPECT_EQ(e.line, 0u) << name;
    EXPECT_NE(e.problem.find(name), std::string::npos) << e.problem;
  }
  // A UTF-8 byte-order mark is no obstacle, and a deformed copy keeps it.
  const std::string marked = "\xef\xbb\xbfv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  const host::ObjFile file = host::ParseObj(marked, "marked.obj");
  EXPECT_EQ(file.mesh.points.size(), 3u);
  EXPECT_EQ(host::DeformedObjText(file, file.mesh.points), marked);
}

// A unit cube with every kind of record, CRLF line endings and the faces of
// host_test::Cube, each face naming the normal of its side; the last normal
// is named by no face.
std::string CubeText() {
  std::string text =
      "# a cube with every kind of record\nmtllib cube.mtl\no cube\n"
      "v 0 0 0 1\nv 1 0 0 0.5 0.25 1\nv 0 1.0 0\nv 1 1 0\t# tabbed\nv 0 0 1\nv 1 0 1\nv 0 1 1\n"
      "v  1  1  1   # the far corner\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
      "vn 0 0 -1\nvn 0 0 1\nvn 0.0 -1 0\nvn 0 1 0\nvn -1 0 0\nvn 1 0 0\nvn 0.25 0.5 -0.125 # named by no face\n"
      "g caps\nusemtl red\ns 1\nf 1/1/1 3/4/1 4/3/1 2/2/1\nf 5/1/2 6/2/2 8/3/2 7/4/2 # top\n"
      "s off\ng sides\nusemtl blue\nf 1//3 2//3 6//3 5//3\nf 3//4 7//4 8//4 4//4\n"
      "f -8/-4/-3 -4/-3/-3 -2/-2/-3 -6/-1/-3\nf 2/1/6 4/2/6 8/3/6 6/4/6\np 1\nl 1 2 8\n# end\n";
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) text.insert(at, "\r");
  return text;
}

// The text with the coordinates DeformedObjText may replace cut out: the
// points' and those of the normals some face names.
std::string WithoutCoordinates(const host::ObjFile& file) {
  std::vector<host::TextSpan> spans = file.pointValues;
  for (int32_t normal : file.cornerNormals)
    if (normal >= 0) spans.push_back(file.normalValues[static_cast<size_t>(normal)]);
  std::sort(spans.begin(), spans.end(), [](auto& a, auto& b) { return a.begin < b.begin; });
  spans.erase(std::unique(spans.begin(), spans.end(), [](auto& a, auto& b) { return a.begin == b.begin; }),
              spans.end());
  std::string text;
  size_t copied = 0;
  for (const host::TextSpan& span : spans) {
    text += file.text.substr(copied, span.begin - copied) + "<>";
    copied = span.end;
  }
  return text + file.text.substr(copied);
}

Vec3 ReadVector(const std::string& text, const host::TextSpan& span) {
  const char* at = text.c_str() + span.begin;
  char* end = nullptr;
  Vec3 v;
  v.x = std::strtod(at, &end);
  v.y = std::strtod(end, &end);
  v.z = std::strtod(end, &end);
  EXPECT_EQ(end, text.c_str() + span.end);
  return v;
}

TEST(DeformedObjText, SamePointsGiveTheSameBytes) {
  const std::string text = CubeText();
  const host::ObjFile file = host::ParseObj(text, "cube.obj");
  EXPECT_EQ(file.mesh.polygons, host_test::Cube().polygons);
  EXPECT_EQ(file.normalValues.size(), 7u);
  EXPECT_EQ(host::DeformedObjText(file, file.mesh.points), text);
}

TEST(DeformedObjText, MovedPointsChangeOnlyCoordinatesAndTurnTheNormals) {
  const host::ObjFile file = host::ParseObj(CubeText(), "cube.obj");
  // A rotation about (1, 2, 2) / 3 by 0.7 radians, then a shift.
  const double c = std::cos(0.7), s = std::sin(0.7), u[3] = {1.0 / 3, 2.0 / 3, 2.0 / 3};
  auto rotate = [&](const Vec3& p) {
    const double d = (u[0] * p.x + u[1] * p.y + u[2] * p.z) * (1 - c);
    return Vec3{p.x * c + (u[1] * p.z - u[2] * p.y) * s + u[0] * d,
                p.y * c + (u[2] * p.x - u[0] * p.z) * s + u[1] * d,
                p.z * c + (u[0] * p.y - u[1] * p.x) * s + u[2] * d};
  };
  std::vector<Vec3> moved;
  for (const Vec3& p : file.mesh.points) {
    const Vec3 r = rotate(p);
    moved.push_back({r.x + 0.1, r.y - 7.25, r.z + 1e-9});
  }
  const host::ObjFile out = host::ParseObj(host::DeformedObjText(file, moved), "moved.obj");

  const std::vector<std::string> before = Lines(WithoutCoordinates(file)), after = Lines(WithoutCoordinates(out));
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]) << "line " << i + 1;
  EXPECT_EQ(out.mesh.polygons, file.mesh.polygons);
  ASSERT_EQ(out.mesh.points.size(), moved.size());
  for (size_t i = 0; i < moved.size(); ++i) {
    EXPECT_EQ(Bits(out.mesh.points[i].x), Bits(moved[i].x)) << i;
    EXPECT_EQ(Bits(out.mesh.points[i].y), Bits(moved[i].y)) << i;
    EXPECT_EQ(Bits(out.mesh.points[i].z), Bits(moved[i].z)) << i;
  }
  for (size_t n = 0; n < 6; ++n) {
    const Vec3 expected = rotate(ReadVector(file.text, file.normalValues[n]));
    const Vec3 normal = ReadVector(out.text, out.normalValues[n]);
    EXPECT_NEAR(host_test::Length(host_test::Sub(normal, expected)), 0.0, 1e-12) << "normal " << n + 1;
  }

  // Faces of no area leave their normals as they were.
  const std::string collapsed = host::DeformedObjText(file, std::vector<Vec3>(8, Vec3{1, 2, 3}));
  for (const std::string& line : Lines(collapsed))
    if (line.rfind("vn ", 0) == 0) {
      EXPECT_NE(CubeText().find(line), std::string::npos) << line;
    }
}

// Authored normals (angle-weighted, shared, and split along an edge) keep
// their shading: each turns no more than the faces that name it, whether the
// surface barely moves (a deformation at rest moves points by its error) or
// bends; and a translation leaves their text alone.
TEST(DeformedObjText, AuthoredNormalsTurnNoMoreThanTheirFaces) {
  const host::ObjFile sphere = host::ParseObj(test_support::AuthoredSphereObj(8), "sphere.obj");
  ASSERT_GT(sphere.normals.size(), sphere.mesh.points.size());  // split along the equator
  uint32_t seed = 12345;
  auto jitter = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return (static_cast<double>(seed >> 8) / (1 << 24) - 0.5) * 2e-4;
  };
  const std::pair<const char*, std::function<Vec3(const Vec3&)>> deformations[] = {
      {"rest-pose error", [&](const Vec3& p) { return Vec3{p.x + jitter(), p.y + jitter(), p.z + jitter()}; }},
      {"stretch and twist", [](const Vec3& p) {
         const double a = 0.6 * p.z, c = std::cos(a), s = std::sin(a);
         return Vec3{c * p.x - s * p.y, s * p.x + c * p.y, 1.5 * p.z};
       }}};
  for (const auto& [name, deform] : deformations) {
    std::vector<Vec3> moved;
    for (const Vec3& p : sphere.mesh.points) moved.push_back(deform(p));
    const host::ObjFile out = host::ParseObj(host::DeformedObjText(sphere, moved), "out.obj");
    double largest = 0.0;
    for (const test_support::NormalTurn& turn : test_support::NormalTurns(sphere, out)) {
      EXPECT_LE(turn.normal, turn.faces + 1e-12) << name;
      largest = std::max(largest, turn.normal);
    }
    EXPECT_GT(largest, 0.0) << name;
    for (size_t i = 0; i < out.normals.size(); ++i)
      EXPECT_NEAR(host_test::Length(out.normals[i]), host_test::Length(sphere.normals[i]), 1e-12) << name;
  }

  std::vector<Vec3> shifted;
  for (const Vec3& p : sphere.mesh.points) shifted.push_back({p.x + 0.3, p.y - 7.0, p.z + 1e4});
  const std::string text = host::DeformedObjText(sphere, shifted);
  size_t normalLines = 0;
  for (const std::string& line : Lines(text))
    if (line.rfind("vn ", 0) == 0) {
      EXPECT_NE(sphere.text.find(line), std::string::npos) << line;
      ++normalLines;
    }
  EXPECT_EQ(normalLines, sphere.normals.size());
}

TEST(DeformedObjText, NumbersReadBackExactly) {
  const host::ObjFile file = host::ParseObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "t.obj");
  for (double value : {0.1, 1e-310, -0.0, 1.7976931348623157e308, 5e-324, 1.0 / 3, -2.5e-8, 123456789012345678.0}) {
    const std::string text = host::NumberText(value);
    EXPECT_EQ(Bits(std::strtod(text.c_str(), nullptr)), Bits(value)) << text;
    const std::vector<Vec3> moved = {{value, -value, 1}, {1, value, 0}, {0, 1, value}};
    const host::Mesh read = host::ParseObj(host::DeformedObjText(file, moved), "t.obj").mesh;
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(Bits(read.points[i].x), Bits(moved[i].x)) << text;
      EXPECT_EQ(Bits(read.points[i].y), Bits(moved[i].y)) << text;
      EXPECT_EQ(Bits(read.points[i].z), Bits(moved[i].z)) << text;
    }
  }
}

}  // namespace
