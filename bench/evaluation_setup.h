// A scene for evaluation benchmarks: 100,000 active points with 8 weights
// each on a 500-point cage, bound through the loaded module (the weights come
// from a weights file, as "Load" reads it), with the same weights as a
// row-major Eigen matrix.
#pragma once

#include <Eigen/Sparse>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "host/host.h"
#include "random_weights_file.h"
#include "ostrand/protocol.h"

namespace bench_support {

constexpr int kPoints = 100000;
constexpr int kCagePoints = 500;
constexpr int kWeightsPerPoint = 8;

// The scene, the bound instance and the same weights as an Eigen matrix.
struct EvaluationSetup {
  std::unique_ptr<host::Host> host;
  uint32_t cage = 0, target = 0, effect = 0, blend = 0;
  Eigen::SparseMatrix<double, Eigen::RowMajor> weights{kPoints, kCagePoints};
  Eigen::Matrix<double, kCagePoints, 3> cagePositions;

  explicit EvaluationSetup(const std::string& module = OSTRAND_MODULE_PATH) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    host::Mesh cageMesh, targetMesh;
    for (int k = 0; k < kCagePoints; ++k) cageMesh.points.push_back({u(random), u(random), u(random)});
    for (int i = 0; i < kPoints; ++i) targetMesh.points.push_back({u(random) * 0.5, u(random) * 0.5, u(random) * 0.5});

    host = std::make_unique<host::Host>();
    host->loadModule(module);
    host->enter();
    host->setCountingCalls(false);  // a real host counts nothing
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

    // A name of its own: benchmarks may run side by side.
    std::string path = (std::filesystem::temp_directory_path() /
                        ("ostrand-evaluate-bench-" + std::to_string(std::random_device{}()) + ".cw"))
                           .string();
    std::vector<Eigen::Triplet<double>> triplets;
    WriteRandomWeights(
        path, kCagePoints, 0, kPoints, kWeightsPerPoint, random, [&] { return 0.01f * static_cast<float>(u(random)); },
        [&](uint32_t i, uint32_t k, float w) { triplets.emplace_back(i, k, static_cast<double>(w)); });
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

}  // namespace bench_support
