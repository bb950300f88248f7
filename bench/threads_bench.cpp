// The worker threads inside a busy host: evaluation of the bundled example and
// of 100,000 points x 8 weights, and "Calculate" of 10,000 points in a cage
// of about 1,000 triangles, on 1 and 2 threads, with the machine idle and
// with another process spinning on one core (started here, ended with each
// measurement).
//
// The module built here is measured, and beside it, in the same run, the
// module file named by OSTRAND_OLD_MODULE when set (an earlier build), so
// that old and new are compared on the same machine at the same time.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "busy_core.h"
#include "evaluation_setup.h"
#include "host/host.h"
#include "host/obj_file.h"
#include "ostrand/protocol.h"
#include "support/cages.h"
#include "support/in_process_module.h"

namespace {

using bench_support::BusyCore;

// One host at a time: the scene of the module and case being measured.
struct Scene {
  std::string module, name;
  std::unique_ptr<host::Host> host;
  std::unique_ptr<bench_support::EvaluationSetup> large;
  uint32_t effect = 0;

  void calculate() { host->press(host->controlByLabel("Calculate")->id, effect); }
};

std::unique_ptr<Scene> current;

std::unique_ptr<host::Host> LoadedHost(const std::string& module) {
  auto host = std::make_unique<host::Host>();
  host->loadModule(module);
  host->enter();
  host->announceServices();
  return host;
}

// What the host sends before it evaluates: the module then evaluates with its
// threads.
void PrepareForEvaluation(host::Host& host, uint32_t effect) {
  host.sendMessage(effect, ostrand::kMessageInstanceData, ostrand::kInstancePrepare);
}

// The bundled example bound at 32 samples, its cage bent.
void MakeExample(Scene& scene) {
  scene.host = LoadedHost(scene.module);
  host::Host& host = *scene.host;
  const std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
  const uint32_t cage = host.addObject("cage", host::ReadObjFile(examples + "cage.obj").mesh);
  const uint32_t target = host.addObject("target", host::ReadObjFile(examples + "target.obj").mesh);
  scene.effect = host.createEffect({target});
  host.buildPanel(scene.effect);
  host.setObject(host.controlByLabel("Cage")->id, scene.effect, cage);
  scene.calculate();
  host.setPoints(cage, host::ReadObjFile(examples + "cage_bend.obj").mesh.points);
  PrepareForEvaluation(host, scene.effect);
}

// 10,000 points inside a cube whose faces are 9 x 9 quads (972 triangles).
void MakeCalculation(Scene& scene) {
  scene.host = LoadedHost(scene.module);
  host::Host& host = *scene.host;
  std::mt19937 random(5);
  std::uniform_real_distribution<double> u(-0.9, 0.9);
  host::Mesh target;
  for (int i = 0; i < 10000; ++i) target.points.push_back({u(random), u(random), u(random)});
  const uint32_t cage = host.addObject("cage", test_support::SubdividedCube(9));
  const uint32_t object = host.addObject("target", target);
  scene.effect = host.createEffect({object});
  host.buildPanel(scene.effect);
  host.setObject(host.controlByLabel("Cage")->id, scene.effect, cage);
  host.setInt(host.controlByLabel("Samples")->id, scene.effect, 32);
}

Scene& SceneFor(const std::string& module, const std::string& name) {
  if (current && current->module == module && current->name == name) return *current;
  current.reset();  // one host at a time
  current = std::make_unique<Scene>();
  current->module = module;
  current->name = name;
  if (name == "example") MakeExample(*current);
  if (name == "calculate") MakeCalculation(*current);
  if (name == "large") {
    current->large = std::make_unique<bench_support::EvaluationSetup>(module);
    current->effect = current->large->effect;
  }
  return *current;
}

host::Host& HostOf(Scene& scene) { return scene.large ? *scene.large->host : *scene.host; }

void Measure(benchmark::State& state, const std::string& module, const std::string& name, int threads, bool busy) {
  Scene& scene = SceneFor(module, name);
  HostOf(scene).setInt(HostOf(scene).controlByLabel("Threads")->id, scene.effect, threads);
  const bool calculation = name == "calculate";
  const BusyCore other(busy);
  for (auto _ : state) {
    if (calculation)
      HostOf(scene).press(HostOf(scene).controlByLabel("Calculate")->id, scene.effect);
    else
      HostOf(scene).sendMessage(scene.effect, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace);
  }
}

// Where threads start to pay: the module linked in, its loops put on threads
// at any size, a cube cage and n points inside bound at `samples` samples;
// one evaluation (stored weights: the work) or one calculation (n x samples)
// per iteration, on 1 and 2 threads.
void MeasureSmallWork(benchmark::State& state, bool calculation) {
  current.reset();  // one host at a time
  const int points = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const bool busy = state.range(2) != 0;
  host::Host host;
  test_support::ConnectInProcessModule(host);
  test_support::SetSmallWorkThresholds(0, 0);
  std::mt19937 random(3);
  std::uniform_real_distribution<double> u(-0.9, 0.9);
  host::Mesh target;
  for (int i = 0; i < points; ++i) target.points.push_back({u(random), u(random), u(random)});
  const uint32_t cage = host.addObject("cage", test_support::SubdividedCube(2));
  const uint32_t effect = host.createEffect({host.addObject("target", target)});
  host.buildPanel(effect);
  host.setInt(host.controlByLabel("Threads")->id, effect, threads);
  host.setObject(host.controlByLabel("Cage")->id, effect, cage);
  host.setInt(host.controlByLabel("Samples")->id, effect, 8);
  const uint32_t calculate = host.controlByLabel("Calculate")->id;
  host.press(calculate, effect);
  PrepareForEvaluation(host, effect);
  const auto* instance = static_cast<EffectInstance*>(host.effect(effect)->data[ostrand::kInstanceDataKey]);
  state.counters["work"] = calculation ? points * 8.0 : static_cast<double>(instance->Targets->records[0].WeightCount);
  const BusyCore other(busy);
  for (auto _ : state) {
    if (calculation)
      host.press(calculate, effect);
    else
      host.sendMessage(effect, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace);
  }
  host.setInt(host.controlByLabel("Threads")->id, effect, 1);
  test_support::SetSmallWorkThresholds(ostrand::SmallWork{}.evaluation, ostrand::SmallWork{}.calculation);
}

void RegisterSmallWork() {
  benchmark::RegisterBenchmark("small_evaluation", MeasureSmallWork, false)
      ->ArgsProduct({{100, 300, 1000, 3000, 10000, 30000}, {1, 2}, {0, 1}})
      ->ArgNames({"points", "threads", "busy"})
      ->Unit(benchmark::kMicrosecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("small_calculation", MeasureSmallWork, true)
      ->ArgsProduct({{10, 30, 100, 300, 1000}, {1, 2}, {0, 1}})
      ->ArgNames({"points", "threads", "busy"})
      ->Unit(benchmark::kMicrosecond)
      ->UseRealTime();
}

void Register(const std::string& label, const std::string& module) {
  for (const char* name : {"example", "large", "calculate"})
    for (int busy : {0, 1})
      for (int threads : {1, 2}) {
        const std::string title = std::string(name) + "/" + label + "/threads:" + std::to_string(threads) +
                                  (busy ? "/busy" : "/idle");
        benchmark::RegisterBenchmark(title.c_str(), Measure, module, name, threads, busy != 0)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(name == std::string("calculate") ? 1.0 : 0.5);
      }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterSmallWork();
  Register("new", OSTRAND_MODULE_PATH);
  if (const char* old = std::getenv("OSTRAND_OLD_MODULE")) Register("old", old);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  current.reset();
  benchmark::Shutdown();
  return 0;
}
