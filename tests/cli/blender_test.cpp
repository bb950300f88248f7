// Blender as the independent reader of what the command writes: a deformed
// OBJ file imported by its importer (faces, texture coordinates, materials
// found through the relinked library, and the normals we turned), and our
// PC2 and MDD caches played by its Mesh Cache modifier with the Frame Start
// docs/animation.md gives, frame for frame equal to our numbered OBJ files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/obj_file.h"
#include "ostrand_runner.h"
#include "support/authored_normals.h"
#include "support/cages.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class BlenderTest : public OstrandTest {
 protected:
  // Runs the reader script in Blender; its report.
  json blender(const std::vector<std::string>& arguments) const {
    const fs::path report = root_ / "report.json";
    std::string command = std::string(BLENDER_PATH) + " -b --factory-startup -noaudio --python-exit-code 1 --python " +
                          OSTRAND_BLENDER_READER + " -- '" + report.string() + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " > '" + (root_ / "blender.log").string() + "' 2>&1";
    fs::remove(report);
    EXPECT_EQ(std::system(command.c_str()), 0) << read("blender.log");
    std::ifstream in(report);
    return in ? json::parse(in) : json::object();
  }

  // Each coordinate equal to float precision (Blender keeps float32).
  static void expectSamePoints(const json& seen, const std::vector<Vec3>& ours, const std::string& what) {
    ASSERT_EQ(seen.size(), ours.size()) << what;
    double largest = 0.0;
    for (size_t i = 0; i < ours.size(); ++i) {
      const double expected[3] = {ours[i].x, ours[i].y, ours[i].z};
      for (int k = 0; k < 3; ++k)
        largest = std::max(largest, std::fabs(seen[i][k].get<double>() - expected[k]) /
                                        std::max(1.0, std::fabs(expected[k])));
    }
    EXPECT_LE(largest, 1.2e-7) << what;
  }
};

// The authored sphere with texture coordinates and two materials, the first
// with a texture, in a box cage.
std::string TexturedSphere() {
  const std::string sphere = test_support::AuthoredSphereObj(8);
  std::string text = "mtllib paint.mtl\n", faces;
  size_t points = 0, polygons = 0;
  for (size_t at = 0; at < sphere.size();) {
    const size_t end = sphere.find('\n', at);
    std::string line = sphere.substr(at, end - at);
    at = end + 1;
    if (line.rfind("v ", 0) == 0) {
      text += line + "\n";
      ++points;
    } else if (line.rfind("f ", 0) == 0) {
      // "a//n" corners become "a/a/n": a texture coordinate per point.
      for (size_t slash = line.find("//"); slash != std::string::npos; slash = line.find("//", slash)) {
        const size_t start = line.rfind(' ', slash) + 1;
        line.replace(slash, 2, "/" + line.substr(start, slash - start) + "/");
      }
      if (polygons++ == 0) faces += "usemtl painted\n";
      if (polygons == 193) faces += "usemtl plain\n";
      faces += line + "\n";
    } else if (line.rfind("vn ", 0) == 0) {
      text += line + "\n";
    }
  }
  for (size_t i = 0; i < points; ++i) {
    const size_t column = i % 17, row = i / 17;
    text += "vt " + std::to_string(static_cast<double>(column) / 16) + " " +
            std::to_string(static_cast<double>(row) / 24) + "\n";
  }
  return text + faces;
}

TEST_F(BlenderTest, ImportsADeformedObjWithItsMaterialsAndOurNormals) {
  fs::create_directories(root_ / "model" / "tex");
  write("model/sphere.obj", TexturedSphere());
  write("model/paint.mtl", "newmtl painted\nKd 0.8 0.2 0.2\nmap_Kd tex/paint.png\nnewmtl plain\nKd 0.2 0.2 0.8\n");
  write("model/tex/paint.png", "not read");
  const host::Mesh cage = test_support::SubdividedCube(2, 1.6);
  host::Mesh pose = cage;
  for (Vec3& p : pose.points) p = {p.x * (1.0 + 0.2 * p.z), p.y, p.z * 1.3};  // stretched and flared
  host::WriteObj(file("cage.obj"), cage);
  host::WriteObj(file("pose.obj"), pose);
  const Outcome run = ostrand({"run", "--samples", "16", "--cage", "cage.obj", "--target", "model/sphere.obj",
                               "pose.obj", "-o", "out"});
  ASSERT_EQ(run.status, 0) << run.err;

  const host::ObjFile ours = host::ReadObjFile(file("out/deformed-pose.obj"));
  const json seen = blender({"obj", file("out/deformed-pose.obj")});
  expectSamePoints(seen["points"], ours.mesh.points, "points");
  ASSERT_EQ(seen["polygons"].size(), ours.mesh.polygons.size());
  for (size_t f = 0; f < ours.mesh.polygons.size(); ++f)
    EXPECT_EQ(seen["polygons"][f].get<std::vector<int32_t>>(), ours.mesh.polygons[f]) << "polygon " << f;
  EXPECT_EQ(seen["uv_loops"].get<size_t>(), ours.cornerNormals.size());

  // The library is found from the output folder, and through it the texture.
  ASSERT_EQ(seen["materials"].size(), 2u) << seen["materials"].dump();
  EXPECT_EQ(seen["materials"][0]["name"], "painted");
  EXPECT_EQ(seen["materials"][0]["images_found"], json::array({true}));
  EXPECT_EQ(seen["materials"][1]["name"], "plain");
  for (size_t f = 0; f < ours.mesh.polygons.size(); ++f)
    EXPECT_EQ(seen["polygon_materials"][f].get<int>(), f < 192 ? 0 : 1) << "polygon " << f;

  // Blender shades with our normals, corner for corner (it keeps them in a
  // compressed form of its own: to a few thousandths of a radian).
  const json& normals = seen["corner_normals"];
  ASSERT_EQ(normals.size(), ours.cornerNormals.size());
  double largest = 0.0;
  for (size_t c = 0; c < ours.cornerNormals.size(); ++c) {
    const Vec3& n = ours.normals[static_cast<size_t>(ours.cornerNormals[c])];
    const Vec3 b{normals[c][0].get<double>(), normals[c][1].get<double>(), normals[c][2].get<double>()};
    largest = std::max(largest, test_support::authored::Angle(n, b));
  }
  EXPECT_LE(largest, 5e-3);
}

TEST_F(BlenderTest, MeshCachePlaysOurCachesFrameForFrameFromFrameStart) {
  // Four frames from the rest cage to the bent one.
  const host::Mesh rest = host::ReadObj(example("cage.obj")), bent = host::ReadObj(example("cage_bend.obj"));
  fs::create_directories(root_ / "anim");
  for (int n = 1; n <= 4; ++n) {
    host::Mesh frame = rest;
    for (size_t i = 0; i < frame.points.size(); ++i) {
      const double t = (n - 1) / 3.0;
      frame.points[i] = {rest.points[i].x + t * (bent.points[i].x - rest.points[i].x),
                         rest.points[i].y + t * (bent.points[i].y - rest.points[i].y),
                         rest.points[i].z + t * (bent.points[i].z - rest.points[i].z)};
    }
    host::WriteObj(file("anim/cage.000" + std::to_string(n) + ".obj"), frame);
  }
  const std::string target = example("target.obj");
  for (const std::string start : {"", "11"}) {
    std::vector<std::string> arguments = {"run", "--samples", "8", "--cage", example("cage.obj"), "--target", target,
                                          "anim/cage.####.obj", "--out-pattern", "deformed.####.obj", "--cache",
                                          "out" + start + "/out.pc2", "--cache", "out" + start + "/out.mdd", "-o",
                                          "out" + start};
    if (!start.empty()) arguments.insert(arguments.end(), {"--start-frame", start});
    const Outcome run = ostrand(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    const int first = start.empty() ? 1 : std::stoi(start);
    for (const std::string format : {"PC2", "MDD"}) {
      const std::string cache = file("out" + start + (format == "PC2" ? "/out.pc2" : "/out.mdd"));
      ASSERT_TRUE(fs::is_regular_file(cache)) << cache;
      const json seen = blender({"cache", target, cache, format, std::to_string(first),
                                 std::to_string(first) + "," + std::to_string(first + 3)});
      for (int n : {first, first + 3}) {
        char name[32];
        std::snprintf(name, sizeof name, "/deformed.%04d.obj", n);
        expectSamePoints(seen["frames"][std::to_string(n)], host::ReadObj(file("out" + start + name)).points,
                         format + " frame " + std::to_string(n));
      }
    }
  }
}

}  // namespace
}  // namespace cli_test
