// The weights file written after "Calculate" is the same bytes whichever ray
// search the module uses and however many threads run it. The loaded module
// cannot be called into, so the search is chosen through OSTRAND_RAY_SEARCH,
// which the comparisons build of the module file reads; the module users get
// takes the accelerated search whatever the environment says.
#include <gtest/gtest.h>

#include <string>

#include "loaded_module.h"
#include "support/cages.h"
#include "support/environment.h"

namespace {

using e2e::LoadedModuleTest;
using test_support::SetEnvironment;

class RaySearchTest : public LoadedModuleTest {
 protected:
  void TearDown() override {
    SetEnvironment("OSTRAND_RAY_SEARCH", nullptr);
    LoadedModuleTest::TearDown();
  }

  // Binds the example target to the cage in a fresh load of the module file
  // (the comparisons build unless another is named), calculates with the
  // search named (none: the module's default) on `threads` threads and
  // returns the bytes of the weights file the calculation wrote; rayTests_
  // counts the ray tests it made.
  std::string weightsFile(const host::Mesh& cage, const char* search, int threads,
                          const std::string& module = OSTRAND_COMPARISONS_MODULE_PATH) {
    SetEnvironment("OSTRAND_RAY_SEARCH", search);
    host::Host& host = startModule(module);
    const uint32_t cageId = host.addObject("cage", cage);
    const uint32_t target = host.addObjectFromObj(std::string(OSTRAND_SOURCE_DIR) + "/examples/target.obj", "target");
    const uint32_t effect = host.createEffect({target});
    host.buildPanel(effect);
    EXPECT_EQ(host.setObject(host.controlByLabel("Cage")->id, effect, cageId), 0);
    EXPECT_EQ(host.setInt(host.controlByLabel("Samples")->id, effect, 24), 0);
    EXPECT_EQ(host.setInt(host.controlByLabel("Threads")->id, effect, threads), 0);
    const std::filesystem::path file = root_ / ("weights" + std::to_string(++files_) + ".cw");
    nameWeightsFile(effect, file);
    host.resetCalls();
    EXPECT_EQ(host.press(host.controlByLabel("Calculate")->id, effect), 0);
    rayTests_ = host.calls("useful_RayIntersectTriangle");
    return read(file);
  }

  int files_ = 0;
  long rayTests_ = 0;
};

TEST_F(RaySearchTest, WeightsFileIsTheSameBytesWithEitherSearchAndAnyThreadCount) {
  const std::string examples = std::string(OSTRAND_SOURCE_DIR) + "/examples/";
  for (const host::Mesh& cage : {host::ReadObj(examples + "cage.obj"), host::ReadObj(examples + "cage_twist.obj"),
                                 test_support::SubdividedCube(4, 1.6)}) {
    const std::string reference = weightsFile(cage, "exhaustive", 1);
    ASSERT_GT(reference.size(), 1000u);
    EXPECT_EQ(weightsFile(cage, "accelerated", 1), reference);
    EXPECT_EQ(weightsFile(cage, "nearest-first", 2), reference);
    EXPECT_EQ(weightsFile(cage, "whole-line", 2), reference);
    EXPECT_EQ(weightsFile(cage, "direction-grids", 1), reference);
    EXPECT_EQ(weightsFile(cage, "direction-grids", 3), reference);
    EXPECT_EQ(weightsFile(cage, nullptr, 3), reference);
  }
}

// The module users get reads no environment: told to search exhaustively,
// it still takes the accelerated search, with far fewer ray tests, and the
// same bytes.
TEST_F(RaySearchTest, TheModuleUsersGetTakesTheAcceleratedSearchWhateverTheEnvironmentSays) {
  const host::Mesh cage = test_support::SubdividedCube(4, 1.6);
  const std::string exhaustive = weightsFile(cage, "exhaustive", 1);
  const long exhaustiveTests = rayTests_;
  EXPECT_EQ(weightsFile(cage, "exhaustive", 1, OSTRAND_MODULE_PATH), exhaustive);
  EXPECT_LT(rayTests_ * 10, exhaustiveTests);
}

}  // namespace
