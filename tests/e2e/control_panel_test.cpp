// The effect's panel driven through the loaded module, as a user would.
#include <gtest/gtest.h>

#include <cmath>

#include "loaded_module.h"

namespace {

using e2e::LoadedModuleTest;
using e2e::TextFileBytes;

class ControlPanelTest : public LoadedModuleTest {
 protected:
  void SetUp() override {
    LoadedModuleTest::SetUp();
    host::Host& host = startModule();
    std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
    cage_ = host.addObjectFromObj(examples + "cage.obj", "cage");
    target_ = host.addObjectFromObj(examples + "target.obj", "target");
    effect_ = host.createEffect({target_});
    panel_ = host.buildPanel(effect_);
  }
  uint32_t control(const std::string& label) { return host_->controlByLabel(label)->id; }
  EffectInstance* instance() {
    return static_cast<EffectInstance*>(host_->effect(effect_)->data[ostrand::kInstanceDataKey]);
  }
  // Picks the cage and presses "Calculate".
  void calculate(int samples = 16) {
    ASSERT_EQ(host_->setObject(control("Cage"), effect_, cage_), 0);
    ASSERT_EQ(host_->setInt(control("Samples"), effect_, samples), 0);
    ASSERT_EQ(host_->press(control("Calculate"), effect_), 0);
  }
  double largestMove() {
    auto rest = host_->object(target_)->mesh.points;
    auto now = host_->evaluatedPoints(target_);
    double largest = 0;
    for (size_t i = 0; i < rest.size(); ++i)
      largest = std::max(largest, std::hypot(now[i].x - rest[i].x, now[i].y - rest[i].y, now[i].z - rest[i].z));
    return largest;
  }
  uint32_t cage_ = 0, target_ = 0, effect_ = 0;
  std::vector<uint32_t> panel_;
};

TEST_F(ControlPanelTest, BuildsNineControlsInTwoBlocks) {
  std::vector<std::string> expected = {
      "fxCC_Block(Setup, 0, 0, 32) = 1",
      "fxCC_ObjectPopup(Cage, callback, 1, 170, 0, 0, 0, 41216) = 2",
      "fxConSetPos(2, 82, 5)",
      "fxCC_WeightPopup(Setup weight, callback, 1, 170) = 3",
      "fxConSetPos(3, 82, 30)",
      "fxCC_DragInt(Samples, callback, 1, 1, 1000, 1, 0) = 4",
      "fxConSetSize(4, 80, 17)",
      "fxConSetPos(4, 82, 80)",
      "fxCC_DragFloat(Weight floor, callback, 1, 0, 1, 0.01, 0) = 5",
      "fxConSetSize(5, 80, 17)",
      "fxConSetPos(5, 82, 105)",
      "fxCC_Button(Calculate, callback, 0, 170) = 6",
      "fxConSetPos(6, 82, 130)",
      "fxCC_Button(Load, callback, 0, 80) = 7",
      "fxConSetPos(7, 82, 150)",
      "fxCC_Button(Save, callback, 0, 80) = 8",
      "fxConSetPos(8, 167, 150)",
      "fxCC_DragInt(Threads, callback, 1, 1, 128, 1, 0) = 9",
      "fxConSetSize(9, 80, 17)",
      "fxConSetPos(9, 82, 180)",
      "fxInterfaceBlockSet(Setup, Setup, 0, 1, 0)",
      "fxCC_Block(Animatable, 0, 0, 32) = 10",
      "fxCC_WeightCombo(Weight, callback, 1, 170, 0) = 11",
      "fxConSetPos(11, 82, 5)",
      "fxInterfaceBlockSet(Animate, Animate, 0, 10, 0)",
      "fxInterfaceBlockSet(Setup, Setup, 0, 10, 0)",
  };
  EXPECT_EQ(host_->panelCalls(), expected);
  EXPECT_EQ(panel_.size(), 11u);
  for (uint64_t argument : {0ull, 2ull}) {  // not kControlPanelBuild
    EXPECT_EQ(host_->sendMessage(effect_, ostrand::kMessageControlPanel, argument), 0);
    EXPECT_EQ(host_->controls().size(), 11u);
  }
}

TEST_F(ControlPanelTest, ValuesGoIntoTheInstanceAndBack) {
  uint32_t map = host_->addWeightMap(target_, "mask", std::vector<float>(host_->object(target_)->mesh.points.size(), 1));
  int32_t weight[3] = {static_cast<int32_t>(map), 2, 3};
  EXPECT_EQ(host_->setInt(control("Samples"), effect_, 64), 0);
  EXPECT_EQ(host_->setDouble(control("Weight floor"), effect_, 0.05), 0);
  EXPECT_EQ(host_->setObject(control("Setup weight"), effect_, map), 0);
  EXPECT_EQ(host_->setVeci3(control("Weight"), effect_, weight), 0);
  EXPECT_EQ(instance()->Samples, 64);
  EXPECT_EQ(instance()->Tolerance, 0.05);
  EXPECT_EQ(instance()->SetupMask, map);
  EXPECT_EQ(instance()->Weight[2], 3);

  // A second item's panel shows its own instance's values.
  uint32_t other = host_->createEffect({target_});
  host_->buildPanel(other);
  for (const char* label : {"Samples", "Weight floor", "Setup weight", "Weight"})
    EXPECT_EQ(host_->fire(host_->controlByLabel(label)->id, other, ostrand::kControlRefresh), 0);
  EXPECT_EQ(host_->controlByLabel("Samples")->intValue, 32);
  EXPECT_EQ(host_->controlByLabel("Weight floor")->doubleValue, 0.0);
  EXPECT_EQ(host_->controlByLabel("Setup weight")->objectValue, 0u);
  EXPECT_EQ(host_->controlByLabel("Weight")->veci3[0], 0);
  uint32_t samples = panel_[3];
  host_->control(samples)->intValue = 5;
  EXPECT_EQ(host_->fire(samples, effect_, 7), 0);  // other events do nothing
  EXPECT_EQ(instance()->Samples, 64);
  EXPECT_EQ(host_->fire(samples, effect_, ostrand::kControlRefresh), 0);
  EXPECT_EQ(host_->control(samples)->intValue, 64);
}

TEST_F(ControlPanelTest, ThreadCountIsModuleWideAndStoredInTheSettings) {
  for (int typed : {0, -5}) {
    EXPECT_EQ(host_->setInt(control("Threads"), effect_, typed), 0);
    EXPECT_EQ(host_->control(control("Threads"))->intValue, 1);
    EXPECT_EQ(read(moduleDir_ / "Ostrand.ini"), TextFileBytes("num_threads: 1\n"));
  }
  EXPECT_EQ(host_->setInt(control("Threads"), effect_, 8), 0);
  EXPECT_EQ(read(moduleDir_ / "Ostrand.ini"), TextFileBytes("num_threads: 8\n"));

  uint32_t other = host_->createEffect({target_});
  host_->buildPanel(other);
  uint32_t otherThreads = host_->controlByLabel("Threads")->id;
  EXPECT_EQ(host_->fire(otherThreads, other, ostrand::kControlRefresh), 0);
  EXPECT_EQ(host_->control(otherThreads)->intValue, 8);
}

TEST_F(ControlPanelTest, EveryCallbackNeedsTheInstance) {
  // The instance goes, the item stays.
  ASSERT_EQ(host_->sendMessage(effect_, ostrand::kMessageInstanceData, ostrand::kInstanceDestroy), 0);
  for (uint32_t id : panel_) {
    const host::Control* c = host_->control(id);
    if (c->creator == "fxCC_Block") continue;
    for (uint64_t event : {ostrand::kControlChanged, ostrand::kControlRefresh}) {
      host_->clearMessages();
      EXPECT_EQ(host_->fire(id, effect_, event), 1) << c->label << " " << event;
      ASSERT_EQ(host_->messages().size(), 1u) << c->label;
      EXPECT_EQ(host_->messages()[0].text, "Ostrand data not found!");
    }
  }
}

TEST_F(ControlPanelTest, CalculateBindsTheTargetAndTheCageDeformsIt) {
  calculate();
  EXPECT_EQ(instance()->Mode, 0);
  EXPECT_EQ(instance()->CagePoints, 24u);
  EXPECT_EQ(instance()->CagePolys, 20);
  auto progress = host_->progress();
  ASSERT_EQ(progress.size(), 11u);
  EXPECT_EQ(progress[0].text, "target: calculating coordinates 0 / 10");
  EXPECT_EQ(progress[10].text, "target: calculating coordinates 10 / 10");
  EXPECT_EQ(progress[10].percent, 100);

  ASSERT_EQ(host_->evaluate(effect_), 0);
  EXPECT_LT(largestMove(), 0.05);  // the rest cage gives back (nearly) the rest target

  std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
  host_->setPoints(cage_, host::ReadObj(examples + "cage_squash.obj").points);
  ASSERT_EQ(host_->evaluate(effect_), 0);
  EXPECT_GT(largestMove(), 0.1);
  EXPECT_EQ(host_->displaceOutsideBracket(), 0);
}

TEST_F(ControlPanelTest, ANewCageReleasesTheWeights) {
  calculate();
  uint32_t other = host_->addObjectFromObj(std::string(OSTRAND_SOURCE_DIR) + "/examples/cage_bend.obj", "bent");
  host_->addObject("unused", {});
  EXPECT_EQ(host_->setObject(control("Cage"), effect_, other), 0);
  EXPECT_EQ(instance()->Mode, 0);
  EXPECT_EQ(instance()->CagePoints, 24u);
  EXPECT_NE(instance()->CagePositions, nullptr);
  EXPECT_EQ(instance()->Targets->records[0].ActiveCount, 0u);
  host_->resetCalls();
  ASSERT_EQ(host_->evaluate(effect_), 0);
  EXPECT_EQ(host_->calls("fxDisplacePoint"), 0);

  EXPECT_EQ(host_->setObject(control("Cage"), effect_, 0), 0);
  EXPECT_EQ(instance()->CagePoints, 0u);
  EXPECT_EQ(instance()->CagePositions, nullptr);
  ASSERT_EQ(host_->evaluate(effect_), 0);
}

TEST_F(ControlPanelTest, WeightsFileFollowsTheCalculation) {
#ifdef _WIN32
  GTEST_SKIP() << "answers the file dialogs from a script; Windows shows the real common dialogs";
#endif
  std::filesystem::path file = root_ / "weights";
  calculate();
  host_->dialogs().answers.push_back(file.string());
  EXPECT_EQ(host_->press(control("Save"), effect_), 0);
  std::filesystem::path written = file.string() + ".cw";  // the save dialog adds the extension
  ASSERT_TRUE(std::filesystem::exists(written));
  EXPECT_EQ(std::string(instance()->WeightsPath), written.string());
  const host::DialogRequest& request = host_->dialogs().requests.back();
  EXPECT_TRUE(request.save);
  EXPECT_EQ(request.flags, 0x2002u);
  EXPECT_EQ(request.defExt, "cw");

  std::filesystem::remove(written);
  calculate();  // every calculation rewrites the named file
  EXPECT_TRUE(std::filesystem::exists(written));

  // A new cage drops the weights; "Load" with a cancelled dialog reads the
  // file at the earlier path and brings them back.
  EXPECT_EQ(host_->setObject(control("Cage"), effect_, cage_), 0);
  EXPECT_EQ(instance()->Targets->records[0].ActiveCount, 0u);
  host_->clearMessages();
  EXPECT_EQ(host_->press(control("Load"), effect_), 0);
  ASSERT_EQ(host_->messages().size(), 1u);
  EXPECT_EQ(host_->messages()[0].text, "Weird error with file dialog!");
  EXPECT_EQ(instance()->Targets->records[0].ActiveCount, host_->object(target_)->mesh.points.size());
  EXPECT_FALSE(host_->dialogs().requests.back().save);
  EXPECT_EQ(host_->dialogs().requests.back().flags, 0x1800u);
}

TEST_F(ControlPanelTest, AWeightsFileIsReplacedWholeOrNotAtAll) {
  // Every calculation writes the named file; no dialog is needed for that.
  const std::filesystem::path file = root_ / "weights.cw", temporary = root_ / "weights.cw.tmp";
  write(file, "previous");
  nameWeightsFile(effect_, file);
  calculate();
  EXPECT_TRUE(host_->messages().empty());
  const std::string written = read(file);
  EXPECT_EQ(written.substr(0, 4), std::string("\0\0\0\1", 4));
  EXPECT_FALSE(std::filesystem::exists(temporary));

  // Where nothing can be written, the user hears of it once and the file stays.
  const std::filesystem::path folder = root_ / "folder.cw", missing = root_ / "missing" / "w.cw";
  std::filesystem::create_directory(folder);
  write(file, "previous");
  std::filesystem::create_directory(temporary);  // the temporary file cannot be created
  for (const std::filesystem::path& target : {folder, missing, file}) {
    SCOPED_TRACE(target.string());
    host_->clearMessages();
    nameWeightsFile(effect_, target);
    calculate();
    ASSERT_EQ(host_->messages().size(), 1u);
    const std::string text = host_->messages()[0].text;
    EXPECT_EQ(text.find("The weights file \"" + target.string() + "\" could not be written ("), 0u) << text;
    EXPECT_NE(text.find("the previous file is unchanged."), std::string::npos) << text;
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_FALSE(std::filesystem::exists(folder.string() + ".tmp"));
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
  EXPECT_EQ(read(file), "previous");

  // Once the way is clear a calculation replaces the file again.
  std::filesystem::remove(temporary);
  host_->clearMessages();
  calculate();
  EXPECT_TRUE(host_->messages().empty());
  EXPECT_EQ(read(file), written);
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

TEST_F(ControlPanelTest, CalculateWithoutAPathWritesNoFile) {
  calculate();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_))
    EXPECT_NE(entry.path().extension(), ".cw") << entry.path();
}

}  // namespace
