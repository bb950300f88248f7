// Evaluation through the loaded module: 100,000 active points with 8 weights
// each on a 500-point cage, plain and blended by a weight map, against the
// textbook sparse product (Eigen, row-major) on the same weights and cage.
#include <benchmark/benchmark.h>

#include <Eigen/Sparse>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "evaluation_setup.h"

namespace {

using bench_support::kPoints;

// The module built here, or the module file named by OSTRAND_BENCH_MODULE
// (an earlier build, to compare with).
bench_support::EvaluationSetup& Shared() {
  const char* other = std::getenv("OSTRAND_BENCH_MODULE");
  static bench_support::EvaluationSetup setup(other != nullptr ? other : OSTRAND_MODULE_PATH);
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

// Seconds per evaluation spent in the host's own functions: the calls the
// evaluation makes (fxMeshPoint for every active and every cage point, the
// weight query when blended, fxDisplacePoint for every point, the begin and
// end), made on the same points in a loop of just those calls, on `threads`
// threads splitting the points in blocks. Each round repeats the calls
// kRepeats times so that starting the threads does not count; best of a few
// rounds.
double HostCallSeconds(bench_support::EvaluationSetup& setup, int threads, bool weighted) {
  constexpr int kRepeats = 20;
  const HostLookup lookup = host::Host::lookupFunction();
  const auto meshPoint = reinterpret_cast<fxMeshPoint_fn>(lookup("fxMeshPoint", ostrand::kGroupMeshes));
  const auto pointWeight = reinterpret_cast<fxMeshPointWeight_fn>(lookup("fxMeshPointWeight", ostrand::kGroupMeshes));
  const auto begin = reinterpret_cast<fxDisplaceBegin_fn>(lookup("fxDisplaceBegin", ostrand::kGroupMeshes));
  const auto displace = reinterpret_cast<fxDisplacePoint_fn>(lookup("fxDisplacePoint", ostrand::kGroupMeshes));
  const auto end = reinterpret_cast<fxDisplaceEnd_fn>(lookup("fxDisplaceEnd", ostrand::kGroupMeshes));
  const uint32_t target = setup.target, cage = setup.cage, map = setup.blend;
  auto block = [&](int t) {
    const int first = kPoints * t / threads, last = kPoints * (t + 1) / threads;
    Vec3 p{0, 0, 0};
    float w = 0.0f;
    for (int r = 0; r < kRepeats; ++r) {
      for (int i = first; i < last; ++i) meshPoint(target, i, &p, 1);
      for (int i = first; i < last; ++i) {
        if (weighted) pointWeight(target, i, map, 0, &w, 0);
        displace(target, i, p.x, p.y, p.z);
      }
    }
  };
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    Vec3 p{0, 0, 0};
    for (int r = 0; r < kRepeats; ++r)
      for (int k = 0; k < bench_support::kCagePoints; ++k) meshPoint(cage, k, &p, 1);
    begin(target, 0);
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t) others.emplace_back(block, t);
    block(0);
    for (std::thread& other : others) other.join();
    end(target, 0);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kRepeats);
  }
  return best;
}

void BM_Evaluate(benchmark::State& state) {
  bench_support::EvaluationSetup& setup = Shared();
  const int threads = static_cast<int>(state.range(0));
  const bool weighted = state.range(1) != 0;
  setup.setThreads(threads);
  setup.setBlend(weighted);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) setup.host->sendMessage(setup.effect, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace);
  const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                      static_cast<double>(state.iterations());
  // Eigen's product after ours and the host calls: its OpenMP workers spin
  // for a while after each product, which would take the core our second
  // thread needs.
  const double hostCalls = HostCallSeconds(setup, threads, weighted);
  const double eigen = EigenSeconds(setup);
  state.SetLabel(weighted ? "weighted" : "plain");
  state.counters["points_per_s"] = benchmark::Counter(double(kPoints) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["eigen_ms"] = eigen * 1e3;
  state.counters["ours_over_eigen"] = ours / eigen;
  state.counters["host_calls_ms"] = hostCalls * 1e3;
  state.counters["ours_less_host_over_eigen"] = (ours - hostCalls) / eigen;
}

}  // namespace

BENCHMARK(BM_Evaluate)->ArgsProduct({{1, 2}, {0, 1}})->ArgNames({"threads", "weighted"})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
