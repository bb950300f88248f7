// A host with a cage and targets, prepared the way "Calculate" prepares them
// (dense rows allocated, nothing computed yet), for the coordinate suites.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "support/cages.h"
#include "geometry/ray_search.h"
#include "instance/instance.h"
#include "support/module_fixture.h"
#include "host_interface/module_state.h"

namespace test_support {

class CoordinateTest : public ModuleTest {
 protected:
  // Makes the cage and one point-cloud target per entry of targets (named
  // "target0", "target1", ... unless names are given), an effect on the
  // targets with these settings, and prepares its dense rows.
  EffectInstance* prepare(const host::Mesh& cage, const std::vector<std::vector<Vec3>>& targets, int32_t samples,
                          double tolerance = 0.0, const std::vector<std::string>& names = {}) {
    cage_ = host().addObject("cage", cage);
    std::vector<uint32_t> ids;
    for (size_t t = 0; t < targets.size(); ++t)
      ids.push_back(host().addObject(t < names.size() ? names[t] : "target" + std::to_string(t), PointCloud(targets[t])));
    effect_ = makeEffect(ids);
    EffectInstance* instance = instanceOf(effect_);
    instance->Cage = cage_;
    instance->Samples = samples;
    instance->Tolerance = tolerance;
    reprepare(instance);
    return instance;
  }

  // Back to zero-filled dense rows for the current settings.
  void reprepare(EffectInstance* instance) {
    ostrand::ReleaseComputedData(instance);
    USEFUL(useful_TargetListEffectUpdate)(instance->Targets);
    ostrand::PrepareTargets(instance);
  }

  static TargetEntry* target(EffectInstance* instance, int32_t t = 0) { return ostrand::TargetAt(instance, t); }

  // Sum over k of w_k times cage point k, for row i.
  Vec3 reproduce(const EffectInstance* instance, const TargetEntry* target, uint32_t i);

  uint32_t cage_ = 0;
  uint32_t effect_ = 0;
};

// The module-wide ray search for one scope; the default again afterwards.
struct ScopedRaySearch {
  explicit ScopedRaySearch(ostrand::RaySearch search) { ostrand::SetRaySearch(search); }
  ~ScopedRaySearch() { ostrand::SetRaySearch(ostrand::RaySearch::kAccelerated); }
  ScopedRaySearch(const ScopedRaySearch&) = delete;
  ScopedRaySearch& operator=(const ScopedRaySearch&) = delete;
};

// Row i of a target's dense weights.
inline std::vector<double> Row(const EffectInstance* instance, const TargetEntry* target, uint32_t i) {
  const double* begin = target->Weights + static_cast<size_t>(i) * instance->CagePoints;
  return std::vector<double>(begin, begin + instance->CagePoints);
}

// Every dense row of a target, back to back.
inline std::vector<double> Rows(const EffectInstance* instance, const TargetEntry* target) {
  const size_t n = static_cast<size_t>(target->ActiveCount) * instance->CagePoints;
  return std::vector<double>(target->Weights, target->Weights + n);
}

inline Vec3 CoordinateTest::reproduce(const EffectInstance* instance, const TargetEntry* target, uint32_t i) {
  const std::vector<double> w = Row(instance, target, i);
  const std::vector<Vec3>& cage = host().object(cage_)->mesh.points;
  Vec3 sum{0, 0, 0};
  for (size_t k = 0; k < w.size(); ++k) {
    sum.x += w[k] * cage[k].x;
    sum.y += w[k] * cage[k].y;
    sum.z += w[k] * cage[k].z;
  }
  return sum;
}

inline double Distance(const Vec3& a, const Vec3& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

inline double Sum(const std::vector<double>& values) {
  double s = 0;
  for (double v : values) s += v;
  return s;
}

inline bool AllZero(const std::vector<double>& values) {
  for (double v : values)
    if (v != 0.0) return false;
  return true;
}

inline bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// n points spread through the inside of the cube [-0.8, 0.8]^3, fixed.
inline std::vector<Vec3> PointsInCube(int n) {
  std::vector<Vec3> points;
  for (int i = 0; i < n; ++i) {
    const double t = i + 0.5;
    points.push_back({0.8 * std::sin(t * 1.3), 0.8 * std::cos(t * 0.7), 0.8 * std::sin(t * 2.9 + 1.0)});
  }
  return points;
}

// Rows of a target whose weights were computed (sum to 1).
inline int ComputedRows(const EffectInstance* instance, const TargetEntry* target) {
  int computed = 0;
  for (uint32_t i = 0; i < target->ActiveCount; ++i)
    computed += std::fabs(Sum(Row(instance, target, i)) - 1.0) < 1e-9;
  return computed;
}

}  // namespace test_support
