// A host stand-in with the module's own code linked in: the host function
// table and the geometry services are resolved from the host's lookup, and
// the host drives the module through its module callback, as after entry.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "host/host.h"
#include "ostrand/protocol.h"
#include "ostrand/types.h"
#include "support/test_meshes.h"

namespace test_support {

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  host::Host& host() { return *host_; }
  // The instance of an effect item, straight from the host's data record.
  EffectInstance* instanceOf(uint32_t effect);
  // A new effect on these targets, with its instance created by the module.
  uint32_t makeEffect(const std::vector<uint32_t>& targets);

  std::unique_ptr<host::Host> host_;
  std::vector<uint32_t> effects_;
};

// Meshes used across suites, besides CubeMesh (test_meshes.h).
host::Mesh GridMesh(int n, double half);  // (n+1)^2 points on z = 0 inside [-half, half]^2, quads
host::Mesh PointCloud(const std::vector<Vec3>& points);  // points, no polygons

}  // namespace test_support
