// The Python module against the plug-in's own work, in one process: deforming
// 100,000 points with 8 weights each (the weights of evaluate_bench, read from
// a weights file) from Python against the evaluation message inside the same
// calls, and binding from Python against the "Calculate" press inside it (the
// command's bind). Python runs embedded; the extension and a private copy of
// the module (whose settings file the thread counts then leave alone) are
// those built here.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "random_weights_file.h"
#include "support/cages.h"

namespace {

namespace py = pybind11;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kPoints = 100000, kCagePoints = 500, kWeightsPerPoint = 8;

py::array_t<double> Array(const std::vector<Vec3>& points) {
  py::array_t<double> array({points.size(), size_t{3}});
  std::memcpy(array.mutable_data(), points.data(), points.size() * sizeof(Vec3));
  return array;
}

py::list Faces(const host::Mesh& mesh) {
  py::list faces;
  for (const auto& polygon : mesh.polygons) faces.append(py::cast(polygon));
  return faces;
}

// The interpreter, the module copy and the weights file, made once.
struct Setup {
  fs::path folder = fs::temp_directory_path() / ("ostrand-python-bench-" + std::to_string(::getpid()));
  py::scoped_interpreter interpreter;
  py::module_ ostrand;
  std::vector<Vec3> cage, target;

  Setup() {
    fs::create_directories(folder);
    fs::copy_file(OSTRAND_MODULE_PATH, folder / "libOstrand64.so", fs::copy_options::overwrite_existing);
    setenv("OSTRAND_MODULE", (folder / "libOstrand64.so").c_str(), 1);
    py::module_::import("sys").attr("path").attr("insert")(0, OSTRAND_PYTHON_DIR);
    ostrand = py::module_::import("ostrand");
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (uint32_t k = 0; k < kCagePoints; ++k) cage.push_back({u(random), u(random), u(random)});
    for (uint32_t i = 0; i < kPoints; ++i) target.push_back({u(random) * 0.5, u(random) * 0.5, u(random) * 0.5});
    bench_support::WriteRandomWeights(
        weights().string(), kCagePoints, 1, kPoints, kWeightsPerPoint, random,
        [&] { return 0.01f * static_cast<float>(u(random)); }, [](uint32_t, uint32_t, float) {});
  }
  ~Setup() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  fs::path weights() const { return folder / "weights.cw"; }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// Per frame: the Python call, and the evaluation message inside it.
void BM_PythonDeform(benchmark::State& state) {
  Setup& setup = Shared();
  const int threads = static_cast<int>(state.range(0));
  const bool weighted = state.range(1) != 0;
  py::list faces;
  faces.append(py::make_tuple(0, 1, 2));
  // Random weights give back no rest pose: not worth a warning here.
  py::object binding = setup.ostrand.attr("load")(setup.weights().string(), Array(setup.cage), faces,
                                                  Array(setup.target), py::arg("threads") = threads,
                                                  py::arg("warn_rest_error") = 1.0);
  std::vector<Vec3> posed = setup.cage;
  for (Vec3& p : posed) p = {p.x * 1.01, p.y + 0.02, p.z * 0.99};
  const py::array_t<double> posedArray = Array(posed);
  py::object blend = py::none();
  if (weighted) blend = py::module_::import("numpy").attr("full")(kPoints, 0.75);
  py::object deform = binding.attr("deform");
  deform(posedArray, py::arg("blend_weights") = blend);  // the blend map made
  double python = 0.0, evaluation = 0.0;
  for (auto _ : state) {
    const auto start = Clock::now();
    py::object out = deform(posedArray, py::arg("blend_weights") = blend);
    python += std::chrono::duration<double>(Clock::now() - start).count();
    evaluation += binding.attr("evaluation_seconds").cast<double>();
    benchmark::DoNotOptimize(out.ptr());
  }
  const double frames = static_cast<double>(state.iterations());
  state.counters["python_ms"] = 1000.0 * python / frames;
  state.counters["evaluation_ms"] = 1000.0 * evaluation / frames;
  state.counters["python_over_evaluation"] = python / evaluation;
}

// A bind from Python: the whole call against the "Calculate" press inside it.
void Bind(benchmark::State& state, const host::Mesh& cage, const std::vector<Vec3>& target) {
  Setup& setup = Shared();
  const py::array_t<double> cagePoints = Array(cage.points), targetPoints = Array(target);
  const py::list faces = Faces(cage);
  double python = 0.0, calculate = 0.0;
  for (auto _ : state) {
    const auto start = Clock::now();
    py::object binding = setup.ostrand.attr("bind")(cagePoints, faces, targetPoints, py::arg("threads") = 2);
    python += std::chrono::duration<double>(Clock::now() - start).count();
    calculate += binding.attr("bind_seconds").cast<double>();
  }
  state.counters["python_s"] = python / static_cast<double>(state.iterations());
  state.counters["calculate_s"] = calculate / static_cast<double>(state.iterations());
  state.counters["python_over_calculate"] = python / calculate;
}

void BM_PythonBindTorus(benchmark::State& state) {
  Bind(state, test_support::SubdividedCube(5), test_support::TorusPoints(static_cast<int>(state.range(0))));
}

}  // namespace

BENCHMARK(BM_PythonDeform)->ArgsProduct({{1, 2}, {0, 1}})->ArgNames({"threads", "weighted"})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PythonBindTorus)->Arg(100)->Arg(300)->ArgName("steps")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
