// A long-lived host makes and removes effect items and their objects for as
// long as it runs: whatever it keeps for an item (the item's records and
// formats, the controls of its panel with their calls and placements, its
// target list, its objects and weight maps) goes when the item goes, so that
// its tables are as they were before the item came.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "host/host_state.h"
#include "host_test_support.h"

namespace {

using host::Control;
using host::Host;

// What a module keeps with the host for an item, without the module: a data
// record, a target list whose records count their frees, a panel, a format.
struct ItemModule {
  bool deletesList = true;
  long recordsFreed = 0;
  int record = 0;  // the data record's memory, which is the module's
};
ItemModule* itemModule = nullptr;

void InitRecord(void*, int32_t, uint32_t) {}
void FreeRecord(void*, int32_t) { ++itemModule->recordsFreed; }
void CopyRecord(void*, int32_t, void*, int32_t) {}
int32_t OnControl(uint32_t, uint32_t, void*, uint64_t) { return 0; }

int32_t OnMessage(void* handle, uint32_t effect, int32_t message, uint64_t argument) {
  if (message == ostrand::kMessageControlPanel && argument == ostrand::kControlPanelBuild) {
    const uint32_t block = HOST_FN(fxCC_Block)("Setup", 0, 0, 32);
    const uint32_t button = HOST_FN(fxCC_Button)("Calculate", &OnControl, 0, 90);
    HOST_FN(fxConSetSize)(button, 90, 20);
    HOST_FN(fxConSetPos)(button, 10, 30);
    HOST_FN(fxInterfaceBlockSet)("Setup", "Setup", 0, block, 0);
    return 0;
  }
  if (message != ostrand::kMessageInstanceData) return 0;
  switch (argument) {
    case ostrand::kInstanceCreate:
      HOST_FN(fxDataSet)(effect, ostrand::kInstanceDataKey, 0, &itemModule->record);
      HOST_FN(useful_CreateTargetList)(effect, 0, 1, &InitRecord, &FreeRecord, &CopyRecord, 16, 0);
      return 0;
    case ostrand::kInstanceSave:
      HOST_FN(fxArgSaveString)(HOST_FN(fxFormatNew)(handle, ostrand::kSceneFormatName, 0), "File", "w.cw", 0);
      return 0;
    case ostrand::kInstanceDestroy:
      HOST_FN(fxDataFree)(effect, ostrand::kInstanceDataKey, 0);
      if (itemModule->deletesList)
        HOST_FN(useful_DeleteTargetList)(HOST_FN(useful_FetchTargetList)(effect, 0));
      return 0;
    default:
      return 0;
  }
}

// Everything the host keeps that an item could add to.
struct Tables {
  size_t effects, objects, objectPages, weightMaps, weightMapPages, controls, panelCalls, blockPlacements,
      targetLists, strayData;
  bool operator==(const Tables&) const = default;
};

Tables TablesOf(Host& host) {
  Host::State& s = host.state();
  return {s.effects.size(),        s.objectOrder.size(),  s.objects.pagesHeld(),  s.weightMapOrder.size(),
          s.weightMaps.pagesHeld(), s.controls.size(),    s.panelCalls.size(),    s.blockPlacements.size(),
          s.targetLists.size(),     s.strayData.size()};
}

std::ostream& operator<<(std::ostream& out, const Tables& t) {
  return out << "effects " << t.effects << ", objects " << t.objects << " in " << t.objectPages << " pages, maps "
             << t.weightMaps << " in " << t.weightMapPages << " pages, controls " << t.controls << ", panel calls "
             << t.panelCalls << ", block placements " << t.blockPlacements << ", target lists " << t.targetLists
             << ", stray data " << t.strayData;
}

class ItemLifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    itemModule = &module_;
    host_.setModuleCallback(&OnMessage);
  }

  // A cage, a target with a weight map, and an effect on the target with its
  // panel built and its scene values saved, as a program binding a mesh makes them.
  struct Item {
    uint32_t cage, target, map, effect;
  };
  Item add() {
    Item item{host_.addObject("cage", host_test::Cube()), host_.addObject("target", host_test::Cube(0.5)), 0, 0};
    item.map = host_.addWeightMap(item.target, "blend", std::vector<float>(8, 0.5f));
    item.effect = host_.createEffect({item.target});
    host_.buildPanel(item.effect);
    host_.sendMessage(item.effect, ostrand::kMessageInstanceData, ostrand::kInstanceSave);
    return item;
  }
  void remove(const Item& item) {
    host_.destroyEffect(item.effect);
    host_.removeObject(item.target);
    host_.removeObject(item.cage);
  }

  ItemModule module_;  // outlives the host, which destroys the items left when it closes
  Host host_;
};

TEST_F(ItemLifetime, ItemsAddedAndRemovedLeaveTheTablesAsBefore) {
  const Item kept = add();
  const Tables before = TablesOf(host_);
  // Far more ids than a page of the tables holds.
  for (int cycle = 0; cycle < 5000; ++cycle) {
    remove(add());
    if (cycle % 1000 == 0) {
      ASSERT_EQ(TablesOf(host_), before) << "after cycle " << cycle;
    }
  }
  EXPECT_EQ(TablesOf(host_), before);

  // The item kept throughout is whole: its objects, its map, its panel.
  EXPECT_EQ(host_.objectIds(), (std::vector<uint32_t>{kept.cage, kept.target}));
  EXPECT_EQ(host_.weightMap(kept.map)->object, kept.target);
  EXPECT_EQ(host_.panelCalls().size(), 5u);
  ASSERT_NE(host_.controlByLabel("Calculate"), nullptr);
  EXPECT_EQ(host_.controlByLabel("Calculate")->effect, kept.effect);
  EXPECT_EQ(host_.blockPlacements().at(0).block, host_.controlByLabel("Setup")->id);
  EXPECT_NE(host_.effect(kept.effect)->data.count(ostrand::kInstanceDataKey), 0u);
}

TEST_F(ItemLifetime, ControlsOfOtherItemsKeepTheirIdsAndNewOnesTakeFreshOnes) {
  const Item first = add();
  const Item second = add();
  const std::vector<uint32_t> firstControls = host_.buildPanel(first.effect);  // a second panel of the same item
  remove(second);
  for (uint32_t id : firstControls) {
    ASSERT_NE(host_.control(id), nullptr);
    EXPECT_EQ(host_.control(id)->effect, first.effect);
  }
  const std::vector<uint32_t> made = host_.buildPanel(add().effect);
  ASSERT_EQ(made.size(), 2u);
  EXPECT_GT(made[0], firstControls.back());  // never an id a removed control had
  // Controls made outside any panel belong to no item and stay.
  const uint32_t loose = HOST_FN(fxCC_Button)("Loose", &OnControl, 0, 10);
  remove(first);
  ASSERT_NE(host_.control(loose), nullptr);
  EXPECT_EQ(host_.control(loose)->effect, 0u);
}

TEST_F(ItemLifetime, ASceneLoadKeepsThePanelsOfItemsItBringsBackAndNoOthers) {
  const Item saved = add();
  const std::string path = host_test::TempPath("items.json");
  host_.saveScene(path);
  const Item other = add();
  const std::vector<Control> before = host_.controls();
  const Tables tables = TablesOf(host_);
  host_.loadScene(path);
  // The saved item is back with its id and its panel; the other is gone with its panel.
  ASSERT_NE(host_.effect(saved.effect), nullptr);
  EXPECT_EQ(host_.effect(other.effect), nullptr);
  std::vector<uint32_t> left;
  for (const Control& control : host_.controls()) left.push_back(control.effect);
  EXPECT_EQ(left, std::vector<uint32_t>(2, saved.effect));
  EXPECT_EQ(host_.controlByLabel("Calculate")->id, before.at(1).id);
  EXPECT_EQ(host_.panelCalls().size(), 5u);
  // Loaded again and again, the scene adds nothing.
  const Tables loaded = TablesOf(host_);
  EXPECT_EQ(loaded.controls * 2, tables.controls);
  for (int round = 0; round < 3; ++round) host_.loadScene(path);
  EXPECT_EQ(TablesOf(host_), loaded);
}

TEST_F(ItemLifetime, ATargetListTheModuleLeavesGoesWithItsItem) {
  module_.deletesList = false;
  const Item item = add();
  const uint32_t other = host_.createEffect({item.cage});
  ASSERT_EQ(host_.state().targetLists.size(), 2u);
  host_.destroyEffect(item.effect);
  // Its one record handed to the module's free callback, once; the other
  // item's list untouched.
  EXPECT_EQ(module_.recordsFreed, 1);
  ASSERT_EQ(host_.state().targetLists.size(), 1u);
  EXPECT_EQ(host_.state().targetLists.begin()->second->effect, other);
  EXPECT_NE(HOST_FN(useful_FetchTargetList)(other, 0), nullptr);
  EXPECT_EQ(HOST_FN(useful_FetchTargetList)(item.effect, 0), nullptr);
}

TEST_F(ItemLifetime, IdsRunToTheirBoundWithoutTablesAsLargeAsTheIds) {
  // A scene file's object with an id near the bound: the ids after it are
  // handed out, the last one, then no more.
  const std::string path = host_test::TempPath("far_ids.json");
  std::ofstream(path) << R"({"orreryScene": 1, "objects": [{"id": )" << host::kMaxId - 3
                      << R"(, "name": "far", "points": [[0,0,0]], "polygons": []}], "weightMaps": [], "effects": []})";
  host_.loadScene(path);
  EXPECT_EQ(host_.object(host::kMaxId - 3)->name, "far");
  EXPECT_EQ(host_.state().objects.pagesHeld(), 1u);
  EXPECT_EQ(host_.addObject("next", host_test::Cube()), host::kMaxId - 2);
  EXPECT_EQ(host_.createEffect({}), host::kMaxId - 1);
  EXPECT_THROW(host_.addObject("beyond", host_test::Cube()), std::length_error);
  EXPECT_EQ(host_.object(5), nullptr);
  EXPECT_EQ(host_.weightMap(host::kMaxId - 2), nullptr);
}

}  // namespace
