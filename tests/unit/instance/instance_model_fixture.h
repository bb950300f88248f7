// The fixture of the suite InstanceModelTest, whose tests are in the files
// of the instance layer's sources: an effect on a target of points along a
// line, with a 4-point cage.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "instance/instance.h"
#include "support/module_fixture.h"

namespace test_support {

inline std::vector<Vec3> Line(int n) {
  std::vector<Vec3> points;
  for (int i = 0; i < n; ++i) points.push_back({0.1 * i, 0.0, 0.0});
  return points;
}

class InstanceModelTest : public ModuleTest {
 protected:
  // A 4-point cage and a target of targetPoints points on one effect.
  EffectInstance* makeBound(int targetPoints, uint32_t* target = nullptr) {
    cage_ = host().addObject("cage", PointCloud({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
    uint32_t t = host().addObject("target", PointCloud(Line(targetPoints)));
    if (target) *target = t;
    effect_ = makeEffect({t});
    EffectInstance* instance = instanceOf(effect_);
    instance->Cage = cage_;
    return instance;
  }
  uint32_t cage_ = 0, effect_ = 0;
};

}  // namespace test_support
