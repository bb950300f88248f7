// A bound scene for the hostile suites: a cube cage, two point-cloud targets
// inside it, an effect with its panel and weights calculated, and the checks
// the suites make after every fault (the instance consistent, its data as it
// was, the user told).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/fault_injection.h"
#include "support/instance_invariants.h"
#include "support/module_fixture.h"

namespace test_support {

// The instance keeps every invariant (see instance_invariants.h).
inline void ExpectInstanceConsistent(const EffectInstance& instance) {
  EXPECT_EQ(CheckInstance(instance), "");
}

// What an instance holds, by value, to tell whether an action changed it.
// Floating-point values are kept as their bits, so that equal means the same
// bits (NaN included).
struct Snapshot {
  int32_t mode = 0, samples = 0, cagePolys = 0;
  uint32_t cage = 0, setupMask = 0, cagePoints = 0;
  uint64_t tolerance = 0;
  std::vector<int32_t> weight, scaleWeight;
  std::string weightsPath;
  std::vector<uint64_t> cagePositions;
  struct Target {
    uint32_t object = 0, active = 0;
    int32_t points = 0, weightCount = 0;
    std::vector<uint32_t> pointIndices;
    std::vector<int32_t> counts, offsets, cageIndices;
    std::vector<uint64_t> weights, setup;
    bool operator==(const Target&) const = default;
  };
  std::vector<Target> targets;
  bool operator==(const Snapshot&) const = default;
};

template <class T>
std::vector<T> Copy(const T* array, int64_t count) {
  return array != nullptr && count > 0 ? std::vector<T>(array, array + count) : std::vector<T>{};
}

// The bits of count values of type T (double or Vec3).
template <class T>
std::vector<uint64_t> Bits(const T* array, int64_t count) {
  static_assert(sizeof(T) % sizeof(uint64_t) == 0);
  if (array == nullptr || count <= 0) return {};
  std::vector<uint64_t> bits(static_cast<size_t>(count) * (sizeof(T) / sizeof(uint64_t)));
  std::memcpy(bits.data(), array, bits.size() * sizeof(uint64_t));
  return bits;
}

inline Snapshot Take(const EffectInstance& instance) {
  Snapshot s;
  s.mode = instance.Mode;
  s.samples = instance.Samples;
  s.cagePolys = instance.CagePolys;
  s.cage = instance.Cage;
  s.setupMask = instance.SetupMask;
  s.cagePoints = instance.CagePoints;
  s.tolerance = Bits(&instance.Tolerance, 1)[0];
  s.weight.assign(instance.Weight, instance.Weight + 3);
  s.scaleWeight.assign(instance.ScaleWeight, instance.ScaleWeight + 3);
  s.weightsPath = instance.WeightsPath;
  s.cagePositions = Bits(instance.CagePositions, instance.CagePoints);
  const TargetTable* table = instance.Targets;
  for (int32_t t = 0; table != nullptr && t < table->count; ++t) {
    const TargetEntry& e = table->records[t];
    Snapshot::Target target;
    target.object = e.ObjectId;
    target.active = e.ActiveCount;
    target.points = e.PointCount;
    target.weightCount = e.WeightCount;
    target.pointIndices = Copy(e.PointIndices, e.ActiveCount);
    target.counts = Copy(e.WeightCounts, e.ActiveCount);
    target.offsets = Copy(e.WeightOffsets, e.ActiveCount);
    target.setup = Bits(e.SetupPositions, e.ActiveCount);
    target.cageIndices = Copy(e.CageIndices, e.WeightCount);
    target.weights = Bits(e.Weights, e.WeightCount);
    s.targets.push_back(std::move(target));
  }
  return s;
}

// Allocations failed on purpose by this process's suites, reported with the
// faults the host injected when the process ends.
inline std::atomic<long>& AllocationsFailed() {
  static std::atomic<long> failed{0};
  return failed;
}

class HostileTest : public ModuleTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The bound scene: cage_ (a cube of 8 points and 6 quads around the
  // origin), targets a_ (12 points) and b_ (3 points) inside it, effect_ on
  // both with its panel built, 8 samples, the cage chosen and "Calculate"
  // pressed. Messages are cleared afterwards.
  void bind();

  EffectInstance& instance() { return *instanceOf(effect_); }
  uint32_t control(const std::string& label) { return host().controlByLabel(label)->id; }
  int32_t press(const std::string& label) { return host().press(control(label), effect_); }
  // kMessageInstanceData with this sub-message for the effect.
  int32_t item(uint64_t subMessage) { return host().sendMessage(effect_, ostrand::kMessageInstanceData, subMessage); }

  // Messages shown since they were last cleared; the error texts alone.
  std::vector<std::string> errors() const;
  // Exactly one error was shown, with `part` in its text; clears the messages.
  void expectOneError(const std::string& part);
  // No message was shown.
  void expectSilence();

  // A file path in this test's own folder (removed at tear-down).
  std::string file(const std::string& name) const { return (folder_ / name).string(); }
  // Names the instance's weights file as a chosen file would.
  void nameWeightsFile(const std::string& path);

  uint32_t cage_ = 0, a_ = 0, b_ = 0, effect_ = 0;
  std::filesystem::path folder_;
};

}  // namespace test_support
