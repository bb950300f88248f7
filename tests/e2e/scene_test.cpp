// Saving an instance with the scene and loading it back in another module load.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "loaded_module.h"

namespace {

using e2e::kSeparator;
using e2e::LoadedModuleTest;

class SceneTest : public LoadedModuleTest {
 protected:
  void SetUp() override {
    LoadedModuleTest::SetUp();
    scenes_ = root_ / "scenes";
    std::filesystem::create_directories(scenes_);
  }
  // A scene with the example cage and target and one bound effect whose
  // weights file (written by the calculation) is weights, scenes/wa.cw by default.
  void bindExample(std::filesystem::path weights = {}) {
    if (weights.empty()) weights = scenes_ / "wa.cw";
    host::Host& host = startModule();
    host.setBaseDirectory(scenes_.string());
    std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
    cage_ = host.addObjectFromObj(examples + "cage.obj", "cage");
    target_ = host.addObjectFromObj(examples + "target.obj", "target");
    effect_ = host.createEffect({target_});
    host.buildPanel(effect_);
    ASSERT_EQ(host.setObject(host.controlByLabel("Cage")->id, effect_, cage_), 0);
    ASSERT_EQ(host.setInt(host.controlByLabel("Samples")->id, effect_, 16), 0);
    nameWeightsFile(effect_, weights);
    ASSERT_EQ(host.press(host.controlByLabel("Calculate")->id, effect_), 0);
    ASSERT_TRUE(std::filesystem::exists(weights));
  }
  // Replaces the instance's calculated weights by the single-precision ones
  // of its weights file.
  void rereadWeights(const std::filesystem::path& scene) {
#ifdef _WIN32
    // "Load" would show the real open dialog: the file is reached through the scene.
    host_->loadScene(scene.string());
#else
    (void)scene;
    host_->dialogs().answers.push_back((scenes_ / "wa.cw").string());
    ASSERT_EQ(host_->press(host_->controlByLabel("Load")->id, effect_), 0);
#endif
  }
  // Loads the scene file in a fresh copy of the module and evaluates it with
  // the squashed cage.
  std::vector<Vec3> loadAndDeform(const std::filesystem::path& scene) {
    host::Host& host = startModule();
    host.loadScene(scene.string());
    host.setPoints(cage_, host::ReadObj(std::string(OSTRAND_SOURCE_DIR) + "/examples/cage_squash.obj").points);
    EXPECT_EQ(host.evaluate(effect_), 0);
    return host.evaluatedPoints(target_);
  }
  EffectInstance* instance() {
    return static_cast<EffectInstance*>(host_->effect(effect_)->data[ostrand::kInstanceDataKey]);
  }
  void editScene(const std::filesystem::path& scene, void (*edit)(nlohmann::json&, uint32_t cage)) {
    nlohmann::json root;
    std::ifstream(scene) >> root;
    edit(root, cage_);
    std::ofstream(scene) << root.dump();
  }
  std::filesystem::path scenes_;
  uint32_t cage_ = 0, target_ = 0, effect_ = 0;
};

TEST_F(SceneTest, ANewInstanceStoresItsDefaults) {
  host::Host& host = startModule();
  host.setBaseDirectory(scenes_.string());
  uint32_t a = host.addObject("a", {{{0, 0, 0}}, {}});
  uint32_t b = host.addObject("b", {{{1, 0, 0}}, {}});
  effect_ = host.createEffect({a, b});
  host.saveScene((scenes_ / "new.json").string());
  const host::Format& format = host.effect(effect_)->formats.at(ostrand::kSceneFormatName);
  using V = host::NamedValue;
  std::vector<std::pair<std::string, V>> expected = {
      {"Mode", V(int32_t{-1})},         {"Weight", V(std::array<int32_t, 3>{0, 0, 0})},
      {"Cage", V(uint32_t{0})},         {"CagePoints", V(int32_t{0})},
      {"CagePolys", V(int32_t{0})},     {"SetupMask", V(uint32_t{0})},
      {"Samples", V(int32_t{32})},      {"Tolerance", V(0.0)},
      {"ScaleWeight", V(std::array<int32_t, 3>{0, 0, 0})},
      {"TargetCount", V(int32_t{2})},   {"WeightBinFile", V(std::string())},
  };
  EXPECT_EQ(format.values, expected);

  // Loading it keeps Mode -1; the empty stored path becomes the base directory
  // and a separator, which names no file.
  startModule().loadScene((scenes_ / "new.json").string());
  EXPECT_EQ(instance()->Mode, -1);
  EXPECT_EQ(std::string(instance()->WeightsPath), scenes_.string() + kSeparator);
}

TEST_F(SceneTest, AnotherLoadOfTheSceneDeformsTheTargetIdentically) {
  bindExample();
  host_->saveScene((scenes_ / "bound.json").string());
  const host::Format& format = host_->effect(effect_)->formats.at(ostrand::kSceneFormatName);
  EXPECT_EQ(std::get<std::string>(format.find("WeightBinFile")[0]), "wa.cw");
  // The file keeps single-precision weights: read them back here too, so that
  // both loads deform with the same weights.
  rereadWeights(scenes_ / "bound.json");
  host_->setPoints(cage_, host::ReadObj(std::string(OSTRAND_SOURCE_DIR) + "/examples/cage_squash.obj").points);
  ASSERT_EQ(host_->evaluate(effect_), 0);
  std::vector<Vec3> before = host_->evaluatedPoints(target_);

  std::vector<Vec3> after = loadAndDeform(scenes_ / "bound.json");
  EXPECT_EQ(std::string(instance()->WeightsPath), (scenes_ / "wa.cw").string());
  EXPECT_EQ(instance()->Samples, 16);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(std::memcmp(after.data(), before.data(), sizeof(Vec3) * after.size()), 0);
}

TEST_F(SceneTest, WeightsFilePathIsStoredRelativeToTheBaseDirectory) {
  const std::string up = std::string("..") + kSeparator;
  const std::string sibling = "other-" + root_.filename().string();
  struct Case {
    std::filesystem::path file;
    std::string stored;
  };
  std::vector<Case> cases = {
      {scenes_ / "cache" / "wa.cw", std::string("cache") + kSeparator + "wa.cw"},
      {root_ / "weights" / "wa.cw", up + "weights" + kSeparator + "wa.cw"},
      {root_.parent_path() / sibling / "wa.cw", up + up + sibling + kSeparator + "wa.cw"},
  };
  // A file on another drive is stored as it is (under wine the build tree is
  // on Z:, the temporary files on C:).
  std::filesystem::path otherDrive = std::filesystem::path(OSTRAND_MODULE_PATH).make_preferred().parent_path() /
                                     (root_.filename().string() + ".cw");
  if (otherDrive.has_root_name() && otherDrive.root_name() != root_.root_name())
    cases.push_back({otherDrive, otherDrive.string()});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string());
    std::filesystem::create_directories(c.file.parent_path());
    bindExample(c.file);
    host_->saveScene((scenes_ / "bound.json").string());
    const host::Format& format = host_->effect(effect_)->formats.at(ostrand::kSceneFormatName);
    EXPECT_EQ(std::get<std::string>(format.find("WeightBinFile")[0]), c.stored);

    startModule().loadScene((scenes_ / "bound.json").string());
    EXPECT_EQ(std::string(instance()->WeightsPath), c.file.string());
    EXPECT_EQ(instance()->Targets->records[0].ActiveCount, host_->object(target_)->mesh.points.size());
    std::filesystem::remove(c.file);
  }
  std::filesystem::remove_all(root_.parent_path() / sibling);
}

TEST_F(SceneTest, WeightsForAnotherCageAreNotRead) {
  bindExample();
  host_->saveScene((scenes_ / "bound.json").string());
  editScene(scenes_ / "bound.json", [](nlohmann::json& root, uint32_t cage) {
    for (auto& object : root["objects"])
      if (object["id"] == cage)
        for (int k = 0; k < 3; ++k) object["points"].push_back(0.0);  // one point more: x, y, z
  });
  startModule().loadScene((scenes_ / "bound.json").string());
  EXPECT_EQ(instance()->CagePoints, 25u);  // the cage as it is now, not as stored
  EXPECT_EQ(instance()->Targets->records[0].ActiveCount, 0u);
}

TEST_F(SceneTest, StoredTargetCountIsNotTrusted) {
  bindExample();
  host_->saveScene((scenes_ / "bound.json").string());
  editScene(scenes_ / "bound.json", [](nlohmann::json& root, uint32_t) {
    for (auto& format : root["effects"][0]["formats"])
      for (auto& value : format["values"])
        if (value["key"] == "TargetCount") value["value"] = 7;
  });
  loadAndDeform(scenes_ / "bound.json");
  EXPECT_EQ(instance()->Targets->count, 1);
  EXPECT_EQ(instance()->Targets->records[0].ActiveCount, host_->object(target_)->mesh.points.size());
}

}  // namespace
