// A host with a cage and targets, prepared the way "Calculate" prepares them
// (per-point arrays, no weights yet), for the coordinate suites.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "geometry/ray_search.h"
#include "host_interface/module_state.h"
#include "instance/instance.h"
#include "operations/calculation_driver.h"
#include "support/cages.h"
#include "support/dense_rows.h"
#include "support/module_fixture.h"

namespace test_support {

class CoordinateTest : public ModuleTest {
 protected:
  // Makes the cage and one point-cloud target per entry of targets (named
  // "target0", "target1", ... unless names are given), an effect on the
  // targets with these settings, and prepares its targets.
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

  // Back to prepared targets without weights for the current settings; with
  // dense, zero-filled dense rows instead (PrepareDenseTargets).
  void reprepare(EffectInstance* instance) { reprepare(instance, denseRows_); }
  void reprepare(EffectInstance* instance, bool dense) {
    ostrand::ReleaseComputedData(instance);
    USEFUL(useful_TargetListEffectUpdate)(instance->Targets);
    if (dense)
      PrepareDenseTargets(instance);
    else
      ostrand::PrepareTargets(instance);
  }

  static TargetEntry* target(EffectInstance* instance, int32_t t = 0) { return ostrand::TargetAt(instance, t); }

  // Sum over k of w_k times cage point k, for row i.
  Vec3 reproduce(const EffectInstance* instance, const TargetEntry* target, uint32_t i);

  uint32_t cage_ = 0;
  uint32_t effect_ = 0;
  bool denseRows_ = false;  // prepare() makes dense rows (PrepareDenseTargets)
};

// The module-wide ray search for one scope; the default again afterwards.
struct ScopedRaySearch {
  explicit ScopedRaySearch(ostrand::RaySearch search) { ostrand::SetRaySearch(search); }
  ~ScopedRaySearch() { ostrand::SetRaySearch(ostrand::RaySearch::kAccelerated); }
  ScopedRaySearch(const ScopedRaySearch&) = delete;
  ScopedRaySearch& operator=(const ScopedRaySearch&) = delete;
};

// Hits read the host instead of the cage snapshot while one lives.
struct ScopedHostCageReads {
  ScopedHostCageReads() { ostrand::SetCageSnapshots(false); }
  ~ScopedHostCageReads() { ostrand::SetCageSnapshots(true); }
  ScopedHostCageReads(const ScopedHostCageReads&) = delete;
  ScopedHostCageReads& operator=(const ScopedHostCageReads&) = delete;
};

// Whether the target holds dense rows (PrepareDenseTargets) rather than kept
// weights, which always come with their cage point numbers.
inline bool HoldsDenseRows(const EffectInstance* instance, const TargetEntry* target) {
  return target->CageIndices == nullptr && target->Weights != nullptr &&
         static_cast<int64_t>(target->WeightCount) == int64_t{target->ActiveCount} * instance->CagePoints;
}

// Row i of a target's weights as a dense row of CagePoints entries: read from
// dense rows, or spread out from the kept weights (zeros elsewhere).
inline std::vector<double> Row(const EffectInstance* instance, const TargetEntry* target, uint32_t i) {
  if (HoldsDenseRows(instance, target)) {
    const double* begin = target->Weights + static_cast<size_t>(i) * instance->CagePoints;
    return std::vector<double>(begin, begin + instance->CagePoints);
  }
  std::vector<double> row(instance->CagePoints, 0.0);
  if (target->WeightCounts == nullptr) return row;
  for (int32_t j = target->WeightOffsets[i]; j < target->WeightOffsets[i] + target->WeightCounts[i]; ++j)
    row.at(static_cast<size_t>(target->CageIndices[j])) = target->Weights[j];
  return row;
}

// Every row of a target, back to back, as Row gives them.
inline std::vector<double> Rows(const EffectInstance* instance, const TargetEntry* target) {
  std::vector<double> rows;
  for (uint32_t i = 0; i < target->ActiveCount; ++i) {
    const std::vector<double> row = Row(instance, target, i);
    rows.insert(rows.end(), row.begin(), row.end());
  }
  return rows;
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
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
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
