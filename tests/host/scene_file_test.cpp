// Scene files: a full round trip through a second Host, as when a scene is
// reopened in a new process, and bad files that leave the scene intact.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host_test_support.h"
#include "support/file_size_limit.h"

namespace {

using host::Host;

// A module that saves one value of each type on kInstanceSave and reads them
// back on kInstanceLoad.
struct FakeModule {
  uint32_t cage = 0;
  std::vector<std::pair<uint32_t, uint64_t>> sent;  // effect, argument of kMessageInstanceData
  int32_t i = 0;
  double d = 0;
  uint32_t o = 0;
  int32_t w[3] = {0, 0, 0};
  char s[64] = "";
  int loaded = 0;
};
FakeModule* fakeModule = nullptr;

int32_t OnMessage(void* handle, uint32_t effect, int32_t message, uint64_t argument) {
  if (message != ostrand::kMessageInstanceData) return 0;
  fakeModule->sent.push_back({effect, argument});
  if (argument == ostrand::kInstanceSave) {
    void* format = HOST_FN(fxFormatNew)(handle, "Fake", 0);
    const int32_t weight[3] = {5, -6, 7};
    HOST_FN(fxArgSaveInt)(format, "samples", -123456, 0);
    HOST_FN(fxArgSaveDouble)(format, "tolerance", 1.0 / 3.0, 0);
    HOST_FN(fxArgSaveObj)(format, "cage", fakeModule->cage, 0);
    HOST_FN(fxArgSaveWeight)(format, "weight", weight, 0);
    HOST_FN(fxArgSaveString)(format, "path", "weights/\"quoted\" \xc3\xa9.ocw", 0);
  } else if (argument == ostrand::kInstanceLoad) {
    void* format = HOST_FN(fxFormatGet)(handle, "Fake");
    fakeModule->loaded += HOST_FN(fxArgLoadInt)(format, "samples", &fakeModule->i);
    fakeModule->loaded += HOST_FN(fxArgLoadDouble)(format, "tolerance", &fakeModule->d);
    fakeModule->loaded += HOST_FN(fxArgLoadObj)(format, "cage", &fakeModule->o);
    fakeModule->loaded += HOST_FN(fxArgLoadWeight)(format, "weight", fakeModule->w);
    fakeModule->loaded += HOST_FN(fxArgLoadString)(format, "path", fakeModule->s, sizeof fakeModule->s);
  }
  return 1;
}

using test_support::FileSizeLimit;

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SceneFile : public ::testing::Test {
 protected:
  SceneFile() { fakeModule = &fake; }
  ~SceneFile() override { fakeModule = nullptr; }
  FakeModule fake;
  // One file per test: ctest runs the tests of this fixture side by side.
  std::string path =
      host_test::TempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".json");
};

TEST_F(SceneFile, RoundTripKeepsIdsMeshesWeightsEffectsAndFormats) {
  host::Mesh cageMesh = host_test::Cube(0.1);  // coordinates that need every digit
  cageMesh.points[3] = {1e-300, -2.5e300, 0.30000000000000004};
  uint32_t cage, target, map, effect;
  {
    Host host;
    host.setModuleCallback(&OnMessage);
    host.setBaseDirectory("/projects/a b");
    host.addObject("filler", host_test::Cube());  // ids in the file are not 1, 2, ...
    cage = host.addObject("cage \"one\"", cageMesh);
    target = host.addObject("target", host_test::Cube(2));
    map = host.addWeightMap(target, "mask", {0.1f, 0, 1, 0.5f, 0.25f, 0, 0, 1e-7f});
    fake.cage = cage;
    effect = host.createEffect({target, cage});
    host.saveScene(path);
  }
  fake = FakeModule{};
  Host host;
  host.setModuleCallback(&OnMessage);
  host.addObject("unrelated", host_test::Cube());
  host.loadScene(path);

  EXPECT_EQ(host.objectIds().size(), 3u);  // the file's scene replaced this one
  const host::Object* loadedCage = host.object(cage);
  ASSERT_NE(loadedCage, nullptr);
  EXPECT_EQ(loadedCage->name, "cage \"one\"");
  ASSERT_EQ(loadedCage->mesh.points.size(), cageMesh.points.size());
  for (size_t i = 0; i < cageMesh.points.size(); ++i) {
    EXPECT_EQ(loadedCage->mesh.points[i].x, cageMesh.points[i].x);
    EXPECT_EQ(loadedCage->mesh.points[i].y, cageMesh.points[i].y);
    EXPECT_EQ(loadedCage->mesh.points[i].z, cageMesh.points[i].z);
  }
  EXPECT_EQ(loadedCage->mesh.polygons, cageMesh.polygons);
  ASSERT_NE(host.weightMap(map), nullptr);
  EXPECT_EQ(host.weightMap(map)->object, target);
  EXPECT_EQ(host.weightMap(map)->values[0], 0.1f);
  EXPECT_EQ(host.weightMap(map)->values[7], 1e-7f);
  EXPECT_EQ(host.baseDirectory(), "/projects/a b");
  ASSERT_NE(host.effect(effect), nullptr);
  EXPECT_EQ(host.effect(effect)->targets, (std::vector<uint32_t>{target, cage}));

  // The module was told create, then load, and found every value
  EXPECT_EQ(fake.sent, (std::vector<std::pair<uint32_t, uint64_t>>{{effect, ostrand::kInstanceCreate},
                                                                   {effect, ostrand::kInstanceLoad}}));
  EXPECT_EQ(fake.loaded, 5);
  EXPECT_EQ(fake.i, -123456);
  EXPECT_EQ(fake.d, 1.0 / 3.0);
  EXPECT_EQ(fake.o, cage);
  EXPECT_EQ(fake.w[1], -6);
  EXPECT_STREQ(fake.s, "weights/\"quoted\" \xc3\xa9.ocw");

  // New ids never collide with the file's
  const uint32_t fresh = host.addObject("new", host_test::Cube());
  EXPECT_GT(fresh, std::max({cage, target, map, effect}));
}

TEST_F(SceneFile, NonFiniteDoublesSurvive) {
  {
    Host host;
    host.addObject("odd", {{{NAN, INFINITY, -INFINITY}}, {}});
    host.saveScene(path);
  }
  Host host;
  host.loadScene(path);
  const Vec3 p = host.object(host.objectIds().at(0))->mesh.points.at(0);
  EXPECT_TRUE(std::isnan(p.x));
  EXPECT_EQ(p.y, INFINITY);
  EXPECT_EQ(p.z, -INFINITY);
}

TEST_F(SceneFile, BadFileFailsClearlyAndLeavesTheSceneIntact) {
  Host host;
  host.setModuleCallback(&OnMessage);
  const uint32_t cube = host.addObject("cube", host_test::Cube());
  const uint32_t effect = host.createEffect({cube});
  fake.sent.clear();

  const std::string object = R"({"id": 5, "name": "o", "points": [[0,0,0],[1,0,0],[0,1,0]], "polygons": [[0,1,2]]})";
  auto scene = [&](const std::string& objects, const std::string& maps, const std::string& effects) {
    return R"({"orreryScene": 1, "objects": [)" + objects + R"(], "weightMaps": [)" + maps +
           R"(], "effects": [)" + effects + "]}";
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"orreryScene\": 1, \"objects\": [", "line 1: not valid JSON: unexpected end of input"},
      {"[1, 2]", "not a JSON object"},
      {R"({"orreryScene": 2, "objects": [], "weightMaps": [], "effects": []})", "version"},
      {scene(R"({"id": 5, "name": "o", "points": [[0,0,0]], "polygons": [[0,1]]})", "", ""), "polygon point"},
      {scene(R"({"id": 0, "name": "o", "points": [], "polygons": []})", "", ""), "id"},
      {scene(object + "," + object, "", ""), "reuses id 5"},
      {scene(object, R"({"id": 6, "object": 5, "name": "w", "values": [1, 2]})", ""), "2 values for 3 points"},
      {scene(object, R"({"id": 6, "object": 9, "name": "w", "values": []})", ""), "belongs to no object"},
      {scene(object, "", R"({"id": 7, "targets": [8], "formats": []})"), "targets object 8"},
      {scene(object, "", R"({"id": 7, "targets": [5], "formats": [{"name": "F", "values": [
           {"key": "k", "type": "int", "value": 3000000000}]}]})"), "out of range"},
      {scene(object, "", R"({"id": 7, "targets": [5], "formats": [{"name": "F", "values": [
           {"key": "k", "type": "colour", "value": 1}]}]})"), "unknown type"},
      {scene(R"({"id": 5, "name": "o", "points": [[0,0,"x"]], "polygons": []})", "", ""), "not a number"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string bad = host_test::TempPath("bad_scene_" + std::to_string(i) + ".json");
    std::ofstream(bad) << cases[i].first;
    try {
      host.loadScene(bad);
      ADD_FAILURE() << "case " << i << " loaded";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(bad), std::string::npos) << message;
      EXPECT_NE(message.find(cases[i].second), std::string::npos) << "case " << i << ": " << message;
    }
  }
  EXPECT_THROW(host.loadScene(host_test::TempPath("no_such_scene.json")), std::runtime_error);

  EXPECT_EQ(host.objectIds(), std::vector<uint32_t>{cube});
  ASSERT_NE(host.effect(effect), nullptr);
  EXPECT_EQ(host.effect(effect)->targets, std::vector<uint32_t>{cube});
  EXPECT_TRUE(fake.sent.empty());  // no effect was destroyed or created
}

TEST_F(SceneFile, SaveToAnUnwritablePlaceFailsAndKeepsTheOldFile) {
  Host host;
  host.addObject("cube", host_test::Cube());
  EXPECT_THROW(host.saveScene("/nonexistent/dir/scene.json"), std::runtime_error);
  host.saveScene(path);
  const std::string directoryPath = host_test::TempPath("scene_dir");
  std::filesystem::create_directories(directoryPath + "/inside");
  EXPECT_THROW(host.saveScene(directoryPath), std::runtime_error);  // a directory cannot be replaced
  EXPECT_TRUE(std::filesystem::is_directory(directoryPath + "/inside"));
  EXPECT_FALSE(std::filesystem::exists(directoryPath + ".saving"));
}

// The write itself fails (as on a full disk) over an earlier scene: the error
// names the scene file, not its temporary, and the earlier file is untouched.
TEST_F(SceneFile, ASaveThatCannotBeWrittenWholeKeepsTheEarlierFile) {
  Host host;
  host.addObject("cube", host_test::Cube());
  host.saveScene(path);
  const std::string earlier = FileText(path);
  host.addObject("second", host_test::Cube(2));
  try {
    FileSizeLimit limit(earlier.size() / 2);
    host.saveScene(path);
    ADD_FAILURE() << "saved past the file size limit";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "scene file " + path + ": cannot write " + path + ": " + std::strerror(EFBIG));
  }
  EXPECT_EQ(FileText(path), earlier);
  EXPECT_FALSE(std::filesystem::exists(path + ".saving"));
  host.saveScene(path);
  EXPECT_NE(FileText(path), earlier);
}

}  // namespace
