// A host that answers badly: bad counts, polygons and triangulations, a
// missing instance record, missing services and formats, unterminated text.
// After every fault the module has not crashed, has either told the user or
// done what it does for such an answer without a word, and its instance
// keeps every invariant.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "host_interface/memory.h"
#include "host_interface/module_state.h"
#include "shell/module_callback.h"
#include "support/hostile_fixture.h"

namespace {

using host::Fault;
using host::FaultPlan;
using host::ScopedFault;
using test_support::ExpectInstanceConsistent;
using test_support::Snapshot;
using test_support::Take;

class HostileHost : public test_support::HostileTest {
 protected:
  const TargetEntry& target(int32_t t) { return instance().Targets->records[t]; }
  // kInstancePrepare, then kMessageEvaluate with kEvaluateDisplace, as the host evaluates.
  void evaluate() {
    EXPECT_EQ(host().evaluate(effect_), 0);
    ExpectInstanceConsistent(instance());
  }
};

TEST_F(HostileHost, NegativeCountsReadAsEmptyMeshes) {
  bind();
  {
    ScopedFault fault({Fault::kNegativePointCount, a_});
    ASSERT_EQ(press("Calculate"), 0);
  }
  expectSilence();
  ExpectInstanceConsistent(instance());
  EXPECT_EQ(target(0).PointCount, 0);
  EXPECT_EQ(target(0).ActiveCount, 0u);
  EXPECT_EQ(target(1).ActiveCount, 3u);
  evaluate();

  {
    ScopedFault points({Fault::kNegativePointCount, cage_});
    ScopedFault polygons({Fault::kNegativePolygonCount, cage_});
    ASSERT_EQ(press("Calculate"), 0);
  }
  // A cage without points: no ray can hit it, every point keeps no weight.
  expectSilence();
  ExpectInstanceConsistent(instance());
  EXPECT_EQ(instance().CagePoints, 0u);
  EXPECT_EQ(instance().CagePolys, 0);
  EXPECT_EQ(target(0).ActiveCount, 12u);
  EXPECT_EQ(target(0).WeightCount, 0);
  evaluate();
}

TEST_F(HostileHost, HugeCountsAreRefusedWithAMessage) {
  bind();
  ostrand::SetBlockLimit(uint64_t{1} << 30);  // the same refusals on every machine

  {  // 2^31 - 1 points against 8 cage points: the per-point arrays cannot be had
    ScopedFault fault({Fault::kHugePointCount, a_});
    ASSERT_EQ(press("Calculate"), 0);
  }
  expectOneError("Not enough memory to calculate target \"a\"");
  ExpectInstanceConsistent(instance());
  EXPECT_EQ(target(0).ActiveCount, 0u);
  EXPECT_EQ(target(1).ActiveCount, 3u);  // the other target goes on
  evaluate();

  {  // a cage of 2^31 - 1 points: its positions cannot be had
    ScopedFault fault({Fault::kHugePointCount, cage_});
    ASSERT_EQ(press("Calculate"), 0);
  }
  expectOneError("Not enough memory to read the cage");
  ExpectInstanceConsistent(instance());
  EXPECT_EQ(instance().CagePoints, 0u);
  EXPECT_EQ(target(1).ActiveCount, 0u);
  evaluate();

  // Against a one-point cage the rows fit, the per-point arrays do not.
  uint32_t dot = host().addObject("dot", test_support::PointCloud({{0, 0, 0}}));
  ASSERT_EQ(host().setObject(control("Cage"), effect_, dot), 0);
  {
    ScopedFault fault({Fault::kHugePointCount, a_});
    ASSERT_EQ(press("Calculate"), 0);
  }
  expectOneError("Not enough memory to calculate target \"a\"");
  ExpectInstanceConsistent(instance());
  EXPECT_EQ(target(0).ActiveCount, 0u);
  EXPECT_EQ(target(1).ActiveCount, 3u);

  {  // a polygon count is only carried into the weights file's header
    ScopedFault fault({Fault::kHugePolygonCount, dot});
    ASSERT_EQ(press("Calculate"), 0);
  }
  expectSilence();
  EXPECT_EQ(instance().CagePolys, INT32_MAX);
  ExpectInstanceConsistent(instance());
  evaluate();
}

TEST_F(HostileHost, BadPolygonAnswersLoseOnlyTheHitsTheyConcern) {
  bind();
  const Snapshot clean = Take(instance());
  for (Fault bad : {Fault::kPolygonCountAboveWritten, Fault::kPolygonHugeCount, Fault::kPolygonNegativeCount,
                    Fault::kPolygonPointsOutside, Fault::kPolygonPointsNegative}) {
    SCOPED_TRACE(host::FaultName(bad));
    {  // every answer bad: no hit is believed, no point keeps a weight
      ScopedFault fault({bad, cage_});
      ASSERT_EQ(press("Calculate"), 0);
    }
    expectSilence();
    ExpectInstanceConsistent(instance());
    EXPECT_EQ(target(0).ActiveCount, 12u);
    EXPECT_EQ(target(0).WeightCount, 0);
    EXPECT_EQ(target(1).WeightCount, 0);
    evaluate();
    {  // one bad answer among many
      ScopedFault fault({bad, cage_, 37, 1});
      ASSERT_EQ(press("Calculate"), 0);
    }
    expectSilence();
    ExpectInstanceConsistent(instance());
    EXPECT_EQ(target(0).ActiveCount, 12u);
    ASSERT_EQ(press("Calculate"), 0);
    EXPECT_TRUE(Take(instance()) == clean);  // nothing of the fault stays behind
  }
}

TEST_F(HostileHost, NonFinitePositionsBreakNothing) {
  bind();
  {
    ScopedFault fault({Fault::kPointNotFinite, cage_});
    ASSERT_EQ(press("Calculate"), 0);
  }
  ExpectInstanceConsistent(instance());
  {
    ScopedFault cage({Fault::kPointNotFinite, cage_});
    ScopedFault target({Fault::kPointNotFinite, a_});
    evaluate();
  }
  ExpectInstanceConsistent(instance());
}

TEST_F(HostileHost, MissingInstanceRecordChangesNothing) {
  bind();
  const std::vector<std::pair<const char*, std::function<int32_t()>>> actions = {
      {"evaluate", [&] { return host().sendMessage(effect_, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace); }},
      {"prepare", [&] { return item(ostrand::kInstancePrepare); }},
      {"save", [&] { return item(ostrand::kInstanceSave); }},
      {"load", [&] { return item(ostrand::kInstanceLoad); }},
      {"exists", [&] { return item(ostrand::kInstanceExists); }},
      {"destroy", [&] { return item(ostrand::kInstanceDestroy); }},
      {"Calculate", [&] { return press("Calculate"); }},
      {"Save", [&] { return press("Save"); }},
      {"Load", [&] { return press("Load"); }},
      {"Cage", [&] { return host().setObject(control("Cage"), effect_, 0); }},
      {"Samples", [&] { return host().setInt(control("Samples"), effect_, 99); }},
      {"Threads refresh", [&] { return host().fire(control("Threads"), effect_, 1); }},
      {"Weight", [&] {
         const int32_t weight[3] = {5, 0, 0};
         return host().setVeci3(control("Weight"), effect_, weight);
       }},
  };
  // A stored scene for "load", loaded once, so that its weights path (the
  // base directory) is the instance's from here on.
  ASSERT_EQ(item(ostrand::kInstanceSave), 0);
  ASSERT_EQ(item(ostrand::kInstanceLoad), 0);
  ASSERT_EQ(press("Calculate"), 0);
  const Snapshot before = Take(instance());
  for (const auto& [name, action] : actions) {
    SCOPED_TRACE(name);
    {
      ScopedFault fault({Fault::kDataGetNull, effect_, 0, 1});
      EXPECT_EQ(action(), 1);
    }
    expectOneError("Ostrand data not found!");
    EXPECT_TRUE(Take(instance()) == before);
    ExpectInstanceConsistent(instance());
  }

  // The record missing at any one point of a longer conversation.
  for (long skip = 0; skip < 8; ++skip) {
    SCOPED_TRACE(skip);
    {
      ScopedFault fault({Fault::kDataGetNull, effect_, skip, 1});
      item(ostrand::kInstancePrepare);
      host().sendMessage(effect_, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace);
      press("Calculate");
      item(ostrand::kInstanceSave);
      item(ostrand::kInstanceLoad);
      press("Calculate");
      host().evaluate(effect_);
    }
    expectOneError("Ostrand data not found!");
    ExpectInstanceConsistent(instance());
  }
  ASSERT_EQ(press("Calculate"), 0);
  EXPECT_TRUE(Take(instance()) == before);
}

TEST_F(HostileHost, UnusableTriangulationLeavesTheTargetsAloneAndSaysSo) {
  bind();
  for (Fault bad : {Fault::kTriangulateNull, Fault::kTriangulateNegativePolygons, Fault::kTriangulateNegativeTriangles}) {
    SCOPED_TRACE(host::FaultName(bad));
    {
      ScopedFault fault({bad, cage_});
      ASSERT_EQ(press("Calculate"), 0);
    }
    const std::vector<std::string> texts = errors();
    ASSERT_EQ(texts.size(), 2u);  // one for each target
    EXPECT_NE(texts[0].find("\"a\" was not calculated"), std::string::npos) << texts[0];
    EXPECT_NE(texts[1].find("triangulation of the cage is unusable"), std::string::npos) << texts[1];
    host().clearMessages();
    ExpectInstanceConsistent(instance());
    EXPECT_EQ(instance().Mode, 0);
    EXPECT_EQ(target(0).ActiveCount, 0u);
    host().resetCalls();
    evaluate();
    EXPECT_EQ(host().calls("fxDisplacePoint"), 0);  // nothing moves to the origin
  }
}

TEST_F(HostileHost, NoFormatMeansNothingSavedOrLoaded) {
  bind();
  ASSERT_EQ(item(ostrand::kInstanceSave), 0);
  const Snapshot before = Take(instance());
  ScopedFault fault({Fault::kFormatNull});
  EXPECT_EQ(item(ostrand::kInstanceSave), 0);
  expectOneError("could not be saved");
  EXPECT_EQ(item(ostrand::kInstanceLoad), 0);
  expectOneError("could not be read");
  EXPECT_TRUE(Take(instance()) == before);
  ExpectInstanceConsistent(instance());
}

TEST_F(HostileHost, UnterminatedTextIsCutAtItsBuffer) {
  bind();
  {
    ScopedFault fault({Fault::kNameUnterminated, a_});
    ASSERT_EQ(press("Calculate"), 0);
  }
  ASSERT_FALSE(host().progress().empty());
  EXPECT_EQ(host().progress()[0].text, std::string(255, 'N') + ": calculating coordinates 0 / 10");

  // A base directory without end: the weights path stays absolute.
  nameWeightsFile(file("w.cw"));
  {
    ScopedFault fault({Fault::kPathUnterminated});
    ASSERT_EQ(item(ostrand::kInstanceSave), 0);
    const host::NamedValue* stored = host().effect(effect_)->formats[ostrand::kSceneFormatName].find("WeightBinFile");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::get<std::string>(*stored), file("w.cw"));
    ASSERT_EQ(item(ostrand::kInstanceLoad), 0);
  }
  EXPECT_EQ(std::string(instance().WeightsPath), file("w.cw"));
  ExpectInstanceConsistent(instance());

  // A stored path without end: read up to its buffer, then joined to the base.
  {
    ScopedFault fault({Fault::kStringUnterminated});
    ASSERT_EQ(item(ostrand::kInstanceLoad), 0);
  }
  const std::string path = instance().WeightsPath;
  EXPECT_EQ(path, folder_.string() + "/" + std::string(2047, 'S'));
  expectSilence();
  ExpectInstanceConsistent(instance());
  evaluate();
}

// Each service the module calls, missing from the host's answers to message
// 31: what needs it says why and changes nothing; everything else goes on.
struct MissingCase {
  const char* service;
  const char* create;     // error expected for each action ("" for none)
  const char* calculate;
  const char* prepare;
  const char* load;
  const char* destroy;
};

class MissingService : public HostileHost, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingService, WhatNeedsItSaysWhyAndTheRestGoesOn) {
  const MissingCase& c = GetParam();
  bind();
  nameWeightsFile(file("w.cw"));
  ASSERT_EQ(press("Calculate"), 0);  // writes the weights file
  ASSERT_EQ(item(ostrand::kInstanceSave), 0);
  host().missName(c.service);
  ASSERT_EQ(host().sendMessage(0, ostrand::kMessageServices, ostrand::kServicesGeometry), 0);
  ASSERT_EQ(ostrand::UsefulTable[ostrand::UF_useful_TriangulateTarget] == nullptr,
            std::string(c.service) == "useful_TriangulateTarget");

  auto expect = [&](const char* part) {
    if (*part == '\0') {
      expectSilence();
    } else {
      expectOneError(part);
    }
  };
  const Snapshot before = Take(instance());
  ASSERT_EQ(press("Calculate"), 0);
  expect(c.calculate);
  if (*c.calculate != '\0') {
    EXPECT_TRUE(Take(instance()) == before);
  }
  ExpectInstanceConsistent(instance());

  EXPECT_EQ(item(ostrand::kInstancePrepare), 0);
  expect(c.prepare);
  EXPECT_EQ(host().sendMessage(effect_, ostrand::kMessageEvaluate, ostrand::kEvaluateDisplace), 0);
  expectSilence();
  ExpectInstanceConsistent(instance());

  EXPECT_EQ(item(ostrand::kInstanceSave), 0);
  expectSilence();
  EXPECT_EQ(item(ostrand::kInstanceLoad), 0);
  expect(c.load);
  ExpectInstanceConsistent(instance());

  const uint32_t other = host().createEffect({b_});
  expect(c.create);
  ASSERT_NE(instanceOf(other), nullptr);
  ExpectInstanceConsistent(*instanceOf(other));
  EXPECT_EQ(host().destroyEffect(other), 0);
  expect(c.destroy);
  EXPECT_EQ(host().destroyEffect(effect_), 0);
  expect(c.destroy);
}

constexpr const char* kNoUpdate = "no target-list update";
constexpr const char* kCannotCalculate = "Cannot calculate";
constexpr const char* kNoDelete = "no way to delete";

INSTANTIATE_TEST_SUITE_P(
    Services, MissingService,
    ::testing::Values(MissingCase{"useful_CreateTargetList", "no target list", "", "", "", ""},
                      MissingCase{"useful_FetchTargetList", "", "", "", "", kNoDelete},
                      MissingCase{"useful_DeleteTargetList", "", "", "", "", kNoDelete},
                      MissingCase{"useful_TargetListEffectUpdate", "", kNoUpdate, kNoUpdate, kNoUpdate, ""},
                      MissingCase{"useful_TriangulateTarget", "", kCannotCalculate, "", "", ""},
                      MissingCase{"useful_FreeMesh", "", kCannotCalculate, "", "", ""},
                      MissingCase{"useful_RayIntersectTriangle", "", kCannotCalculate, "", "", ""}),
    [](const ::testing::TestParamInfo<MissingCase>& info) { return std::string(info.param.service).substr(7); });

}  // namespace
