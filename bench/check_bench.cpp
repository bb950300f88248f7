// The cage check with a target: a 1,000,000-point torus in a box cage whose
// faces are 20 x 20 grids of quads (2,402 points, 2,400 quads, 4,800
// triangles), on 1 and 2 threads; closed (a ray per point) and with one face
// of the box removed (a ray per point and the cap's 80 edges). The goal: the
// closed cage in at most 2 s on 2 threads.
//
// The cage alone, a box whose faces are 91 x 91 grids of quads (99,372
// triangles), turned off the axes, on 1 and 2 threads: most of it is the
// search for faces that pass through each other. The goal: a few hundred ms.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "checks/cage_check.h"
#include "support/cages.h"

namespace {

// A torus around the y axis, well inside the box [-1, 1]^3: 1000 x 1000 points.
const std::vector<Vec3>& Torus() {
  static const std::vector<Vec3> kPoints = test_support::TorusPoints(1000);
  return kPoints;
}

host::Mesh BoxCage(bool open) {
  host::Mesh cage = test_support::SubdividedCube(20);
  // The last face's 400 quads: the box is open on one side.
  if (open) cage.polygons.resize(cage.polygons.size() - 400);
  return cage;
}

void Check(benchmark::State& state, bool open) {
  const host::Mesh cage = BoxCage(open);
  const std::vector<Vec3>& target = Torus();
  size_t outside = 0;
  for (auto _ : state) {
    const checks::CageCheck check = checks::CheckCage(cage, &target, static_cast<int>(state.range(0)));
    outside = check.outsidePoints;
    benchmark::DoNotOptimize(check.outside.data());
  }
  state.counters["outside"] = static_cast<double>(outside);
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(target.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_CheckClosedCage(benchmark::State& state) { Check(state, false); }
void BM_CheckOpenCage(benchmark::State& state) { Check(state, true); }

void BM_CheckLargeCage(benchmark::State& state) {
  host::Mesh cage = test_support::SubdividedCube(91);
  const double c = std::cos(0.3), s = std::sin(0.3);
  for (Vec3& p : cage.points) p = {c * p.x - s * p.y, s * p.x + c * p.y, p.z};
  size_t findings = 0;
  for (auto _ : state) {
    const checks::CageCheck check = checks::CheckCage(cage, nullptr, static_cast<int>(state.range(0)));
    findings = check.findings.size();
    benchmark::DoNotOptimize(findings);
  }
  state.counters["findings"] = static_cast<double>(findings);
  state.counters["triangles/s"] =
      benchmark::Counter(2.0 * static_cast<double>(cage.polygons.size()), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_CheckClosedCage)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CheckOpenCage)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CheckLargeCage)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
