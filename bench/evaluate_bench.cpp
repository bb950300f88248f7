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

#include "evaluation_setup.h"

namespace {

using bench_support::kPoints;

bench_support::EvaluationSetup& Shared() {
  static bench_support::EvaluationSetup setup;
  return setup;
}

// Seconds per sparse product, best of a few rounds.
double EigenSeconds(const bench_support::EvaluationSetup& setup) {
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
  bench_support::EvaluationSetup& setup = Shared();
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
