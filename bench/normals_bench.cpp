// Authored normals through a deformation at rest: how far the written normals
// turn from the source's when the cage does not move (points move by the
// rest-pose error alone), before (each normal recomputed as the area-weighted
// sum of its faces' normals at the deformed points) and now (each normal
// turned with its faces), in degrees, 95th percentile and largest; with the
// turn of the faces themselves. And the time to write the deformed file each
// way.
//
// Two targets, each given normals as a modelling program makes them (per
// point, angle-weighted): the bundled example's target, whose file has no
// normals of its own, and a sphere of 1,536 quads with its normals split
// along the equator, in a box cage. Each is bound with the command (Samples
// 32) and deformed by its own rest cage.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/obj_file.h"
#include "support/authored_normals.h"
#include "support/cages.h"

namespace {

namespace fs = std::filesystem;
using test_support::authored::Angle;
using test_support::authored::FaceNormal;

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// How normals were written before: each one the unit area-weighted sum of
// the normals of the faces that name it, at the deformed points.
std::vector<Vec3> AreaWeightedNormals(const host::ObjFile& file, const std::vector<Vec3>& points) {
  std::vector<Vec3> sums(file.normals.size(), Vec3{0.0, 0.0, 0.0});
  size_t corner = 0;
  for (const std::vector<int32_t>& polygon : file.mesh.polygons) {
    const Vec3 n = FaceNormal(polygon, points);
    for (size_t k = 0; k < polygon.size(); ++k, ++corner) {
      const int32_t normal = file.cornerNormals[corner];
      if (normal < 0) continue;
      Vec3& sum = sums[static_cast<size_t>(normal)];
      sum = {sum.x + n.x, sum.y + n.y, sum.z + n.z};
    }
  }
  for (Vec3& s : sums) {
    const double length = test_support::authored::Length(s);
    s = {s.x / length, s.y / length, s.z / length};
  }
  return sums;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())))];
}

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

struct Case {
  host::ObjFile source, deformed;  // the target with its authored normals, and as the command wrote it at rest
};

// Binds the target with normals to the cage and deforms it by the cage itself.
Case RunAtRest(const std::string& name, const std::string& targetText, const std::string& cagePath) {
  const fs::path folder = fs::temp_directory_path() / ("ostrand-normals-bench-" + name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path target = folder / "target.obj";
  WriteFile(target, targetText);
  const std::string command = std::string(OSTRAND_CLI_PATH) + " -q run --cage " + cagePath + " --target " +
                              target.string() + " " + cagePath + " -o " + (folder / "out").string();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("the run failed: " + command);
  Case c{host::ReadObjFile(target.string()),
         host::ReadObjFile((folder / "out" / ("deformed-" + fs::path(cagePath).stem().string() + ".obj")).string())};
  fs::remove_all(folder);
  return c;
}

const Case& ExampleCase() {
  static const Case kCase = [] {
    const std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
    const host::Mesh target = host::ReadObjFile(examples + "target.obj").mesh;
    return RunAtRest("example", test_support::ObjWithAuthoredNormals(target, [](size_t) { return 0; }),
                     examples + "cage.obj");
  }();
  return kCase;
}

const Case& SphereCase() {
  static const Case kCase = [] {
    const fs::path cage = fs::temp_directory_path() / "ostrand-normals-bench-cage.obj";
    host::WriteObj(cage.string(), test_support::SubdividedCube(3, 1.6));
    Case made = RunAtRest("sphere", test_support::AuthoredSphereObj(16), cage.string());
    fs::remove(cage);
    return made;
  }();
  return kCase;
}

void Report(benchmark::State& state, const Case& c) {
  const std::vector<Vec3> before = AreaWeightedNormals(c.source, c.deformed.mesh.points);
  std::vector<double> old, now, faces;
  for (const test_support::NormalTurn& turn : test_support::NormalTurns(c.source, c.deformed)) {
    now.push_back(turn.normal * kDegrees);
    faces.push_back(turn.faces * kDegrees);
  }
  for (size_t i = 0; i < before.size(); ++i) old.push_back(Angle(before[i], c.source.normals[i]) * kDegrees);
  state.counters["before_p95_deg"] = Percentile(old, 0.95);
  state.counters["before_max_deg"] = Percentile(old, 1.0);
  state.counters["now_p95_deg"] = Percentile(now, 0.95);
  state.counters["now_max_deg"] = Percentile(now, 1.0);
  state.counters["faces_p95_deg"] = Percentile(faces, 0.95);
  state.counters["faces_max_deg"] = Percentile(faces, 1.0);
  state.counters["normals"] = static_cast<double>(now.size());
}

// The writer as it is now: normals turned with their faces.
void BM_TurnedNormals(benchmark::State& state, const Case& (*which)()) {
  const Case& c = which();
  for (auto _ : state) benchmark::DoNotOptimize(host::DeformedObjText(c.source, c.deformed.mesh.points));
  Report(state, c);
}

// The normals as they were computed before, for the time beside it.
void BM_AreaWeightedNormals(benchmark::State& state, const Case& (*which)()) {
  const Case& c = which();
  for (auto _ : state) benchmark::DoNotOptimize(AreaWeightedNormals(c.source, c.deformed.mesh.points));
}

BENCHMARK_CAPTURE(BM_TurnedNormals, example, &ExampleCase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AreaWeightedNormals, example, &ExampleCase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TurnedNormals, sphere, &SphereCase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AreaWeightedNormals, sphere, &SphereCase)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
