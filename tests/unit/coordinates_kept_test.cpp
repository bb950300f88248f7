// The calculation keeping only the non-zero weights, held to the dense rows
// and their compaction bit for bit in every array the module keeps, on any
// thread count; the targets that only the dense rows could not hold; and the
// weights file's limit on the weights a target keeps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "operations/calculation_driver.h"
#include "operations/threads.h"
#include "support/coordinate_fixture.h"
#include "support/dense_rows.h"

namespace {

using namespace ostrand;
using test_support::PointsInCube;

// Every array a target keeps after the calculation, as plain values.
struct KeptTarget {
  uint32_t active = 0;
  int32_t weightCount = 0;
  std::vector<uint32_t> points;
  std::vector<int32_t> counts, offsets, indices;
  std::vector<uint64_t> weightBits;
  std::vector<std::ptrdiff_t> refs;  // as cage position numbers
  bool operator==(const KeptTarget&) const = default;
};

KeptTarget Take(const EffectInstance* instance, const TargetEntry* t) {
  KeptTarget k;
  k.active = t->ActiveCount;
  k.weightCount = t->WeightCount;
  k.points.assign(t->PointIndices, t->PointIndices + t->ActiveCount);
  k.counts.assign(t->WeightCounts, t->WeightCounts + t->ActiveCount);
  k.offsets.assign(t->WeightOffsets, t->WeightOffsets + t->ActiveCount);
  for (int32_t j = 0; j < t->WeightCount; ++j) {
    uint64_t bits = 0;
    std::memcpy(&bits, &t->Weights[j], sizeof bits);
    k.weightBits.push_back(bits);
    k.indices.push_back(t->CageIndices[j]);
    k.refs.push_back(t->CageRefs[j] - instance->CagePositions);
  }
  return k;
}

class KeptWeightsTest : public test_support::CoordinateTest {
 protected:
  // Calculates every target with dense rows or with kept weights, and
  // compacts as "Calculate" does (the references filled on the workers).
  std::vector<KeptTarget> calculate(EffectInstance* instance, bool dense) {
    reprepare(instance, dense);
    EXPECT_TRUE(CalculateCoordinates(instance, IncompleteTarget::kRelease,
                                     dense ? test_support::DenseRows() : KeptRows()));
    if (dense)
      test_support::CompactDenseWeights(instance);
    else
      CompactWeights(instance, &SpreadOverWorkers);
    std::vector<KeptTarget> kept;
    for (int32_t t = 0; t < TargetCount(instance); ++t) kept.push_back(Take(instance, TargetAt(instance, t)));
    return kept;
  }
  void TearDown() override {
    SetThreadCount(1);
    SetKeptWeightLimit(0);
    CoordinateTest::TearDown();
  }
};

// The example and fixture cages, points inside, on and outside them, floors
// from none to above every weight (the whole row kept unfloored), with more
// than ten points so that the rows come in tenths and a rest; the cage read
// once or at every hit.
TEST_F(KeptWeightsTest, SameArraysAsTheDenseRowsOnEveryCaseAndThreadCount) {
  std::vector<std::pair<host::Mesh, std::vector<Vec3>>> cases;
  const std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
  const std::vector<Vec3> bound = host::ReadObj(examples + "target.obj").points;
  for (const char* file : {"cage", "cage_twist"})
    cases.push_back({host::ReadObj(examples + file + ".obj"), std::vector<Vec3>(bound.begin(), bound.begin() + 250)});
  for (const test_support::CageCase& c : test_support::AllCageCases()) {
    std::vector<Vec3> points = c.inside;
    points.insert(points.end(), c.mesh.points.begin(), c.mesh.points.end());
    points.push_back({9.0, -4.0, 2.5});
    cases.push_back({c.mesh, points});
  }
  cases.push_back({test_support::SubdividedCube(5), PointsInCube(47)});
  int compared = 0;
  for (const auto& [cage, points] : cases)
    for (double floor : {0.0, 0.02, 1.0}) {
      EffectInstance* instance = prepare(cage, {points, PointsInCube(3)}, 24, floor);
      const std::vector<KeptTarget> dense = calculate(instance, true);
      ASSERT_GT(dense[0].weightCount, 0);
      for (int threads : {1, 2, 3})
        for (bool hostReads : {false, true}) {
          std::optional<test_support::ScopedHostCageReads> perHit;
          if (hostReads) perHit.emplace();
          SetThreadCount(threads);
          EXPECT_TRUE(calculate(instance, false) == dense) << "floor " << floor << ", " << threads << " threads"
                                                           << (hostReads ? ", the host read at every hit" : "");
          ++compared;
        }
      SetThreadCount(1);
    }
  EXPECT_EQ(compared, 7 * 3 * 3 * 2);
}

// 2^15 points against 2^16 cage points: 2^31 entries of dense rows, which
// were refused. The cage is a cube whose other points lie far off, in no
// polygon, and the points share a handful of positions, so binding is cheap.
TEST_F(KeptWeightsTest, TwoTo31ActivePointsTimesCagePointsBind) {
  host::Mesh cage = test_support::Cube();
  while (cage.points.size() < (1u << 16)) cage.points.push_back({1e3, 2e3, -1e3});
  std::vector<Vec3> points;
  const std::vector<Vec3> few = PointsInCube(5);
  while (points.size() < (1u << 15)) points.push_back(few[points.size() % few.size()]);
  EffectInstance* instance = prepare(cage, {points}, 4);
  SetThreadCount(2);
  host().clearMessages();
  ASSERT_TRUE(CalculateCoordinates(instance, IncompleteTarget::kRelease));
  CompactWeights(instance, &SpreadOverWorkers);  // several pieces on two threads
  EXPECT_TRUE(host().messages().empty());
  const TargetEntry* t = target(instance);
  ASSERT_EQ(t->ActiveCount, 1u << 15);
  ASSERT_GT(t->WeightCount, 3 * 65536);
  for (int32_t j = 0; j < t->WeightCount; ++j)
    ASSERT_EQ(t->CageRefs[j], &instance->CagePositions[t->CageIndices[j]]) << j;
  EXPECT_EQ(int64_t{t->ActiveCount} * instance->CagePoints, int64_t{1} << 31);
  EXPECT_GT(t->WeightCount, 0);
  int bound = 0;
  for (uint32_t i = 0; i < t->ActiveCount; ++i) {
    double sum = 0;
    for (int32_t j = 0; j < t->WeightCounts[i]; ++j) sum += t->Weights[t->WeightOffsets[i] + j];
    bound += std::fabs(sum - 1.0) < 1e-9;
  }
  EXPECT_EQ(bound, 1 << 15);
  // Points at one position get the same weights; only the cube's points are used.
  for (uint32_t i = 5; i < t->ActiveCount; i += 997) {
    ASSERT_EQ(t->WeightCounts[i], t->WeightCounts[i % 5]);
    for (int32_t j = 0; j < t->WeightCounts[i]; ++j) {
      EXPECT_EQ(t->Weights[t->WeightOffsets[i] + j], t->Weights[t->WeightOffsets[i % 5] + j]);
      EXPECT_LT(t->CageIndices[t->WeightOffsets[i] + j], 8);
    }
  }
}

// Weights beyond what a weights file counts release the target, named, and
// leave the others bound; at the limit the target binds.
TEST_F(KeptWeightsTest, MoreWeightsThanTheFileCountsAreRefusedNamingTheTarget) {
  EffectInstance* instance = prepare(test_support::Cube(), {PointsInCube(30), PointsInCube(4)}, 16, 0.0,
                                     {"bulky", "slim"});
  const std::vector<KeptTarget> clean = calculate(instance, false);
  const int32_t needed = clean[0].weightCount;

  SetKeptWeightLimit(needed);
  EXPECT_TRUE(calculate(instance, false) == clean);

  SetKeptWeightLimit(needed - 1);
  host().clearMessages();
  reprepare(instance);
  EXPECT_FALSE(CalculateCoordinates(instance, IncompleteTarget::kRelease));
  CompactWeights(instance);
  ASSERT_EQ(host().messages().size(), 1u);
  EXPECT_NE(host().messages()[0].text.find("\"bulky\" was not calculated: it would keep more than " +
                                           std::to_string(needed - 1) + " weights, the most a weights file can hold"),
            std::string::npos)
      << host().messages()[0].text;
  EXPECT_EQ(target(instance, 0)->ActiveCount, 0u);
  EXPECT_EQ(target(instance, 0)->Weights, nullptr);
  EXPECT_TRUE(Take(instance, target(instance, 1)) == clean[1]);
}

}  // namespace
