#include "support/hostile_fixture.h"

#include <unistd.h>

#include "host_interface/memory.h"

namespace test_support {
namespace {

// Reports the process's totals once, when its tests are done.
class Totals : public ::testing::Environment {
 public:
  void TearDown() override {
    if (host::FaultsInjected() == 0 && AllocationsFailed() == 0) return;
    std::printf("[hostile] faults injected by the host: %ld; module allocations failed: %ld\n",
                host::FaultsInjected(), AllocationsFailed().load());
  }
};

[[maybe_unused]] const auto* const kTotals = ::testing::AddGlobalTestEnvironment(new Totals);

std::vector<Vec3> PointsInside(int n, double shift) {
  std::vector<Vec3> points;
  for (int i = 0; i < n; ++i)
    points.push_back({-0.7 + 0.11 * i + shift, 0.5 - 0.07 * i, 0.3 * ((i % 3) - 1) + shift});
  return points;
}

}  // namespace

void HostileTest::SetUp() {
  ModuleTest::SetUp();
  folder_ = std::filesystem::temp_directory_path() /
            ("ostrand-hostile-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(folder_);
  std::filesystem::create_directories(folder_);
  host().setBaseDirectory(folder_.string());
}

void HostileTest::TearDown() {
  host::DisarmFaults();
  ostrand::SetBlockLimit(0);
  ModuleTest::TearDown();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void HostileTest::bind() {
  cage_ = host().addObject("cage", CubeMesh());
  a_ = host().addObject("a", PointCloud(PointsInside(12, 0.0)));
  b_ = host().addObject("b", PointCloud(PointsInside(3, 0.05)));
  effect_ = makeEffect({a_, b_});
  host().buildPanel(effect_);
  ASSERT_EQ(host().setInt(control("Samples"), effect_, 8), 0);
  ASSERT_EQ(host().setObject(control("Cage"), effect_, cage_), 0);
  ASSERT_EQ(press("Calculate"), 0);
  ASSERT_EQ(instance().Mode, 0);
  ASSERT_EQ(instance().Targets->records[0].ActiveCount, 12u);
  host().clearMessages();
}

std::vector<std::string> HostileTest::errors() const {
  std::vector<std::string> texts;
  for (const host::Message& message : host_->messages()) {
    EXPECT_EQ(message.kind, ostrand::kMessageKindError) << message.text;
    EXPECT_EQ(message.text2, "Error") << message.text;
    texts.push_back(message.text);
  }
  return texts;
}

void HostileTest::expectOneError(const std::string& part) {
  const std::vector<std::string> texts = errors();
  ASSERT_EQ(texts.size(), 1u) << (texts.empty() ? "no message" : texts[0] + " ...");
  EXPECT_NE(texts[0].find(part), std::string::npos) << texts[0];
  host().clearMessages();
}

void HostileTest::expectSilence() {
  const std::vector<std::string> texts = errors();
  EXPECT_TRUE(texts.empty()) << texts[0];
}

void HostileTest::nameWeightsFile(const std::string& path) {
  ASSERT_LT(path.size(), sizeof instance().WeightsPath);
  std::memcpy(instance().WeightsPath, path.c_str(), path.size() + 1);
}

}  // namespace test_support
