#include "support/module_fixture.h"

#include "support/in_process_module.h"

#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/module_state.h"
#include "operations/threads.h"
#include "shell/module_callback.h"

namespace test_support {

void ModuleTest::SetUp() {
  host_ = std::make_unique<host::Host>();
  ASSERT_TRUE(ConnectInProcessModule(*host_));
  ostrand::SetAllocationFailure(-1);
  ostrand::SetThreadCount(2);
  // The meshes of tests are small: their loops run on threads all the same.
  ostrand::SetSmallWorkThresholds({0, 0});
  host_->clearLookups();
}

void ModuleTest::TearDown() {
  ostrand::SetAllocationFailure(-1);
  ostrand::SetSmallWorkThresholds({});
  // Destroy what the module still holds so that leak checks see a clean heap.
  if (host_)
    for (uint32_t effect : effects_)
      if (instanceOf(effect) != nullptr) host_->destroyEffect(effect);
  host_.reset();
}

EffectInstance* ModuleTest::instanceOf(uint32_t effect) {
  host::EffectItem* item = host_->effect(effect);
  if (item == nullptr) return nullptr;
  auto it = item->data.find(ostrand::kInstanceDataKey);
  return it == item->data.end() ? nullptr : static_cast<EffectInstance*>(it->second);
}

uint32_t ModuleTest::makeEffect(const std::vector<uint32_t>& targets) {
  uint32_t effect = host_->createEffect(targets);
  effects_.push_back(effect);
  EXPECT_NE(instanceOf(effect), nullptr);
  return effect;
}

host::Mesh GridMesh(int n, double half) {
  host::Mesh mesh;
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) mesh.points.push_back({-half + 2 * half * i / n, -half + 2 * half * j / n, 0.0});
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      int a = j * (n + 1) + i;
      mesh.polygons.push_back({a, a + 1, a + n + 2, a + n + 1});
    }
  return mesh;
}

host::Mesh PointCloud(const std::vector<Vec3>& points) {
  host::Mesh mesh;
  mesh.points = points;
  return mesh;
}

}  // namespace test_support
