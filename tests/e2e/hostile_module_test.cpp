// The built module in a host that answers badly: every fault the host
// stand-in can commit, armed through a whole session of a user's work, and a
// host without the geometry services or with an unterminated module path at
// entry. The module must come through each without crashing, keep its
// instances consistent and still do its work once the host behaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/fault_injection.h"
#include "loaded_module.h"
#include "support/instance_invariants.h"
#include "support/test_meshes.h"

namespace {

using e2e::LoadedModuleTest;

host::Mesh Inside(int n) {
  host::Mesh mesh;
  for (int i = 0; i < n; ++i) mesh.points.push_back({-0.8 + 0.13 * i, 0.4 - 0.06 * i, 0.2 * ((i % 3) - 1)});
  return mesh;
}

class HostileModule : public LoadedModuleTest {
 protected:
  EffectInstance* instance(uint32_t effect) {
    host::EffectItem* item = host_->effect(effect);
    if (item == nullptr) return nullptr;
    auto found = item->data.find(ostrand::kInstanceDataKey);
    return found == item->data.end() ? nullptr : static_cast<EffectInstance*>(found->second);
  }
  void expectConsistent(uint32_t effect) {
    if (EffectInstance* made = instance(effect)) {
      EXPECT_EQ(test_support::CheckInstance(*made), "");
    }
  }

  // What a user does in one sitting, checking the instance after each step:
  // apply the effect, pick the cage, calculate, play a frame, save and load
  // the scene, delete the effect. Returns the effect.
  uint32_t session(uint32_t cage, uint32_t target, const std::string& scene) {
    host::Host& host = *host_;
    const uint32_t effect = host.createEffect({target});
    expectConsistent(effect);
    host.buildPanel(effect);
    auto control = [&](const char* label) { return host.controlByLabel(label)->id; };
    host.setInt(control("Samples"), effect, 6);
    host.setObject(control("Cage"), effect, cage);
    expectConsistent(effect);
    host.press(control("Calculate"), effect);
    expectConsistent(effect);
    host.evaluate(effect);
    expectConsistent(effect);
    host.saveScene(scene);
    host.loadScene(scene);  // the same ids come back
    expectConsistent(effect);
    host.evaluate(effect);
    expectConsistent(effect);
    return effect;
  }
};

TEST_F(HostileModule, EveryFaultThroughAWholeSession) {
  const long injected = host::FaultsInjected();
  for (int kind = 0; kind < static_cast<int>(host::Fault::kCount); ++kind) {
    const auto fault = static_cast<host::Fault>(kind);
    SCOPED_TRACE(host::FaultName(fault));
    host::Host& host = startModule();
    const uint32_t cage = host.addObject("cage", test_support::CubeMesh());
    const uint32_t target = host.addObject("target", Inside(14));
    // Every call of the fault's functions answers badly, with two
    // exceptions. 2^31 - 1 points are claimed for the cage alone: a target's
    // claim is refused the same way (see the unit suite), only after as many
    // weight queries. And the instance record goes missing for the first
    // four requests only: a host that cannot find it when the scene is
    // replaced loses it, since only the host knows where it is.
    host::FaultPlan plan{fault};
    if (fault == host::Fault::kHugePointCount) plan.object = cage;
    if (fault == host::Fault::kDataGetNull) plan.times = 4;
    host::ArmFault(plan);
    const uint32_t effect = session(cage, target, (root_ / "scene.json").string());
    host::DisarmFaults();

    // The host behaves again: the module still does its work.
    host.clearMessages();
    ASSERT_NE(instance(effect), nullptr);
    auto control = [&](const char* label) { return host.controlByLabel(label)->id; };
    ASSERT_EQ(host.setObject(control("Cage"), effect, cage), 0);  // the scene may not have kept it
    ASSERT_EQ(host.setInt(control("Samples"), effect, 6), 0);
    ASSERT_EQ(host.press(control("Calculate"), effect), 0);
    // A weights file name the host garbled is kept, and writing to it is told.
    const bool garbledName = fault == host::Fault::kStringUnterminated;
    EXPECT_EQ(host.messages().size(), garbledName ? 1u : 0u);
    for (const host::Message& message : host.messages())
      EXPECT_TRUE(garbledName && message.text.find("could not be written") != std::string::npos) << message.text;
    EXPECT_EQ(instance(effect)->Targets->records[0].ActiveCount, 14u);
    EXPECT_GT(instance(effect)->Targets->records[0].WeightCount, 0);
    expectConsistent(effect);
    EXPECT_EQ(host.destroyEffect(effect), 0);
  }
  std::printf("[hostile] faults injected by the host in the sessions: %ld\n", host::FaultsInjected() - injected);
}

TEST_F(HostileModule, HostWithoutGeometryServicesIsToldWhatCannotBeDone) {
  host::Host& host = loadHost(copyModule());
  for (const char* name : {"useful_CreateTargetList", "useful_FetchTargetList", "useful_DeleteTargetList",
                           "useful_TargetListEffectUpdate", "useful_TriangulateTarget", "useful_FreeMesh",
                           "useful_RayIntersectTriangle"})
    host.missName(name);
  ASSERT_EQ(host.enter(), ostrand::kEntryReady);
  host.announceServices();
  const uint32_t cage = host.addObject("cage", test_support::CubeMesh());
  const uint32_t target = host.addObject("target", Inside(5));
  const uint32_t effect = session(cage, target, (root_ / "scene.json").string());
  std::vector<std::string> texts;
  for (const host::Message& message : host.messages()) texts.push_back(message.text);
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(texts[0].find("no target list"), std::string::npos) << texts[0];
  EXPECT_EQ(host.destroyEffect(effect), 0);
  EXPECT_NE(host.messages().back().text.find("no way to delete"), std::string::npos);
}

TEST_F(HostileModule, UnterminatedModulePathAtEntryOnlyCostsTheLog) {
  host::Host& host = loadHost(copyModule());
  {
    host::ScopedFault fault({host::Fault::kPathUnterminated});
    ASSERT_EQ(host.enter(), ostrand::kEntryReady);
  }
  host.announceServices();
  EXPECT_FALSE(std::filesystem::exists(moduleDir_ / "ostrand.log"));
  const uint32_t cage = host.addObject("cage", test_support::CubeMesh());
  const uint32_t target = host.addObject("target", Inside(5));
  const uint32_t effect = session(cage, target, (root_ / "scene.json").string());
  ASSERT_EQ(host.press(host.controlByLabel("Calculate")->id, effect), 0);  // the loaded scene named no weights file
  EXPECT_TRUE(host.messages().empty()) << host.messages()[0].text;
  EXPECT_EQ(instance(effect)->Targets->records[0].ActiveCount, 5u);
  EXPECT_GT(instance(effect)->Targets->records[0].WeightCount, 0);
}

}  // namespace
