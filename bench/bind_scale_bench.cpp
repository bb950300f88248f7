// Binding at production scale: a torus of 500,000 or 1,000,000 points inside
// box cages of 98, 602 and 2,402 points (cubes cut into 4 x 4, 10 x 10 and
// 20 x 20 quads a face), 32 samples, 2 worker threads; with the kept weights
// of "Calculate" and, on the same data, with the dense rows it replaced
// (PrepareDenseTargets, the calculation into dense rows, CompactDenseWeights).
//
// BM_Calculate presses "Calculate" through the module file built here, and
// through the module file named by OSTRAND_OLD_MODULE when set (an earlier
// build), on the same scenes in the same run: 100,000 and 1,000,000 points in
// the 602-point cage (the shape of real work), 500,000 in the others.
//
// Each bind runs in a child process of its own, so that its peak memory is
// its own: the child builds the host's meshes, binds, and reports the bind's
// seconds; the parent reads the child's peak resident size.
//
// Counters: seconds (the bind: preparing, calculating, compacting),
// peak_mb (the child's peak resident size), before_mb (its resident size
// just before the bind: the host's meshes and the program), arrays_mb (the
// target's arrays after the bind), weights_per_point, and
// peak_over_arrays_and_meshes = peak_mb / (arrays_mb + before_mb).
// Goals: 1M x 2,402 binds with that ratio at most 1.5; 1M x 602 in at most
// 5 s; from 98 to 2,402 cage points at 500k points the time grows at most
// 1.5x. The dense rows reach 2^31 entries at 1M x 2,402 and are refused.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "ostrand/protocol.h"
#include "support/bind_paths.h"
#include "support/cages.h"
#include "support/in_process_module.h"
#include "support/module_fixture.h"

namespace {

double ResidentMegabytes() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// What the child reports.
struct BindFigures {
  double seconds;
  double beforeMb;
  double arraysMb;
  double weightsPerPoint;
  int bound;  // 1 when every point got weights and no message was shown
};

// The target's arrays after the bind, and whether every point got weights
// with no message shown.
void TakeTargetFigures(host::Host& host, const TargetEntry& t, BindFigures* figures) {
  const double perPoint = 3 * sizeof(Vec3) + sizeof(uint32_t) + 2 * sizeof(int32_t);
  const double perWeight = sizeof(double) + sizeof(Vec3*) + sizeof(int32_t);
  figures->arraysMb = (t.ActiveCount * perPoint + t.WeightCount * perWeight) / 1e6;
  figures->weightsPerPoint = t.ActiveCount > 0 ? static_cast<double>(t.WeightCount) / t.ActiveCount : 0;
  int withWeights = 0;
  for (uint32_t i = 0; i < t.ActiveCount; ++i) withWeights += t.WeightCounts[i] > 0;
  figures->bound = host.messages().empty() && t.ActiveCount > 0 && withWeights == static_cast<int>(t.ActiveCount);
}

// In the child: the host with the cage and the torus, an effect binding them,
// then the bind as "Calculate" does it, with kept weights or dense rows.
BindFigures BindInChild(int points, int cuts, test_support::BindPath path) {
  host::Host host;
  test_support::ConnectInProcessModule(host);
  host.setCountingCalls(false);  // a real host counts nothing
  const uint32_t cage = host.addObject("cage", test_support::SubdividedCube(cuts));
  const int steps = static_cast<int>(std::lround(std::sqrt(static_cast<double>(points))));
  const uint32_t target = host.addObject("torus", test_support::PointCloud(test_support::TorusPoints(steps)));
  const uint32_t effect = host.createEffect({target});
  auto* instance = static_cast<EffectInstance*>(host.effect(effect)->data.at(ostrand::kInstanceDataKey));
  instance->Cage = cage;
  instance->Samples = 32;
  host.clearMessages();

  BindFigures figures{};
  figures.beforeMb = ResidentMegabytes();
  const auto start = std::chrono::steady_clock::now();
  test_support::Bind(instance, path, 2);
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  TakeTargetFigures(host, instance->Targets->records[0], &figures);
  return figures;
}

// Runs bind() in a child process of its own and reports its figures and the
// child's peak memory; false (the benchmark skipped) when the child failed.
template <typename BindFn>
bool RunInChild(benchmark::State& state, BindFn bind, BindFigures* figures, double* peakMb) {
  int channel[2];
  if (pipe(channel) != 0) {
    state.SkipWithError("no pipe");
    return false;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const BindFigures made = bind();
    const ssize_t written = write(channel[1], &made, sizeof made);
    _exit(written == static_cast<ssize_t>(sizeof made) ? 0 : 1);
  }
  close(channel[1]);
  const ssize_t got = read(channel[0], figures, sizeof *figures);
  close(channel[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (got != static_cast<ssize_t>(sizeof *figures) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    state.SkipWithError("the bind's process failed");
    return false;
  }
  state.SetIterationTime(figures->seconds);
  *peakMb = static_cast<double>(usage.ru_maxrss) * 1024 / 1e6;  // kilobytes on Linux
  return true;
}

void Report(benchmark::State& state, int cuts, const BindFigures& figures, double peakMb) {
  state.counters["cage_points"] = 6.0 * cuts * cuts + 2;
  state.counters["seconds"] = figures.seconds;
  state.counters["peak_mb"] = peakMb;
  state.counters["before_mb"] = figures.beforeMb;
  state.counters["arrays_mb"] = figures.arraysMb;
  state.counters["weights_per_point"] = figures.weightsPerPoint;
  state.counters["peak_over_arrays_and_meshes"] = peakMb / (figures.arraysMb + figures.beforeMb);
  state.counters["bound"] = figures.bound;
}

void BM_Bind(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  const int cuts = static_cast<int>(state.range(1));
  const auto path = static_cast<test_support::BindPath>(state.range(2));
  BindFigures figures{};
  double peakMb = 0;
  for (auto _ : state)
    if (!RunInChild(state, [&] { return BindInChild(points, cuts, path); }, &figures, &peakMb)) return;
  Report(state, cuts, figures, peakMb);
}

// In the child: the module file loaded as the host loads it, the same scene,
// and "Calculate" pressed (2 threads, 32 samples); the press is timed.
BindFigures CalculateInChild(const std::string& module, int points, int cuts) {
  host::Host host;
  host.loadModule(module);
  host.enter();
  host.setCountingCalls(false);  // a real host counts nothing
  host.announceServices();
  const uint32_t cage = host.addObject("cage", test_support::SubdividedCube(cuts));
  const int steps = static_cast<int>(std::lround(std::sqrt(static_cast<double>(points))));
  const uint32_t target = host.addObject("torus", test_support::PointCloud(test_support::TorusPoints(steps)));
  const uint32_t effect = host.createEffect({target});
  host.buildPanel(effect);
  host.setObject(host.controlByLabel("Cage")->id, effect, cage);
  host.setInt(host.controlByLabel("Samples")->id, effect, 32);
  host.setInt(host.controlByLabel("Threads")->id, effect, 2);
  host.clearMessages();
  BindFigures figures{};
  figures.beforeMb = ResidentMegabytes();
  const auto start = std::chrono::steady_clock::now();
  host.press(host.controlByLabel("Calculate")->id, effect);
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto* instance = static_cast<EffectInstance*>(host.effect(effect)->data.at(ostrand::kInstanceDataKey));
  TakeTargetFigures(host, instance->Targets->records[0], &figures);
  host.setInt(host.controlByLabel("Threads")->id, effect, 1);
  return figures;
}

// "Calculate" through a module file: the one built here, or the one named by
// OSTRAND_OLD_MODULE (an earlier build), in the same run.
void BM_Calculate(benchmark::State& state, const std::string& module) {
  const int points = static_cast<int>(state.range(0));
  const int cuts = static_cast<int>(state.range(1));
  BindFigures figures{};
  double peakMb = 0;
  for (auto _ : state)
    if (!RunInChild(state, [&] { return CalculateInChild(module, points, cuts); }, &figures, &peakMb)) return;
  Report(state, cuts, figures, peakMb);
}

// path: 0 the kept weights as "Calculate" keeps them, 1 the dense rows, 2 the
// kept weights with the cage references filled on the calling thread alone
// (as before they were spread over the workers).
BENCHMARK(BM_Bind)
    ->ArgNames({"points", "cuts", "path"})
    ->Args({1000000, 20, 0})
    ->Args({1000000, 10, 0})
    ->Args({1000000, 10, 2})
    ->Args({1000000, 10, 1})
    ->Args({500000, 4, 0})
    ->Args({500000, 4, 1})
    ->Args({500000, 20, 0})
    ->Args({500000, 20, 2})
    ->Args({500000, 20, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, std::string>> modules = {{"new", OSTRAND_MODULE_PATH}};
  if (const char* old = std::getenv("OSTRAND_OLD_MODULE")) modules.emplace_back("old", old);
  for (const auto& [label, file] : modules)
    benchmark::RegisterBenchmark(("BM_Calculate/" + label).c_str(), BM_Calculate, file)
        ->ArgNames({"points", "cuts"})
        ->Args({100000, 10})
        ->Args({1000000, 10})
        ->Args({500000, 4})
        ->Args({500000, 20})
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
