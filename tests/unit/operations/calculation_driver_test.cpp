// The calculation driver: loops, progress, threads, and a host that answers
// badly or lacks services; the calculation keeping only the non-zero weights.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "geometry/ray_search.h"
#include "geometry/sample_directions.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/module_state.h"
#include "operations/calculation_driver.h"
#include "operations/threads.h"
#include "support/coordinate_fixture.h"
#include "support/dense_rows.h"

namespace {

using namespace ostrand;
using test_support::AllZero;
using test_support::ComputedRows;
using test_support::PointsInCube;
using test_support::SameBits;
using test_support::Row;
using test_support::Rows;
using test_support::Sum;

// --- Progress and loops ----------------------------------------------------------

// Records, at every progress message, how many rows were computed by then.
struct ProgressWatch {
  static inline const EffectInstance* instance = nullptr;
  static inline fxMessageProgress_fn original = nullptr;
  static inline std::vector<int> rowsDone;

  static int32_t report(uint32_t zero, int32_t percent, uint32_t kind, const char* text) {
    int done = 0;
    for (int32_t t = 0; t < TargetCount(instance); ++t) done += ComputedRows(instance, TargetAt(instance, t));
    rowsDone.push_back(done);
    return original(zero, percent, kind, text);
  }
  static void install(const EffectInstance* watched) {
    instance = watched;
    rowsDone.clear();
    if (HostFunctionTable[HF_fxMessageProgress] != reinterpret_cast<void*>(&report)) {
      original = FX(fxMessageProgress);
      HostFunctionTable[HF_fxMessageProgress] = reinterpret_cast<void*>(&report);
    }
  }
};

using CalculationDriver = test_support::CoordinateTest;

// The progress texts and percents of one target of m rows, and the rows done
// before each message.
void ExpectTenths(const std::vector<host::Progress>& progress, const std::vector<int>& rowsDone, size_t first,
                  const std::string& name, int m, int before) {
  const int chunk = m / 10;
  for (int b = 0; b <= 10; ++b) {
    const host::Progress& p = progress.at(first + b);
    EXPECT_EQ(p.zero, 0u);
    EXPECT_EQ(p.kind, ostrand::kProgressKind);
    EXPECT_EQ(p.percent, 10 * b);
    EXPECT_EQ(p.text, name + ": calculating coordinates " + std::to_string(b) + " / 10");
    EXPECT_EQ(rowsDone.at(first + b), before + b * chunk) << name << " before tenth " << b;
  }
}

TEST_F(CalculationDriver, ProgressInTenthsBeforeEachLoopAndNoneForTenRowsOrFewer) {
  for (int m : {10, 11, 25, 100}) {
    SCOPED_TRACE(m);
    EffectInstance* instance = prepare(test_support::Cube(), {PointsInCube(m)}, 8, 0.0, {"Blob" + std::to_string(m)});
    ProgressWatch::install(instance);
    host().clearMessages();
    EXPECT_TRUE(CalculateCoordinates(instance));
    const std::vector<host::Progress> progress = host().progress();
    if (m <= 10)
      EXPECT_TRUE(progress.empty());
    else {
      ASSERT_EQ(progress.size(), 11u);
      ExpectTenths(progress, ProgressWatch::rowsDone, 0, "Blob" + std::to_string(m), m, 0);
    }
    EXPECT_EQ(ComputedRows(instance, target(instance)), m);
    EXPECT_TRUE(host().messages().empty());
  }
}

TEST_F(CalculationDriver, TwoTargetsOneAfterTheOtherEachWithItsOwnProgress) {
  EffectInstance* instance =
      prepare(test_support::Cube(), {PointsInCube(12), PointsInCube(31)}, 8, 0.0, {"left", "right"});
  ProgressWatch::install(instance);
  EXPECT_TRUE(CalculateCoordinates(instance));
  const std::vector<host::Progress> progress = host().progress();
  ASSERT_EQ(progress.size(), 22u);
  ExpectTenths(progress, ProgressWatch::rowsDone, 0, "left", 12, 0);
  ExpectTenths(progress, ProgressWatch::rowsDone, 11, "right", 31, 12);
  EXPECT_EQ(ComputedRows(instance, target(instance, 0)), 12);
  EXPECT_EQ(ComputedRows(instance, target(instance, 1)), 31);
}

// Which thread ran which rows, in the order each ran them.
struct RowRecorder {
  static inline std::vector<std::vector<int64_t>> rowsOf;
  static inline WorkerScratch* workers = nullptr;  // thread t works with workers[t]
  static bool task(const RowJob&, int64_t row, WorkerScratch* worker) {
    rowsOf[static_cast<size_t>(worker - workers)].push_back(row);
    return row != 7;
  }
};

TEST(RowLoop, ContiguousBlocksPerThreadRunInIncreasingOrder) {
  SetThreadCount(4);
  using Blocks = std::vector<std::vector<int64_t>>;
  RowJob job{};
  job.settings.samples = static_cast<int32_t>(SmallWorkThresholds().calculation);  // worth its threads
  for (auto [first, end, expected] : {std::tuple{0, 10, Blocks{{0, 1, 2}, {3, 4, 5}, {6, 7}, {8, 9}}},
                                      {20, 25, Blocks{{20, 21}, {22}, {23}, {24}}},
                                      {3, 5, Blocks{{3}, {4}, {}, {}}}}) {
    RowRecorder::rowsOf.assign(4, {});
    job.firstRow = first;
    job.endRow = end;
    WorkerScratch workers[4] = {};
    RowRecorder::workers = workers;
    const int64_t failed = RunRowLoop(job, RowRecorder::task, workers, 4);
    EXPECT_EQ(RowRecorder::rowsOf, expected);
    EXPECT_EQ(failed, first <= 7 && 7 < end ? 1 : 0);
  }
  SetThreadCount(1);
}

TEST_F(CalculationDriver, RowsAreTheSameBitsForOneTwoAndThreeThreads) {
  test_support::CageCase star = test_support::StarCase();
  EffectInstance* instance = prepare(star.mesh, {star.inside, PointsInCube(13)}, 48, 0.01);
  std::vector<std::vector<double>> reference;
  for (int threads : {1, 2, 3}) {
    SetThreadCount(threads);
    reprepare(instance);
    ASSERT_TRUE(CalculateCoordinates(instance));
    for (int32_t t = 0; t < 2; ++t) {
      const std::vector<double> rows = Rows(instance, target(instance, t));
      if (threads == 1)
        reference.push_back(rows);
      else
        EXPECT_TRUE(SameBits(rows, reference[t])) << threads << " threads, target " << t;
    }
  }
  EXPECT_EQ(ComputedRows(instance, target(instance, 0)), static_cast<int>(star.inside.size()));
}

TEST_F(CalculationDriver, EveryRayIsTestedAgainstEveryTriangleOnceByTheExhaustiveSearch) {
  test_support::ScopedRaySearch exhaustive(RaySearch::kExhaustive);
  EffectInstance* instance = prepare(test_support::Cube(), {PointsInCube(14)}, 5);
  host().resetCalls();
  ASSERT_TRUE(CalculateCoordinates(instance));
  EXPECT_EQ(host().calls("useful_RayIntersectTriangle"), 14 * 5 * 12);
  EXPECT_EQ(host().calls("useful_TriangulateTarget"), 1);
  EXPECT_EQ(host().calls("useful_FreeMesh"), 1);
}

// The weighted sums of the cage points come close to the points, and closer
// with more samples.
TEST_F(CalculationDriver, WeightsReproduceInsidePointsBetterWithMoreSamples) {
  const test_support::CageCase cube = test_support::CubeCase();
  EffectInstance* instance = prepare(cube.mesh, {cube.inside}, 32);
  double meanError[2] = {0, 0};
  for (int run = 0; run < 2; ++run) {
    instance->Samples = run == 0 ? 32 : 512;
    reprepare(instance);
    ASSERT_TRUE(CalculateCoordinates(instance));
    const TargetEntry* t = target(instance);
    for (uint32_t i = 0; i < t->ActiveCount; ++i) {
      const double error = test_support::Distance(reproduce(instance, t, i), cube.inside[i]);
      EXPECT_LT(error, 0.01) << i;
      meanError[run] += error / t->ActiveCount;
    }
  }
  EXPECT_LT(meanError[1], meanError[0]);
}

TEST_F(CalculationDriver, CageWithoutPolygonsOrTargetWithoutPointsComputesNothing) {
  EffectInstance* instance = prepare(test_support::PointCloud(test_support::Cube().points), {PointsInCube(12), {}}, 8);
  EXPECT_TRUE(CalculateCoordinates(instance));
  EXPECT_TRUE(AllZero(Rows(instance, target(instance))));
  EXPECT_EQ(target(instance, 1)->ActiveCount, 0u);
  EXPECT_TRUE(host().messages().empty());
}

TEST_F(CalculationDriver, RowsThatAreNotDenseAreNeverWritten) {
  EffectInstance* instance = prepare(test_support::Cube(), {PointsInCube(12)}, 8, 0.1);
  ASSERT_TRUE(CalculateCoordinates(instance));
  CompactWeights(instance);
  const std::vector<double> compact(target(instance)->Weights,
                                    target(instance)->Weights + target(instance)->WeightCount);
  ASSERT_LT(compact.size(), 12u * 8u);
  EXPECT_TRUE(CalculateCoordinates(instance));
  EXPECT_TRUE(SameBits(std::vector<double>(target(instance)->Weights, target(instance)->Weights + compact.size()),
                       compact));
}

// --- Refusals and failures -------------------------------------------------------

class CalculationRefusal : public test_support::CoordinateTest {
 protected:
  EffectInstance* prepared() { return prepare(test_support::Cube(), {PointsInCube(12), PointsInCube(5)}, 8); }

  // Exactly one error message, containing `part`.
  void expectOneError(const std::string& part) {
    const std::vector<host::Message> messages = host().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, ostrand::kMessageKindError);
    EXPECT_EQ(messages[0].text2, "Error");
    EXPECT_NE(messages[0].text.find(part), std::string::npos) << messages[0].text;
  }
};

TEST_F(CalculationRefusal, MissingGeometryServicesStopEverythingWithOneMessage) {
  for (UsefulFunctionIndex missing : {UF_useful_RayIntersectTriangle, UF_useful_TriangulateTarget, UF_useful_FreeMesh}) {
    EffectInstance* instance = prepared();
    void* kept = UsefulTable[missing];
    UsefulTable[missing] = nullptr;
    host().clearMessages();
    host().resetCalls();
    EXPECT_FALSE(CalculateCoordinates(instance));
    expectOneError("Cannot calculate");
    EXPECT_EQ(host().calls("useful_TriangulateTarget"), 0);
    EXPECT_TRUE(host().progress().empty());
    EXPECT_TRUE(AllZero(Rows(instance, target(instance, 0))));
    UsefulTable[missing] = kept;
  }
}

TEST_F(CalculationRefusal, SampleCountsBeyondReachAreRefused) {
  for (int32_t samples : {kMaxSampleDirections + 1, 1000000000, INT_MAX}) {
    EffectInstance* instance = prepared();
    instance->Samples = samples;
    host().clearMessages();
    EXPECT_FALSE(CalculateCoordinates(instance));
    expectOneError(std::to_string(samples));
    EXPECT_TRUE(AllZero(Rows(instance, target(instance, 0))));
  }
}

TEST_F(CalculationRefusal, DirectionsWithoutMemorySkipOnlyThatTarget) {
  EffectInstance* instance = prepared();
  host().clearMessages();
  SetAllocationFailure(0);  // the first target's directions
  EXPECT_FALSE(CalculateCoordinates(instance));
  SetAllocationFailure(-1);
  expectOneError("target0");
  EXPECT_TRUE(AllZero(Rows(instance, target(instance, 0))));
  EXPECT_EQ(ComputedRows(instance, target(instance, 1)), 5);
}

// Each allocation of the calculation failing in turn, on two threads: the
// workers' scratch costs the target before anything is computed, a row's
// polygon scratch or kept weights cost that row, joining the rows to the
// target costs the target; each said once. Rows computed are the clean ones.
// The cage snapshot's memory costs nothing: without it the hits read the
// host, and every row comes out the same, bit for bit.
TEST_F(CalculationRefusal, EachAllocationFailingCostsARowOrTheTargetAndSaysSoOnce) {
  test_support::ScopedRaySearch exhaustive(RaySearch::kExhaustive);  // no hierarchy or candidate lists to allocate
  EffectInstance* instance = prepare(test_support::Cube(), {PointsInCube(25)}, 8);
  SetThreadCount(2);
  SetAllocationFailure(-1);
  ASSERT_TRUE(CalculateCoordinates(instance));
  const long allocations = SetAllocationFailure(-1);
  const std::vector<double> clean = Rows(instance, target(instance));

  int seen[4] = {0, 0, 0, 0};
  for (long n = 1; n < allocations; ++n) {  // 0 is the directions
    SCOPED_TRACE(n);
    reprepare(instance);
    host().clearMessages();
    SetAllocationFailure(n);
    const bool calculated = CalculateCoordinates(instance);
    SetAllocationFailure(-1);
    if (calculated) {
      ++seen[3];
      EXPECT_TRUE(host().messages().empty());
      EXPECT_TRUE(SameBits(Rows(instance, target(instance)), clean));
      continue;
    }
    ASSERT_EQ(host().messages().size(), 1u);
    const std::string text = host().messages()[0].text;
    if (text.find("Not enough memory to calculate target \"target0\"") != std::string::npos) {
      ++seen[0];
      EXPECT_TRUE(AllZero(Rows(instance, target(instance))));
    } else if (text.find("Not enough memory to keep the weights of target \"target0\"") != std::string::npos) {
      ++seen[1];
      EXPECT_EQ(target(instance)->ActiveCount, 0u);
      EXPECT_EQ(target(instance)->Weights, nullptr);
    } else {
      ++seen[2];
      expectOneError("1 of the 25 points of target \"target0\"");
      int zeroRows = 0;
      for (uint32_t i = 0; i < 25; ++i) {
        const std::vector<double> r = Row(instance, target(instance), i);
        if (AllZero(r))
          ++zeroRows;
        else
          EXPECT_TRUE(SameBits(r, std::vector<double>(clean.begin() + i * 8, clean.begin() + i * 8 + 8)));
      }
      EXPECT_EQ(zeroRows, 1);
    }
  }
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  EXPECT_GT(seen[2], 0);
  EXPECT_GE(seen[3], 5);  // every allocation of the snapshot
  SetThreadCount(1);
}

// --- A host that answers badly -------------------------------------------------

// fxMeshPoly with a chosen fault, on top of the host's own answer.
struct BadPolygons {
  enum Fault { kPointTooLarge, kPointNegative, kNegativeCount, kCountAboveWritten, kOnlyFirstPolygonBad };
  static inline Fault fault = kPointTooLarge;
  static inline fxMeshPoly_fn original = nullptr;

  static int32_t answer(uint32_t object, int32_t poly, int32_t* points, int32_t capacity, int32_t* count,
                        int32_t* second, int32_t zero) {
    const int32_t result = original(object, poly, points, capacity, count, second, zero);
    const bool listing = capacity > 1;  // the second call, with the full buffer
    switch (fault) {
      case kPointTooLarge: if (listing) points[1] = 8; break;
      case kPointNegative: if (listing) points[2] = -1; break;
      case kNegativeCount: *count = -4; break;
      case kCountAboveWritten: if (!listing) *count += 2; break;
      case kOnlyFirstPolygonBad: if (listing && poly == 0) points[0] = INT_MAX; break;
    }
    return result;
  }
};

TEST_F(CalculationRefusal, PolygonAnswersOutsideTheCageAreIgnored) {
  for (BadPolygons::Fault fault : {BadPolygons::kPointTooLarge, BadPolygons::kPointNegative, BadPolygons::kNegativeCount,
                                   BadPolygons::kCountAboveWritten, BadPolygons::kOnlyFirstPolygonBad}) {
    EffectInstance* instance = prepared();
    BadPolygons::fault = fault;
    BadPolygons::original = FX(fxMeshPoly);
    HostFunctionTable[HF_fxMeshPoly] = reinterpret_cast<void*>(&BadPolygons::answer);
    EXPECT_TRUE(CalculateCoordinates(instance));
    HostFunctionTable[HF_fxMeshPoly] = reinterpret_cast<void*>(BadPolygons::original);
    // Every polygon bad: nothing binds. Only the first: the other faces still bind every point.
    EXPECT_EQ(ComputedRows(instance, target(instance, 0)), fault == BadPolygons::kOnlyFirstPolygonBad ? 12 : 0);
    EXPECT_TRUE(fault == BadPolygons::kOnlyFirstPolygonBad || AllZero(Rows(instance, target(instance, 0)))) << fault;
  }
}

// The geometry module may answer with no record at all; there is then
// nothing to hand back. (Broken records are FindNearestHit's business.)
struct NoTriangulation {
  static inline int frees = 0;
  static void* make(uint32_t, int32_t) { return nullptr; }
  static void release(void*) { ++frees; }
};

TEST_F(CalculationRefusal, NoTriangulationRecordComputesNothingAndFreesNothing) {
  EffectInstance* instance = prepared();
  UsefulTable[UF_useful_TriangulateTarget] = reinterpret_cast<void*>(&NoTriangulation::make);
  UsefulTable[UF_useful_FreeMesh] = reinterpret_cast<void*>(&NoTriangulation::release);
  host().clearMessages();
  EXPECT_FALSE(CalculateCoordinates(instance));
  EXPECT_EQ(host().messages().size(), 2u);  // one per target, each naming the triangulation
  EXPECT_NE(host().messages()[0].text.find("triangulation"), std::string::npos);
  EXPECT_EQ(NoTriangulation::frees, 0);
  EXPECT_TRUE(AllZero(Rows(instance, target(instance, 0))));
}

// --- Kept weights -------------------------------------------------------------------

// The calculation keeping only the non-zero weights, held to the dense rows
// and their compaction bit for bit in every array the module keeps, on any
// thread count; the targets that only the dense rows could not hold; and the
// weights file's limit on the weights a target keeps.

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
