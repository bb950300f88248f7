// "Calculate" through the loaded module: 10,000 target points inside cages of
// about 100, 1,000 and 10,000 triangles (subdivided cubes, and a prism with
// 250-gon caps at 1,000), 32 samples, 2 worker threads, with the accelerated
// ray search and, on the same points, with the exhaustive one. The search is
// chosen through OSTRAND_RAY_SEARCH, since the loaded module cannot be called
// into. The exhaustive search costs points x 32 x triangles ray tests, so it
// runs on the first 10,000 / 2,000 / 200 of the points (about 64 million
// tests at most); the two are compared per ray.
//
// Counters: ns_per_ray (accelerated, the best of five runs without call
// counting, as a real host runs) and exhaustive_ns_per_ray, speedup (their
// ratio), ray_tests_per_ray (host ray tests per ray, accelerated), the same
// for the search that offers every triangle along the whole line (whole_line_,
// the accelerated search before it went nearest first), our time
// per ray over Embree's (rtcIntersect1 on the same rays and triangles, same
// thread count, BVH built beforehand, best of three), and same_weights: 1 when the rows the
// two searches computed for the shared points are identical bit for bit.
//
// The search alone (BM_Search): the same rays through the geometry library
// outside the module, nearest first, along the whole line and on grids
// across the sample directions (what "Calculate" uses on these targets),
// with the host's ray test called directly, against Embree in the same
// rounds; the per-ray ratios over Embree, the hierarchy's leaf entries
// (above the triangle count when thin triangles were cut), the time to
// triangulate the cage and build the hierarchy and the grids (build_ms, of
// which grid_build_ms the grids), and same_hits: 1 when all three found the
// same hits bit for bit. Calculate's own figures add the weights that follow
// each hit.
//
// Quality: for points inside a cube cage and inside a non-convex (star prism)
// cage, the largest and the mean distance between each point and the weighted
// sum of the cage points at rest, relative to the cage's bounding-box
// diagonal, for 32, 128 and 512 samples. These are figures to watch, not
// thresholds.
#include <benchmark/benchmark.h>
#include <embree3/rtcore.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/host.h"
#include "ostrand/protocol.h"
#include "ostrand/types.h"
#include "support/cages.h"
#include "support/environment.h"
#include "support/ray_search_support.h"

namespace {

constexpr int kTargetPoints = 10000;
constexpr int kSamples = 32;

// The module's sample directions, rebuilt here for the baseline's rays.
std::vector<Vec3> SampleDirections(int n) {
  std::vector<Vec3> d;
  const double step = 2.0 / static_cast<double>(static_cast<float>(n));
  for (int i = 0; i < n; ++i) {
    const double y = (step * i - 1.0) + 0.5 * step;
    const double r = std::sqrt(1.0 - y * y);
    const double angle = i * 2.399963226986295;
    d.push_back({std::cos(angle) * r * 1e6, y * 1e6, std::sin(angle) * r * 1e6});
  }
  return d;
}

// The same triangles in an Embree scene.
class EmbreeCage {
 public:
  EmbreeCage(RTCDevice device, const host::Mesh& mesh) {
    test_support::OwnedTriangulation triangulation(mesh);
    RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                                 3 * sizeof(float), mesh.points.size()));
    for (size_t k = 0; k < mesh.points.size(); ++k) {
      vertices[3 * k] = static_cast<float>(mesh.points[k].x);
      vertices[3 * k + 1] = static_cast<float>(mesh.points[k].y);
      vertices[3 * k + 2] = static_cast<float>(mesh.points[k].z);
    }
    triangles_ = triangulation.triangleCount();
    auto* indices = static_cast<unsigned*>(
        rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), triangles_));
    size_t next = 0;
    for (const auto& polygon : triangulation.triangles)
      for (const auto& t : polygon)
        for (int c = 0; c < 3; ++c) indices[next++] = static_cast<unsigned>(t[c]);
    rtcCommitGeometry(geometry);
    scene_ = rtcNewScene(device);
    rtcAttachGeometry(scene_, geometry);
    rtcReleaseGeometry(geometry);
    rtcCommitScene(scene_);
  }
  ~EmbreeCage() { rtcReleaseScene(scene_); }
  EmbreeCage(const EmbreeCage&) = delete;
  EmbreeCage& operator=(const EmbreeCage&) = delete;

  size_t triangles() const { return triangles_; }

  // Casts every direction from every point; returns the seconds taken and
  // counts the rays that hit.
  double castAll(const std::vector<Vec3>& points, const std::vector<Vec3>& directions, int threads, long* hits) const {
    long found = 0;
    const auto start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(static) num_threads(threads) reduction(+ : found)
    for (long i = 0; i < static_cast<long>(points.size()); ++i) {
      RTCIntersectContext context;
      rtcInitIntersectContext(&context);
      for (const Vec3& d : directions) {
        RTCRayHit ray{};
        ray.ray.org_x = static_cast<float>(points[i].x);
        ray.ray.org_y = static_cast<float>(points[i].y);
        ray.ray.org_z = static_cast<float>(points[i].z);
        ray.ray.dir_x = static_cast<float>(d.x);
        ray.ray.dir_y = static_cast<float>(d.y);
        ray.ray.dir_z = static_cast<float>(d.z);
        ray.ray.tnear = 0.0f;
        ray.ray.tfar = std::numeric_limits<float>::infinity();
        ray.ray.mask = 0xFFFFFFFFu;
        ray.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene_, &context, &ray);
        found += ray.hit.geomID != RTC_INVALID_GEOMETRY_ID;
      }
    }
    *hits = found;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

 private:
  RTCScene scene_ = nullptr;
  size_t triangles_ = 0;
};

// One cage with a target inside it and an effect binding the two.
struct Binding {
  host::Mesh cage;
  std::vector<Vec3> points;
  uint32_t effect = 0;
  std::unique_ptr<EmbreeCage> embree;
  Binding* subset = nullptr;  // the first of the points bound to the same cage, for the exhaustive search
};

// The program's one host, with the module loaded, and every scene it uses.
class World {
 public:
  // The comparisons build of the module built here (whose search the
  // environment chooses), or the module file named by OSTRAND_BENCH_MODULE
  // (an earlier build, to compare with).
  World() {
    const char* other = std::getenv("OSTRAND_BENCH_MODULE");
    host_.loadModule(other != nullptr ? other : OSTRAND_COMPARISONS_MODULE_PATH);
    host_.enter();
    host_.announceServices();
    device_ = rtcNewDevice(nullptr);
  }
  ~World() {
    bindings_.clear();
    rtcReleaseDevice(device_);
  }

  host::Host& host() { return host_; }

  // A new effect that binds the points to the cage, with its panel built.
  Binding& bind(const host::Mesh& cage, const std::vector<Vec3>& points, bool withEmbree) {
    auto binding = std::make_unique<Binding>();
    binding->cage = cage;
    binding->points = points;
    const uint32_t cageId = host_.addObject("cage", cage);
    host::Mesh cloud;
    cloud.points = points;
    const uint32_t target = host_.addObject("target", cloud);
    binding->effect = host_.createEffect({target});
    host_.buildPanel(binding->effect);
    host_.setObject(control("Cage"), binding->effect, cageId);
    if (withEmbree) binding->embree = std::make_unique<EmbreeCage>(device_, cage);
    bindings_.push_back(std::move(binding));
    return *bindings_.back();
  }

  uint32_t control(const char* label) { return host_.controlByLabel(label)->id; }

  // Presses "Calculate" with these settings and the ray search named ("":
  // the module's default); returns the seconds it took.
  double calculate(const Binding& b, int samples, int threads, const char* search = "") {
    host_.setInt(control("Samples"), b.effect, samples);
    host_.setInt(control("Threads"), b.effect, threads);
    test_support::SetEnvironment("OSTRAND_RAY_SEARCH", search);
    const auto start = std::chrono::steady_clock::now();
    host_.press(control("Calculate"), b.effect);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    test_support::SetEnvironment("OSTRAND_RAY_SEARCH", nullptr);
    return seconds;
  }

  // The instance the module keeps for the effect.
  EffectInstance* instance(const Binding& b) {
    return static_cast<EffectInstance*>(host_.effect(b.effect)->data.at(ostrand::kInstanceDataKey));
  }

 private:
  host::Host host_;
  RTCDevice device_ = nullptr;
  std::vector<std::unique_ptr<Binding>> bindings_;
};

World& TheWorld() {
  static World world;
  return world;
}

std::vector<Vec3> RandomPoints(int n, bool inCylinder) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> u(-0.8, 0.8);
  std::vector<Vec3> points;
  while (static_cast<int>(points.size()) < n) {
    const Vec3 p{u(random), u(random) * (inCylinder ? 0.75 : 1.0), u(random)};
    if (!inCylinder || p.x * p.x + p.z * p.z < 0.64) points.push_back(p);
  }
  return points;
}

// Whether the first rows of `all` are those of `first`, bit for bit.
bool SameLeadingRows(World& world, const Binding& all, const Binding& first) {
  const TargetEntry& a = world.instance(all)->Targets->records[0];
  const TargetEntry& b = world.instance(first)->Targets->records[0];
  if (b.ActiveCount > a.ActiveCount || b.ActiveCount != first.points.size()) return false;
  for (uint32_t i = 0; i < b.ActiveCount; ++i) {
    const int32_t n = b.WeightCounts[i];
    if (a.WeightCounts[i] != n) return false;
    if (std::memcmp(a.Weights + a.WeightOffsets[i], b.Weights + b.WeightOffsets[i], n * sizeof(double)) != 0 ||
        std::memcmp(a.CageIndices + a.WeightOffsets[i], b.CageIndices + b.WeightOffsets[i], n * sizeof(int32_t)) != 0)
      return false;
  }
  return true;
}

// Cage 0: a cube cut into 3 x 3 quads per face (108 triangles); 1: 9 x 9
// (972); 2: a prism with 250-gon caps (996); 3: 29 x 29 (10,092). With each,
// the points the exhaustive search runs on.
constexpr int kCages = 4;
constexpr int kExhaustivePoints[kCages] = {10000, 2000, 2000, 200};

Binding& SpeedCase(int cage) {
  static Binding* made[kCages] = {};
  if (made[cage] == nullptr) {
    const bool prism = cage == 2;
    const int cuts[kCages] = {3, 9, 0, 29};
    const host::Mesh mesh = prism ? test_support::Prism(test_support::RegularPolygon(250, 1.0), 0.75)
                                  : test_support::SubdividedCube(cuts[cage], 1.0);
    const std::vector<Vec3> points = RandomPoints(kTargetPoints, prism);
    made[cage] = &TheWorld().bind(mesh, points, true);
    const std::vector<Vec3> first(points.begin(), points.begin() + kExhaustivePoints[cage]);
    made[cage]->subset = &TheWorld().bind(mesh, first, false);
  }
  return *made[cage];
}

void BM_Calculate(benchmark::State& state) {
  const int threads = 2;
  Binding& b = SpeedCase(static_cast<int>(state.range(0)));
  World& world = TheWorld();
  const std::vector<Vec3> directions = SampleDirections(kSamples);
  const double rays = static_cast<double>(b.points.size()) * kSamples;
  // Timed as a real host runs, counting no calls; the ray tests are counted
  // in one more run.
  double best = 1e9;  // the best run, as for Embree below
  world.host().setCountingCalls(false);
  for (auto _ : state) {
    const double seconds = world.calculate(b, kSamples, threads, "accelerated");
    state.SetIterationTime(seconds);
    best = std::min(best, seconds);
  }
  world.host().setCountingCalls(true);
  world.host().resetCalls();
  world.calculate(b, kSamples, threads, "accelerated");
  const double tests = static_cast<double>(world.host().calls("useful_RayIntersectTriangle"));
  const double perRay = best / rays;
  // The previous accelerated search, every triangle along the whole line, on the same points.
  world.host().resetCalls();
  const double wholeLinePerRay = world.calculate(b, kSamples, threads, "whole-line") / rays;
  const double wholeLineTests = static_cast<double>(world.host().calls("useful_RayIntersectTriangle")) / rays;
  const double exhaustiveRays = static_cast<double>(b.subset->points.size()) * kSamples;
  const double exhaustivePerRay = world.calculate(*b.subset, kSamples, threads, "exhaustive") / exhaustiveRays;
  long hits = 0;
  double embree = 1e9;  // the best of three, as the machine's load comes and goes
  for (int round = 0; round < 3; ++round)
    embree = std::min(embree, b.embree->castAll(b.points, directions, threads, &hits));
  state.counters["triangles"] = static_cast<double>(b.embree->triangles());
  state.counters["ns_per_ray"] = 1e9 * perRay;
  state.counters["exhaustive_ns_per_ray"] = 1e9 * exhaustivePerRay;
  state.counters["speedup"] = exhaustivePerRay / perRay;
  state.counters["ray_tests_per_ray"] = tests / rays;
  state.counters["whole_line_ns_per_ray"] = 1e9 * wholeLinePerRay;
  state.counters["whole_line_tests_per_ray"] = wholeLineTests;
  state.counters["whole_line_vs_embree"] = wholeLinePerRay / (embree / rays);
  state.counters["ray_tests_per_s"] = tests / best;
  state.counters["embree_ns_per_ray"] = 1e9 * embree / rays;
  state.counters["per_ray_vs_embree"] = perRay / (embree / rays);
  state.counters["embree_hit_fraction"] = static_cast<double>(hits) / rays;
  state.counters["same_weights"] = SameLeadingRows(world, b, *b.subset) ? 1 : 0;
}
BENCHMARK(BM_Calculate)
    ->ArgNames({"cage"})
    ->DenseRange(0, kCages - 1)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// The search alone, outside the module: the nearest-first search, the
// search along the whole line and the one on grids across the directions,
// through the geometry library with the host's ray test called directly, on
// the rays Embree casts. Each round times them all in turn, so that they see
// the same load; the best of 3 rounds counts.
using Way = test_support::SharedSearch::Way;

double SearchSeconds(const test_support::SharedSearch& search, Way way, const std::vector<Vec3>& points,
                     const std::vector<Vec3>& directions, int threads, std::vector<ostrand::RayHit>* hits) {
  const auto start = std::chrono::steady_clock::now();
#pragma omp parallel num_threads(threads)
  {
    test_support::SharedSearch::Scratch scratch;
#pragma omp for schedule(static)
    for (long i = 0; i < static_cast<long>(points.size()); ++i)
      for (size_t s = 0; s < directions.size(); ++s)
        (*hits)[i * directions.size() + s] =
            search.find(points[i], directions[s], static_cast<int32_t>(s), way, &scratch);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Search(benchmark::State& state) {
  const int threads = 2;
  const Binding& b = SpeedCase(static_cast<int>(state.range(0)));
  const std::vector<Vec3> directions = SampleDirections(kSamples);
  const double rays = static_cast<double>(b.points.size()) * kSamples;
  const auto start = std::chrono::steady_clock::now();
  const test_support::SharedSearch search(b.cage, directions);  // triangulated and built
  const double buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!search.built()) {
    state.SkipWithError("no memory for the hierarchy or the grids");
    return;
  }
  const Way ways[3] = {Way::kNearestFirst, Way::kWholeLine, Way::kGrids};
  std::vector<ostrand::RayHit> hits[3];
  double seconds[3] = {1e9, 1e9, 1e9}, embree = 1e9;
  for (auto& h : hits) h.resize(static_cast<size_t>(rays));
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      for (int w = 0; w < 3; ++w)
        seconds[w] = std::min(seconds[w], SearchSeconds(search, ways[w], b.points, directions, threads, &hits[w]));
      long found = 0;
      embree = std::min(embree, b.embree->castAll(b.points, directions, threads, &found));
    }
    state.SetIterationTime(seconds[2]);
  }
  bool same = true;
  for (size_t r = 0; r < hits[0].size() && same; ++r)
    same = test_support::SameHit(hits[0][r], hits[1][r]) && test_support::SameHit(hits[0][r], hits[2][r]);
  state.counters["triangles"] = static_cast<double>(b.embree->triangles());
  state.counters["leaf_entries"] = static_cast<double>(search.bvh().entryCount);
  state.counters["build_ms"] = 1e3 * buildSeconds;
  state.counters["grid_build_ms"] = 1e3 * search.gridSeconds();
  state.counters["embree_ns_per_ray"] = 1e9 * embree / rays;
  state.counters["grids_ns_per_ray"] = 1e9 * seconds[2] / rays;
  state.counters["grids_vs_embree"] = seconds[2] / embree;
  state.counters["nearest_first_vs_embree"] = seconds[0] / embree;
  state.counters["whole_line_vs_embree"] = seconds[1] / embree;
  state.counters["same_hits"] = same ? 1 : 0;
}
BENCHMARK(BM_Search)
    ->ArgNames({"cage"})
    ->DenseRange(0, kCages - 1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Largest and mean |x - sum w_k c_k| / diagonal over the bound points.
void ReproductionError(World& world, const Binding& b, double* largest, double* mean) {
  const EffectInstance* instance = world.instance(b);
  const TargetEntry& t = instance->Targets->records[0];
  const double diagonal = test_support::BoundingDiagonal(b.cage);
  *largest = 0;
  *mean = 0;
  for (uint32_t i = 0; i < t.ActiveCount; ++i) {
    Vec3 sum{0, 0, 0};
    for (int32_t j = t.WeightOffsets[i]; j < t.WeightOffsets[i] + t.WeightCounts[i]; ++j) {
      const Vec3& c = b.cage.points[t.CageIndices[j]];
      sum = {sum.x + t.Weights[j] * c.x, sum.y + t.Weights[j] * c.y, sum.z + t.Weights[j] * c.z};
    }
    const Vec3& p = b.points[t.PointIndices[i]];
    const double error = std::sqrt((sum.x - p.x) * (sum.x - p.x) + (sum.y - p.y) * (sum.y - p.y) +
                                   (sum.z - p.z) * (sum.z - p.z)) / diagonal;
    *largest = std::fmax(*largest, error);
    *mean += error / t.ActiveCount;
  }
}

// Cage 0: the cube with 6 quads; cage 1: a five-pointed star prism.
Binding& QualityCase(int cage) {
  static Binding* made[2] = {nullptr, nullptr};
  if (made[cage] == nullptr) {
    const test_support::CageCase c = cage == 0 ? test_support::CubeCase(6) : test_support::StarCase(8);
    made[cage] = &TheWorld().bind(c.mesh, c.inside, false);
  }
  return *made[cage];
}

void BM_Quality(benchmark::State& state) {
  Binding& b = QualityCase(static_cast<int>(state.range(0)));
  World& world = TheWorld();
  for (auto _ : state) state.SetIterationTime(world.calculate(b, static_cast<int>(state.range(1)), 2));
  double largest = 0, mean = 0;
  ReproductionError(world, b, &largest, &mean);
  state.counters["points"] = static_cast<double>(b.points.size());
  state.counters["largest_error"] = largest;
  state.counters["mean_error"] = mean;
}
BENCHMARK(BM_Quality)
    ->ArgNames({"cage", "samples"})
    ->ArgsProduct({{0, 1}, {32, 128, 512}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
