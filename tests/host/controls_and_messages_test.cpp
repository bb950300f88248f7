// Panels built by a module callback, controls worked by the host, and the
// module's messages.
#include <gtest/gtest.h>

#include <thread>

#include "host_test_support.h"

namespace {

using host::Host;

struct PanelModule {
  std::vector<std::pair<uint32_t, uint64_t>> events;  // control, event
  int32_t seenInt = 0;
  double seenDouble = 0;
  uint32_t seenObject = 0;
  int32_t seenVec[3] = {0, 0, 0};
};
PanelModule* panelModule = nullptr;

int32_t OnControl(uint32_t control, uint32_t, void*, uint64_t event) {
  panelModule->events.push_back({control, event});
  HOST_FN(fxConGetInt)(control, &panelModule->seenInt);
  HOST_FN(fxConGetDouble)(control, &panelModule->seenDouble);
  HOST_FN(fxConGetObj)(control, &panelModule->seenObject);
  HOST_FN(fxConGetVeci3)(control, panelModule->seenVec);
  return 1;
}

int32_t OnMessage(void*, uint32_t, int32_t message, uint64_t argument) {
  if (message != ostrand::kMessageControlPanel || argument != ostrand::kControlPanelBuild) return 0;
  const uint32_t block = HOST_FN(fxCC_Block)("Cage", 1, 2, 3);
  const uint32_t cage = HOST_FN(fxCC_ObjectPopup)("Cage object", &OnControl, 0, 140, 1, 2, 3, 0x40);
  HOST_FN(fxConSetSize)(cage, 140, 20);
  HOST_FN(fxConSetPos)(cage, 10, 30);
  HOST_FN(fxCC_DragFloat)("Tolerance", &OnControl, 0, 0.0, 1.0, 0.25, 0);
  HOST_FN(fxCC_Button)("Calculate", &OnControl, 0, 90);
  HOST_FN(fxInterfaceBlockSet)("Deform", nullptr, 0, block, 1);
  return 1;
}

class Controls : public ::testing::Test {
 protected:
  Controls() { panelModule = &module; }
  ~Controls() override { panelModule = nullptr; }
  PanelModule module;
  Host host;
};

TEST_F(Controls, BuildPanelRecordsControlsInCreationOrder) {
  host.setModuleCallback(&OnMessage);
  const uint32_t effect = host.createEffect({});
  const auto made = host.buildPanel(effect);
  ASSERT_EQ(made.size(), 4u);
  const host::Control* block = host.control(made[0]);
  const host::Control* cage = host.controlByLabel("Cage object");
  ASSERT_NE(cage, nullptr);
  EXPECT_EQ(block->creator, "fxCC_Block");
  EXPECT_EQ(cage->id, made[1]);
  EXPECT_EQ(cage->block, block->id);
  EXPECT_EQ(cage->args, (std::vector<double>{0, 140, 1, 2, 3, 0x40}));
  EXPECT_TRUE(cage->sized && cage->placed);
  EXPECT_EQ(cage->width, 140);
  EXPECT_EQ(cage->y, 30);
  EXPECT_EQ(host.controlByLabel("Tolerance")->args, (std::vector<double>{0, 0, 1, 0.25, 0}));
  ASSERT_EQ(host.blockPlacements().size(), 1u);
  EXPECT_EQ(host.blockPlacements()[0].page, "Deform");
  EXPECT_EQ(host.blockPlacements()[0].block, block->id);

  const auto calls = host.panelCalls();
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[0].rfind("fxCC_Block(Cage, 1, 2, 3)", 0), 0u);
  EXPECT_EQ(calls[1].rfind("fxCC_ObjectPopup(Cage object, callback, 0, 140, 1, 2, 3, 64)", 0), 0u);
  EXPECT_EQ(calls[2], "fxConSetSize(" + std::to_string(cage->id) + ", 140, 20)");
  EXPECT_EQ(calls[3], "fxConSetPos(" + std::to_string(cage->id) + ", 10, 30)");
  EXPECT_EQ(calls[6].rfind("fxInterfaceBlockSet(Deform, (null), 0, ", 0), 0u);
}

TEST_F(Controls, SettingAValueFiresTheCallbackWithEventZero) {
  host.setModuleCallback(&OnMessage);
  const uint32_t effect = host.createEffect({});
  host.buildPanel(effect);
  const uint32_t cage = host.controlByLabel("Cage object")->id;
  const uint32_t tolerance = host.controlByLabel("Tolerance")->id;
  host.setObject(cage, effect, 77);
  EXPECT_EQ(module.seenObject, 77u);
  host.setDouble(tolerance, effect, 0.125);
  EXPECT_EQ(module.seenDouble, 0.125);
  host.setInt(tolerance, effect, -3);
  EXPECT_EQ(module.seenInt, -3);
  const int32_t vec[3] = {4, 5, 6};
  host.setVeci3(cage, effect, vec);
  EXPECT_EQ(module.seenVec[2], 6);
  host.press(host.controlByLabel("Calculate")->id, effect);
  host.fire(cage, effect, ostrand::kControlRefresh);
  ASSERT_EQ(module.events.size(), 6u);
  EXPECT_EQ(module.events[4].second, ostrand::kControlChanged);
  EXPECT_EQ(module.events[5], (std::pair<uint32_t, uint64_t>{cage, ostrand::kControlRefresh}));

  // The module sets values and disables controls itself
  int32_t three[3] = {1, 2, 3};
  HOST_FN(fxConSetVeci3)(cage, three);
  HOST_FN(fxConDisable)(cage);
  EXPECT_EQ(host.control(cage)->veci3[1], 2);
  EXPECT_EQ(host.control(cage)->disableCount, 1);
  EXPECT_THROW(host.fire(9999, effect, 0), std::invalid_argument);
  EXPECT_THROW(host.setInt(9999, effect, 0), std::invalid_argument);
  int32_t untouched = 5;
  EXPECT_EQ(HOST_FN(fxConGetInt)(9999, &untouched), 0);
  EXPECT_EQ(untouched, 5);
}

TEST(Messages, RecordedInOrderFromAnyThread) {
  Host host;
  std::vector<int32_t> shown;
  host.setProgressSink([&shown](const host::Progress& p) { shown.push_back(p.percent); });
  HOST_FN(fxMessageSend)(3, "Ostrand", ostrand::kMessageKindError, "No cage", "Ostrand error");
  HOST_FN(fxMessageSend)(0, nullptr, ostrand::kMessageKindMissingFunction, "fxMeshPoint", nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 25; ++i) HOST_FN(fxMessageProgress)(0, i, ostrand::kProgressKind, "Calculating");
    });
  for (auto& thread : threads) thread.join();
  const auto messages = host.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].effectId, 3u);
  EXPECT_EQ(messages[0].text2, "Ostrand error");
  EXPECT_TRUE(messages[0].hasText2);
  EXPECT_FALSE(messages[1].hasText2);
  EXPECT_EQ(messages[1].heading, "");
  EXPECT_EQ(host.progress().size(), 100u);
  EXPECT_EQ(shown.size(), 100u);
  EXPECT_EQ(host.progress()[0].kind, ostrand::kProgressKind);
  host.clearMessages();
  EXPECT_TRUE(host.messages().empty());
  EXPECT_TRUE(host.progress().empty());
}

}  // namespace
