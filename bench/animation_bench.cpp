// An animated cage through the whole command: a 100,000-point target with 8
// weights per point on a 488-point cage (the evaluation benchmark's shape),
// a PC2 cache of the cage in and a PC2 cache of the deformed target out, on 2
// threads, for 100 and for 1,000 frames. Each run is a child process: its
// total time and peak RSS, and from its summary the frame loop's time per
// frame split into reading, deforming and writing. Beside it, in this
// process, the evaluation message alone on the same weights, as the
// evaluation benchmark times it.
//
// Goals: 1,000 frames in at most 15 s; the deforming within 1.3 times the
// evaluation; peak RSS at 1,000 frames within 10 MB of that at 100.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "host/host.h"
#include "host/point_cache.h"
#include "ostrand/protocol.h"
#include "random_weights_file.h"
#include "support/cages.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kGridX = 400, kGridZ = 250;  // the target: 100,000 points
constexpr uint32_t kWeightsPerPoint = 8;
constexpr int kThreads = 2;

// The files, made once per process in a folder of its own (removed at the
// end), with a private copy of the module (whose settings file keeps the
// thread count).
struct Files {
  fs::path folder = fs::temp_directory_path() / ("ostrand-animation-bench-" + std::to_string(::getpid()));
  fs::path module = folder / "libOstrand64.so";
  fs::path cage = folder / "cage.obj", target = folder / "target.obj", weights = folder / "weights.cw";
  host::Mesh cageMesh, targetMesh;

  Files() {
    fs::create_directories(folder);
    fs::copy_file(OSTRAND_MODULE_PATH, module, fs::copy_options::overwrite_existing);
    cageMesh = test_support::SubdividedCube(9);  // 488 points, 486 quads
    host::WriteObj(cage.string(), cageMesh);
    // A wavy sheet well inside the cage.
    for (int i = 0; i < kGridX; ++i)
      for (int j = 0; j < kGridZ; ++j) {
        const double x = -0.6 + 1.2 * i / (kGridX - 1), z = -0.6 + 1.2 * j / (kGridZ - 1);
        targetMesh.points.push_back({x, 0.2 * std::sin(5 * x) * std::cos(3 * z), z});
      }
    for (int i = 0; i + 1 < kGridX; ++i)
      for (int j = 0; j + 1 < kGridZ; ++j) {
        const int a = i * kGridZ + j;
        targetMesh.polygons.push_back({a, a + kGridZ, a + kGridZ + 1, a + 1});
      }
    host::WriteObj(target.string(), targetMesh);
    writeWeights();
  }
  ~Files() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;

  // Random weights, 8 distinct cage points per target point, in the module's
  // weights file layout.
  void writeWeights() const {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> jitter(-0.01f, 0.01f);
    bench_support::WriteRandomWeights(
        weights.string(), static_cast<uint32_t>(cageMesh.points.size()), static_cast<uint32_t>(cageMesh.polygons.size()),
        static_cast<uint32_t>(targetMesh.points.size()), kWeightsPerPoint, random, [&] { return jitter(random); },
        [](uint32_t, uint32_t, float) {});
  }

  // The cage swaying, frames frames of it, as a PC2 cache.
  fs::path cageCache(int frames) const {
    const fs::path path = folder / ("cage-" + std::to_string(frames) + ".pc2");
    host::PointCacheHeader header;
    header.points = static_cast<uint32_t>(cageMesh.points.size());
    header.frames = static_cast<uint32_t>(frames);
    header.startFrame = 1;
    host::PointCacheWriter writer(path.string(), header);
    std::vector<Vec3> posed(cageMesh.points.size());
    for (int f = 0; f < frames; ++f) {
      for (size_t k = 0; k < posed.size(); ++k) {
        const Vec3& p = cageMesh.points[k];
        posed[k] = {p.x + 0.2 * std::sin(0.05 * f + p.y), p.y, p.z * (1 + 0.1 * std::cos(0.03 * f))};
      }
      writer.writeFrame(posed);
    }
    writer.close();
    return path;
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

// --- The evaluation message alone ------------------------------------------

std::map<int, double> evaluateSeconds;  // per frame, by thread count, when measured

void BM_EvaluateSameWeights(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  Files& files = TheFiles();
  host::Host host;
  host.loadModule(files.module.string());
  host.enter();
  host.announceServices();
  const uint32_t cage = host.addObject("cage", files.cageMesh);
  const uint32_t target = host.addObject("target", files.targetMesh);
  const uint32_t effect = host.createEffect({target});
  host.buildPanel(effect);
  // The weights come back as a scene load brings them: the stored values name the file.
  host.effect(effect)->formats[ostrand::kSceneFormatName] =
      host::Format{ostrand::kSceneFormatName,
                   {{"Mode", host::NamedValue(int32_t{0})},
                    {"Cage", host::NamedValue(cage)},
                    {"SetupMask", host::NamedValue(uint32_t{0})},
                    {"WeightBinFile", host::NamedValue(files.weights.string())}}};
  host.sendMessage(effect, ostrand::kMessageInstanceData, ostrand::kInstanceLoad);
  host.setInt(host.controlByLabel("Threads")->id, effect, threads);
  std::vector<Vec3> posed = files.cageMesh.points;
  for (Vec3& p : posed) p.x += 0.1 * p.y;
  host.setPoints(cage, posed);
  host.sendMessage(effect, ostrand::kMessageInstanceData, ostrand::kInstancePrepare);
  auto* instance = static_cast<EffectInstance*>(host.effect(effect)->data[ostrand::kInstanceDataKey]);
  if (instance->Targets->records[0].WeightCount != static_cast<int32_t>(files.targetMesh.points.size() * kWeightsPerPoint))
    state.SkipWithError("the weights file was not read");
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) host.sendMessage(effect, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                         static_cast<double>(state.iterations());
  evaluateSeconds[threads] = seconds;
  state.counters["evaluate_ms"] = seconds * 1e3;
  // What the host sends for each frame: the prepare message, then the evaluation.
  const auto prepared = std::chrono::steady_clock::now();
  constexpr int kRounds = 50;
  for (int round = 0; round < kRounds; ++round) host.evaluate(effect);
  state.counters["prepare_and_evaluate_ms"] =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - prepared).count() / kRounds * 1e3;
}

// --- The command -------------------------------------------------------------

struct ChildRun {
  double seconds = 0.0;
  double peakRssMb = 0.0;
  std::string out;
  int status = -1;
};

ChildRun RunChild(std::vector<std::string> words, const fs::path& outFile) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ChildRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(outFile);
  std::stringstream text;
  text << in.rdbuf();
  run.out = text.str();
  return run;
}

// A duration of the summary ("2.31 ms", "1.20 s") in milliseconds.
double Milliseconds(const std::string& number, const std::string& unit) {
  return std::stod(number) * (unit == "s" ? 1000.0 : 1.0);
}

std::map<int, double> peakRssMb;  // by frame count

void BM_CacheToCache(benchmark::State& state) {
  Files& files = TheFiles();
  const int frames = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const fs::path cageCache = files.cageCache(frames);
  const fs::path out = files.folder / "deformed.pc2", summary = files.folder / "summary.txt";
  const std::vector<std::string> command = {OSTRAND_CLI_PATH, "--module", files.module.string(), "deform",
                                            "--weights", files.weights.string(), "--cage", files.cage.string(),
                                            "--target", files.target.string(), cageCache.string(), "--cache",
                                            out.string(), "--threads", std::to_string(threads), "-o",
                                            (files.folder / "out").string(),
                                            // random weights: their rest pose is not the point here
                                            "--warn-rest-error", "1"};
  ChildRun run;
  for (auto _ : state) {
    run = RunChild(command, summary);
    if (run.status != 0) state.SkipWithError("the command failed");
    state.SetIterationTime(run.seconds);
  }
  fs::remove(out);
  const std::string number = "([0-9.e+-]+) (ms|s)";
  std::smatch loop;
  if (!std::regex_search(run.out, loop,
                         std::regex("frame loop +" + number + " in all.*per frame " + number + " reading, " + number +
                                    " deforming, " + number + " writing"))) {
    state.SkipWithError("no frame loop in the summary");
    return;
  }
  const double loopMs = Milliseconds(loop[1], loop[2]) / frames;
  const double deformMs = Milliseconds(loop[5], loop[6]);
  state.counters["total_s"] = run.seconds;
  state.counters["loop_ms_per_frame"] = loopMs;
  state.counters["read_ms"] = Milliseconds(loop[3], loop[4]);
  state.counters["deform_ms"] = deformMs;
  state.counters["write_ms"] = Milliseconds(loop[7], loop[8]);
  state.counters["peak_rss_mb"] = run.peakRssMb;
  if (threads == kThreads) peakRssMb[frames] = run.peakRssMb;
  if (evaluateSeconds.count(threads)) {
    state.counters["deform_over_evaluate"] = deformMs / (evaluateSeconds[threads] * 1e3);
    state.counters["loop_over_evaluate"] = loopMs / (evaluateSeconds[threads] * 1e3);
  }
  if (frames == 1000 && threads == kThreads && peakRssMb.count(100))
    state.counters["rss_growth_mb"] = run.peakRssMb - peakRssMb[100];
}

BENCHMARK(BM_EvaluateSameWeights)->Arg(kThreads)->Arg(1)->ArgName("threads")->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)->UseRealTime();
// The goals are for 2 threads; 1 thread shows the same on a machine whose
// other work takes a core.
BENCHMARK(BM_CacheToCache)->Args({100, kThreads})->Args({1000, kThreads})->Args({1000, 1})
    ->ArgNames({"frames", "threads"})->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
