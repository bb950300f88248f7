// Evaluation through the loaded module: 100,000 active points with 8 weights
// each on a 500-point cage, plain and blended by a weight map, against the
// textbook sparse product (Eigen, row-major) on the same weights and cage.
#include <benchmark/benchmark.h>

#include <Eigen/Sparse>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <random>

#include "host/host.h"
#include "ostrand/protocol.h"

namespace {

constexpr int kPoints = 100000;
constexpr int kCagePoints = 500;
constexpr int kWeightsPerPoint = 8;

void PutWord(FILE* file, uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8) std::fputc((word >> shift) & 0xFF, file);
}

// The scene, the bound instance and the same weights as an Eigen matrix.
struct Setup {
  std::unique_ptr<host::Host> host;
  uint32_t cage = 0, target = 0, effect = 0, blend = 0;
  Eigen::SparseMatrix<double, Eigen::RowMajor> weights{kPoints, kCagePoints};
  Eigen::Matrix<double, kCagePoints, 3> cagePositions;

  Setup() {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    host::Mesh cageMesh, targetMesh;
    for (int k = 0; k < kCagePoints; ++k) cageMesh.points.push_back({u(random), u(random), u(random)});
    for (int i = 0; i < kPoints; ++i) targetMesh.points.push_back({u(random) * 0.5, u(random) * 0.5, u(random) * 0.5});

    host = std::make_unique<host::Host>();
    host->loadModule(OSTRAND_MODULE_PATH);
    host->enter();
    host->announceServices();
    cage = host->addObject("cage", cageMesh);
    target = host->addObject("target", targetMesh);
    std::vector<float> one(kPoints, 0.0f), half(kPoints, 0.75f);
    one[0] = 1.0f;
    uint32_t setup = host->addWeightMap(target, "first point", one);
    blend = host->addWeightMap(target, "blend", half);
    effect = host->createEffect({target});
    host->buildPanel(effect);
    auto id = [&](const char* label) { return host->controlByLabel(label)->id; };

    // A cheap calculation (one active point) makes the instance hold weights;
    // the real weights then come from a weights file, as "Load" reads it.
    host->setObject(id("Cage"), effect, cage);
    host->setObject(id("Setup weight"), effect, setup);
    host->press(id("Calculate"), effect);
    host->setObject(id("Setup weight"), effect, 0);

    std::string path = (std::filesystem::temp_directory_path() / "ostrand-evaluate-bench.cw").string();
    FILE* file = std::fopen(path.c_str(), "wb");
    for (uint32_t word : {1u, 0u, uint32_t(kCagePoints), 0u, 1u}) PutWord(file, word);
    for (uint32_t word : {uint32_t(kPoints), uint32_t(kPoints), uint32_t(kPoints * kWeightsPerPoint)}) PutWord(file, word);
    std::vector<Eigen::Triplet<double>> triplets;
    std::uniform_int_distribution<int> pick(0, kCagePoints - 1);
    for (int i = 0; i < kPoints; ++i) {
      PutWord(file, i);
      PutWord(file, kWeightsPerPoint);
      std::vector<int> chosen;
      while (chosen.size() < kWeightsPerPoint) {
        int k = pick(random);
        if (std::find(chosen.begin(), chosen.end(), k) == chosen.end()) chosen.push_back(k);
      }
      std::sort(chosen.begin(), chosen.end());
      for (int k : chosen) {
        float w = 1.0f / kWeightsPerPoint + 0.01f * static_cast<float>(u(random));
        uint32_t bits;
        std::memcpy(&bits, &w, 4);
        PutWord(file, k);
        PutWord(file, bits);
        triplets.emplace_back(i, k, static_cast<double>(w));
      }
    }
    std::fclose(file);
    host->dialogs().answers.push_back(path);
    host->press(id("Load"), effect);
    std::filesystem::remove(path);
    weights.setFromTriplets(triplets.begin(), triplets.end());
    for (int k = 0; k < kCagePoints; ++k)
      cagePositions.row(k) << cageMesh.points[k].x, cageMesh.points[k].y, cageMesh.points[k].z;

    // Installs the parallel routines.
    host->sendMessage(effect, ostrand::kMessageInstanceData, ostrand::kInstancePrepare);
    auto* instance = static_cast<EffectInstance*>(host->effect(effect)->data[ostrand::kInstanceDataKey]);
    if (instance->Targets->records[0].WeightCount != kPoints * kWeightsPerPoint)
      std::fprintf(stderr, "evaluate_bench: the weights file was not read\n"), std::abort();
  }

  void setThreads(int threads) {
    host->setInt(host->controlByLabel("Threads")->id, effect, threads);
    Eigen::setNbThreads(threads);
  }
  void setBlend(bool on) {
    int32_t value[3] = {on ? static_cast<int32_t>(blend) : 0, 0, 0};
    host->setVeci3(host->controlByLabel("Weight")->id, effect, value);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// Seconds per sparse product, best of a few rounds.
double EigenSeconds(const Setup& setup) {
  Eigen::Matrix<double, Eigen::Dynamic, 3> out(kPoints, 3);
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    auto start = std::chrono::steady_clock::now();
    const int reps = 20;
    for (int r = 0; r < reps; ++r) {
      out.noalias() = setup.weights * setup.cagePositions;
      benchmark::DoNotOptimize(out.data());
    }
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / reps);
  }
  return best;
}

void BM_Evaluate(benchmark::State& state) {
  Setup& setup = Shared();
  const int threads = static_cast<int>(state.range(0));
  const bool weighted = state.range(1) != 0;
  setup.setThreads(threads);
  setup.setBlend(weighted);
  const double eigen = EigenSeconds(setup);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) setup.host->sendMessage(setup.effect, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace);
  const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                      static_cast<double>(state.iterations());
  state.SetLabel(weighted ? "weighted" : "plain");
  state.counters["points_per_s"] = benchmark::Counter(double(kPoints) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["eigen_ms"] = eigen * 1e3;
  state.counters["ours_over_eigen"] = ours / eigen;
}

}  // namespace

BENCHMARK(BM_Evaluate)->ArgsProduct({{1, 2}, {0, 1}})->ArgNames({"threads", "weighted"})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
