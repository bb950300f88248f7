// Fuzzes ReadWeightsFile with the module's code and the host stand-in in one
// process.
//
// Two instances of the same setup (a cube cage of 8 points and 6 polygons, two
// targets of 10 and 3 points) are rebuilt before every input: one calculated,
// with Mode 0 and hand-made weights in compact form, one with Mode 7 and no
// weights. The input is written to a file and read into both; afterwards both
// must keep every invariant of their computed data, and the calculated one is
// evaluated and written back, so that anything a read left out of line is
// touched under AddressSanitizer.
//
// With OSTRAND_WRITE_SEEDS=<directory> set, the fuzzer first writes the weights
// files of its own instances there (the seed corpus).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "host/host.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/module_state.h"
#include "instance/instance.h"
#include "operations/threads.h"
#include "operations/weights_file.h"
#include "shell/module_callback.h"
#include "support/dense_rows.h"
#include "support/in_process_module.h"
#include "support/test_meshes.h"
#include "support/weights_invariants.h"

namespace {

struct Scene {
  std::unique_ptr<host::Host> host;
  uint32_t calculated = 0, counted = 0;  // effect items
  std::string path, rewritten;
};

host::Mesh Points(int n) {
  host::Mesh mesh;
  for (int i = 0; i < n; ++i) mesh.points.push_back({-0.9 + 0.2 * i, 0.1 * i, 0.5});
  return mesh;
}

EffectInstance* InstanceOf(Scene& scene, uint32_t effect) {
  return static_cast<EffectInstance*>(scene.host->effect(effect)->data.at(ostrand::kInstanceDataKey));
}

// The state of the instances before each input.
void Reset(Scene& scene) {
  EffectInstance* calculated = InstanceOf(scene, scene.calculated);
  ostrand::ReleaseComputedData(calculated);
  test_support::PrepareDenseTargets(calculated);
  for (int32_t t = 0; t < ostrand::TargetCount(calculated); ++t) {
    TargetEntry* e = ostrand::TargetAt(calculated, t);
    for (uint32_t i = 0; i < e->ActiveCount; ++i)
      for (uint32_t k = 0; k < calculated->CagePoints; ++k)
        e->Weights[i * calculated->CagePoints + k] = (k + i + t) % 3 == 0 ? 0.25 + 0.125 * k : 0.0;
  }
  test_support::CompactDenseWeights(calculated);
  calculated->Mode = 0;

  EffectInstance* counted = InstanceOf(scene, scene.counted);
  ostrand::ReleaseComputedData(counted);
  ostrand::ReadCageGeometry(counted);
  counted->Mode = 7;
}

void Check(EffectInstance* instance, const char* which) {
  std::string broken = test_support::CheckWeights(instance);
  if (broken.empty()) return;
  std::fprintf(stderr, "%s instance: %s\n", which, broken.c_str());
  std::abort();
}

Scene& TheScene() {
  static Scene* scene = [] {
    auto* s = new Scene;
    s->host = std::make_unique<host::Host>();
    if (!test_support::ConnectInProcessModule(*s->host)) std::abort();
    ostrand::SetThreadCount(1);

    uint32_t cage = s->host->addObject("cage", test_support::CubeMesh());
    uint32_t a = s->host->addObject("a", Points(10));
    uint32_t b = s->host->addObject("b", Points(3));
    s->calculated = s->host->createEffect({a, b});
    s->counted = s->host->createEffect({a, b});
    // Memory-backed where there is such a directory: a file system that
    // flushes a truncated file on close would make each input a disk write.
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string stem = std::string(dir) + "/ostrand_weights_fuzz_" + std::to_string(getpid());
    s->path = stem + ".cw";
    s->rewritten = stem + "_rewritten.cw";
    for (uint32_t effect : {s->calculated, s->counted}) {
      EffectInstance* instance = InstanceOf(*s, effect);
      instance->Cage = cage;
      std::snprintf(instance->WeightsPath, sizeof instance->WeightsPath, "%s", s->path.c_str());
    }
    std::atexit([] {
      std::remove(TheScene().path.c_str());
      std::remove(TheScene().rewritten.c_str());
    });
    return s;
  }();
  return *scene;
}

void WriteSeeds(const char* directory) {
  Scene& scene = TheScene();
  Reset(scene);
  EffectInstance* calculated = InstanceOf(scene, scene.calculated);
  EffectInstance* counted = InstanceOf(scene, scene.counted);
  const std::string dir = directory;
  auto writeAs = [&](EffectInstance* instance, const std::string& name) {
    std::snprintf(instance->WeightsPath, sizeof instance->WeightsPath, "%s/%s", dir.c_str(), name.c_str());
    ostrand::WriteWeightsFile(instance);
    std::snprintf(instance->WeightsPath, sizeof instance->WeightsPath, "%s", scene.path.c_str());
  };
  writeAs(calculated, "calculated.cw");
  // Mode 7 with the calculated counts: header and counts only.
  calculated->Mode = 7;
  writeAs(calculated, "counts_only.cw");
  calculated->Mode = 0;
  // A target without active points beside one with weights.
  TargetEntry* b = ostrand::TargetAt(calculated, 1);
  ostrand::FreeTargetArrays(b);
  b->ActiveCount = 0;
  b->WeightCount = 0;
  writeAs(calculated, "one_target_empty.cw");
  writeAs(counted, "counted_empty.cw");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TheScene();
  if (const char* seeds = std::getenv("OSTRAND_WRITE_SEEDS")) WriteSeeds(seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scene& scene = TheScene();
  Reset(scene);
  std::remove(scene.path.c_str());
  FILE* file = std::fopen(scene.path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  EffectInstance* calculated = InstanceOf(scene, scene.calculated);
  EffectInstance* counted = InstanceOf(scene, scene.counted);
  ostrand::ReadWeightsFile(calculated);
  ostrand::ReadWeightsFile(counted);
  Check(calculated, "Mode 0");
  Check(counted, "Mode 7");

  // Use what was read: evaluate it and write it out again.
  scene.host->evaluate(scene.calculated);
  std::snprintf(calculated->WeightsPath, sizeof calculated->WeightsPath, "%s", scene.rewritten.c_str());
  std::remove(scene.rewritten.c_str());
  ostrand::WriteWeightsFile(calculated);
  std::snprintf(calculated->WeightsPath, sizeof calculated->WeightsPath, "%s", scene.path.c_str());
  return 0;
}
