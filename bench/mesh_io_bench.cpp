// Meshes in and out at production size: a torus of 1,000,000 points and
// 1,000,000 quads (a 69 MB OBJ file), read by our reader and by the OBJ
// library the host stand-in used before (its baseline), written back as a
// deformed copy of the file and as the plain printf form written before, and
// the whole `ostrand deform --scene` command on it (bound once, beforehand,
// to a 98-point box cage).
#include <benchmark/benchmark.h>
#include <tiny_obj_loader.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "host/obj_file.h"

namespace {

namespace fs = std::filesystem;

constexpr int kGrid = 1000;  // kGrid x kGrid points and quads

void WriteFile(const fs::path& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size())
    throw std::runtime_error("cannot write " + path.string());
  std::fclose(file);
}

std::string TorusText() {
  std::string text = "# torus\n";
  char line[128];
  const double kPi = 3.141592653589793;
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const double u = 2 * kPi * i / kGrid, v = 2 * kPi * j / kGrid, ring = 0.6 + 0.25 * std::cos(v);
      std::snprintf(line, sizeof line, "v %.9f %.9f %.9f\n", ring * std::cos(u), ring * std::sin(u),
                    0.25 * std::sin(v));
      text += line;
    }
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const int a = i * kGrid + j + 1, b = (i + 1) % kGrid * kGrid + j + 1;
      const int c = (i + 1) % kGrid * kGrid + (j + 1) % kGrid + 1, d = i * kGrid + (j + 1) % kGrid + 1;
      std::snprintf(line, sizeof line, "f %d %d %d %d\n", a, b, c, d);
      text += line;
    }
  return text;
}

// A box of side 2 scaled by stretch along x, each side split into 4 x 4 quads.
std::string BoxCageText(double stretch) {
  std::string points, faces;
  std::vector<std::array<int, 3>> seen;
  auto point = [&](std::array<int, 3> p) {
    for (size_t k = 0; k < seen.size(); ++k)
      if (seen[k] == p) return static_cast<int>(k) + 1;
    seen.push_back(p);
    points += "v " + host::NumberText(stretch * (p[0] - 4) / 4) + " " + host::NumberText((p[1] - 4) / 4.0) + " " +
              host::NumberText((p[2] - 4) / 4.0) + "\n";
    return static_cast<int>(seen.size());
  };
  for (int axis = 0; axis < 3; ++axis)
    for (int side : {0, 8})
      for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 4; ++b) {
          int corners[4];
          const int steps[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
          for (int k = 0; k < 4; ++k) {
            std::array<int, 3> p{};
            p[axis] = side;
            p[(axis + 1) % 3] = 2 * (a + steps[k][0]);
            p[(axis + 2) % 3] = 2 * (b + steps[k][1]);
            corners[side == 0 ? 3 - k : k] = point(p);
          }
          faces += "f " + std::to_string(corners[0]) + " " + std::to_string(corners[1]) + " " +
                   std::to_string(corners[2]) + " " + std::to_string(corners[3]) + "\n";
        }
  return points + faces;
}

// The files, made once per process in a folder of their own.
struct Files {
  fs::path folder = fs::temp_directory_path() / "ostrand-mesh-io-bench";
  fs::path target = folder / "target.obj", cage = folder / "cage.obj", pose = folder / "pose.obj";
  fs::path bound = folder / "bound";

  Files() {
    fs::create_directories(folder);
    WriteFile(target, TorusText());
    WriteFile(cage, BoxCageText(1.0));
    WriteFile(pose, BoxCageText(1.1));
  }

  // Binds once, for the deform runs; Samples 8 keeps it short.
  void bind() {
    if (fs::exists(bound / "scene.json")) return;
    const std::string command = std::string(OSTRAND_CLI_PATH) + " -q bind --samples 8 --cage " + cage.string() +
                                " --target " + target.string() + " -o " + bound.string();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("bind failed: " + command);
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

void BM_ReadObj(benchmark::State& state) {
  Files& files = TheFiles();
  for (auto _ : state) benchmark::DoNotOptimize(host::ReadObjFile(files.target.string()));
}

void BM_ReadObjLibrary(benchmark::State& state) {
  Files& files = TheFiles();
  for (auto _ : state) {
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(files.target.string(), config)) state.SkipWithError("the library failed");
    benchmark::DoNotOptimize(reader.GetAttrib().vertices.data());
  }
}

void BM_WriteDeformedObj(benchmark::State& state) {
  Files& files = TheFiles();
  const host::ObjFile file = host::ReadObjFile(files.target.string());
  std::vector<Vec3> moved = file.mesh.points;
  for (Vec3& p : moved) p.x *= 1.1;
  const fs::path out = files.folder / "deformed.obj";
  for (auto _ : state) {
    const std::string text = host::DeformedObjText(file, moved);
    WriteFile(out, text);
  }
}

// The writer used before: every point with "%.17g", then the faces.
void BM_WriteObjPrintf(benchmark::State& state) {
  Files& files = TheFiles();
  const host::Mesh mesh = host::ReadObj(files.target.string());
  const fs::path out = files.folder / "printf.obj";
  for (auto _ : state) {
    std::FILE* file = std::fopen(out.c_str(), "wb");
    for (const Vec3& p : mesh.points) std::fprintf(file, "v %.17g %.17g %.17g\n", p.x, p.y, p.z);
    for (const auto& polygon : mesh.polygons) {
      std::fputc('f', file);
      for (int32_t point : polygon) std::fprintf(file, " %d", point + 1);
      std::fputc('\n', file);
    }
    std::fclose(file);
  }
}

// The host stand-in reading the bound scene (objects, effect, named values).
void BM_LoadScene(benchmark::State& state) {
  Files& files = TheFiles();
  files.bind();
  for (auto _ : state) {
    host::Host host;
    host.loadScene((files.bound / "scene.json").string());
  }
}

void BM_DeformScene(benchmark::State& state) {
  Files& files = TheFiles();
  files.bind();
  const std::string command = std::string(OSTRAND_CLI_PATH) + " -q deform --scene " +
                              (files.bound / "scene.json").string() + " -o " + (files.folder / "deformed").string() +
                              " " + files.pose.string();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("deform failed");
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

BENCHMARK(BM_ReadObj)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadObjLibrary)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteDeformedObj)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteObjPrintf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadScene)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DeformScene)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
