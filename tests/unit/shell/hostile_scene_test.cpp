// Scenes whose stored values no panel would give: sample counts beyond
// reach, floors that are not numbers, unknown modes and objects, odd weight
// references, paths at and beyond their buffers, nonsense counts, values of
// the wrong type. Each is loaded, then calculated, evaluated and saved.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "geometry/sample_directions.h"
#include "operations/weights_file.h"
#include "support/hostile_fixture.h"

namespace {

using test_support::ExpectInstanceConsistent;
using test_support::Snapshot;
using test_support::Take;

class HostileScene : public test_support::HostileTest {
 protected:
  void SetUp() override {
    HostileTest::SetUp();
    bind();
    ASSERT_EQ(item(ostrand::kInstanceSave), 0);  // the stored values to spoil
  }

  // Replaces (or adds) one stored value, then loads the scene.
  void loadWith(const std::string& key, host::NamedValue value) {
    host::Format& format = host().effect(effect_)->formats[ostrand::kSceneFormatName];
    bool found = false;
    for (auto& [name, stored] : format.values)
      if (name == key) stored = value, found = true;
    if (!found) format.values.emplace_back(key, value);
    ASSERT_EQ(item(ostrand::kInstanceLoad), 0);
    ExpectInstanceConsistent(instance());
  }

  // Calculates, evaluates and saves the loaded instance, checking it after each.
  void work() {
    ASSERT_EQ(press("Calculate"), 0);
    ExpectInstanceConsistent(instance());
    ASSERT_EQ(host().evaluate(effect_), 0);
    ExpectInstanceConsistent(instance());
    ASSERT_EQ(item(ostrand::kInstanceSave), 0);
    ExpectInstanceConsistent(instance());
  }

  // Every point that keeps weights keeps finite ones that sum to 1.
  void expectBoundRows() {
    for (int32_t t = 0; t < instance().Targets->count; ++t) {
      const TargetEntry& e = instance().Targets->records[t];
      for (uint32_t i = 0; i < e.ActiveCount; ++i) {
        double sum = 0;
        for (int32_t j = e.WeightOffsets[i]; j < e.WeightOffsets[i] + e.WeightCounts[i]; ++j) {
          EXPECT_TRUE(std::isfinite(e.Weights[j]));
          sum += e.Weights[j];
        }
        if (e.WeightCounts[i] > 0) {
          EXPECT_NEAR(sum, 1.0, 1e-9) << "target " << t << " point " << i;
        }
      }
    }
  }
};

TEST_F(HostileScene, SampleCountsBelowOneBindNothingAndBeyondReachAreRefused) {
  for (int32_t samples : {0, -1, INT_MIN}) {
    SCOPED_TRACE(samples);
    loadWith("Samples", samples);
    work();
    expectSilence();
    EXPECT_EQ(instance().Samples, samples);
    EXPECT_EQ(instance().Targets->records[0].ActiveCount, 12u);
    EXPECT_EQ(instance().Targets->records[0].WeightCount, 0);  // no direction, no weight
  }

  // Weights loaded from a file stay when a calculation is refused.
  loadWith("Samples", 8);
  nameWeightsFile(file("w.cw"));
  ASSERT_EQ(press("Calculate"), 0);
  ASSERT_EQ(item(ostrand::kInstanceSave), 0);
  for (int32_t samples : {ostrand::kMaxSampleDirections + 1, 1000000000, INT_MAX}) {
    SCOPED_TRACE(samples);
    loadWith("Samples", samples);
    ASSERT_EQ(instance().Targets->records[0].ActiveCount, 12u);
    const Snapshot loaded = Take(instance());
    ASSERT_EQ(press("Calculate"), 0);
    expectOneError("Cannot calculate with " + std::to_string(samples) + " samples");
    EXPECT_TRUE(Take(instance()) == loaded);
    ExpectInstanceConsistent(instance());
  }
}

TEST_F(HostileScene, FloorsThatAreNoFractionStillBindEveryPointWhole) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double floor : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, -0.5, 1.0, 1.5, 1e300}) {
    SCOPED_TRACE(floor);
    loadWith("Tolerance", floor);
    work();
    expectSilence();
    expectBoundRows();
    EXPECT_GT(instance().Targets->records[0].WeightCount, 0);
  }
}

TEST_F(HostileScene, ModesOtherThanZeroMoveNothingAndKeepCountsOnly) {
  for (int32_t mode : {1, 7, -2, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(mode);
    // A counts-only weights file of that mode, named by the scene.
    instance().Mode = mode;
    nameWeightsFile(file("m.cw"));
    ostrand::WriteWeightsFile(&instance());
    ASSERT_EQ(item(ostrand::kInstanceSave), 0);
    ASSERT_EQ(item(ostrand::kInstanceLoad), 0);
    ExpectInstanceConsistent(instance());
    EXPECT_EQ(instance().Mode, mode);
    EXPECT_EQ(instance().Targets->records[0].ActiveCount, 12u);  // the file's counts
    EXPECT_EQ(instance().Targets->records[0].Weights, nullptr);
    host().resetCalls();
    ASSERT_EQ(host().evaluate(effect_), 0);
    EXPECT_EQ(host().calls("fxDisplacePoint"), 0);
    ASSERT_EQ(item(ostrand::kInstanceSave), 0);
    ExpectInstanceConsistent(instance());
    expectSilence();
    nameWeightsFile("");
    work();  // "Calculate" binds again, Mode 0
    EXPECT_EQ(instance().Mode, 0);
    EXPECT_EQ(instance().Targets->records[0].ActiveCount, 12u);
  }
}

TEST_F(HostileScene, UnknownAndMisusedObjectsAreEmptyOrPlainMeshes) {
  const uint32_t map = host().addWeightMap(a_, "map", std::vector<float>(12, 1.0f));
  for (uint32_t object : {999999u, 0xFFFFFFFFu, map, a_, effect_}) {
    SCOPED_TRACE(object);
    loadWith("Cage", object);
    work();
    expectSilence();
    EXPECT_EQ(instance().Cage, object);
    EXPECT_EQ(instance().CagePoints, object == a_ ? 12u : 0u);
    loadWith("Cage", cage_);

    loadWith("SetupMask", object);
    work();
    expectSilence();
    // Only the map of a_ picks points, and only a_'s.
    EXPECT_EQ(instance().Targets->records[0].ActiveCount, object == map ? 12u : 0u);
    EXPECT_EQ(instance().Targets->records[1].ActiveCount, 0u);
    loadWith("SetupMask", 0u);
  }
}

TEST_F(HostileScene, OddWeightReferencesBlendWithWhatTheMapGives) {
  const uint32_t map = host().addWeightMap(b_, "map of b", std::vector<float>(3, 0.5f));
  for (std::array<int32_t, 3> weight : {std::array<int32_t, 3>{INT_MIN, INT_MAX, -1}, {-1, 0, 0}, {999999, 0, 0},
                                        {static_cast<int32_t>(map), 77, -5}, {0, 5, 5}}) {
    SCOPED_TRACE(weight[0]);
    loadWith("Weight", weight);
    loadWith("ScaleWeight", weight);
    work();
    expectSilence();
  }
}

TEST_F(HostileScene, StoredPathsAtAndBeyondTheirBufferAreCut) {
  for (size_t length : {size_t{2047}, size_t{2048}, size_t{6000}}) {
    SCOPED_TRACE(length);
    loadWith("WeightBinFile", std::string(length, 'w'));
    const std::string path = instance().WeightsPath;
    EXPECT_EQ(path, folder_.string() + "/" + std::string(2047, 'w'));
    work();
    // A name no file system takes: the calculation stays, the user hears why it has no file.
    expectOneError("could not be written (" + std::string(std::strerror(ENAMETOOLONG)) + ")");
  }
  // Climbing out of every directory there is, and an absolute path of 2047.
  std::string climb;
  for (int i = 0; i < 300; ++i) climb += "../";
  loadWith("WeightBinFile", climb + "w.cw");
  EXPECT_EQ(std::string(instance().WeightsPath), "/w.cw");
  loadWith("WeightBinFile", "/" + std::string(2046, 'a'));
  EXPECT_EQ(std::string(instance().WeightsPath), "/" + std::string(2046, 'a'));
  work();
  expectOneError("could not be written (" + std::string(std::strerror(ENAMETOOLONG)) + ")");
}

TEST_F(HostileScene, StoredCountsAreNotBelieved) {
  nameWeightsFile(file("w.cw"));
  ASSERT_EQ(press("Calculate"), 0);
  ASSERT_EQ(item(ostrand::kInstanceSave), 0);
  for (int32_t count : {-1, 0, 1, 1000, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(count);
    loadWith("TargetCount", count);
    loadWith("CagePoints", count);
    loadWith("CagePolys", count);
    EXPECT_EQ(instance().CagePoints, 8u);
    EXPECT_EQ(instance().CagePolys, 6);
    EXPECT_EQ(instance().Targets->records[0].ActiveCount, 12u);  // the weights file still matches
    work();
    expectSilence();
  }
}

TEST_F(HostileScene, ValuesOfTheWrongTypeLeaveTheirFields) {
  const Snapshot before = Take(instance());
  loadWith("Mode", std::string("zero"));
  loadWith("Samples", 3.5);
  loadWith("Tolerance", int32_t{1});
  loadWith("Cage", std::array<int32_t, 3>{1, 2, 3});
  loadWith("Weight", uint32_t{4});
  loadWith("WeightBinFile", int32_t{5});
  const Snapshot after = Take(instance());
  EXPECT_EQ(after.mode, before.mode);
  EXPECT_EQ(after.samples, before.samples);
  EXPECT_EQ(after.tolerance, before.tolerance);  // as bits
  EXPECT_EQ(after.cage, before.cage);
  EXPECT_EQ(after.weight, before.weight);
  work();
  expectSilence();
}

}  // namespace
