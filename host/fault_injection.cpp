#include "host/fault_injection.h"

#include <array>

namespace host {
namespace {

struct ArmedPlan {
  std::atomic<bool> armed{false};
  uint32_t object = 0;
  long skip = 0;
  long times = -1;
  std::atomic<long> calls{0};  // matching calls seen since arming
};

std::array<ArmedPlan, static_cast<size_t>(Fault::kCount)> plans;
std::atomic<long> injectedCount{0};

constexpr const char* kNames[] = {
    "NegativePointCount",     "HugePointCount",          "NegativePolygonCount",
    "HugePolygonCount",       "PointNotFinite",          "PolygonCountAboveWritten",
    "PolygonHugeCount",       "PolygonNegativeCount",    "PolygonPointsOutside",
    "PolygonPointsNegative",  "DataGetNull",             "TriangulateNull",
    "TriangulateNegativePolygons", "TriangulateNegativeTriangles", "FormatNull",
    "NameUnterminated",       "PathUnterminated",        "StringUnterminated",
};
static_assert(sizeof kNames / sizeof kNames[0] == static_cast<size_t>(Fault::kCount));

}  // namespace

namespace faults {

std::atomic<bool> anyArmed{false};

bool Strikes(Fault fault, uint32_t object) {
  ArmedPlan& plan = plans[static_cast<size_t>(fault)];
  if (!plan.armed.load(std::memory_order_acquire)) return false;
  if (plan.object != 0 && plan.object != object) return false;
  const long n = plan.calls.fetch_add(1, std::memory_order_relaxed);
  if (n < plan.skip) return false;
  if (plan.times >= 0 && n - plan.skip >= plan.times) return false;
  injectedCount.fetch_add(1, std::memory_order_relaxed);
  return true;
}

}  // namespace faults

void ArmFault(const FaultPlan& plan) {
  if (plan.fault < Fault{} || plan.fault >= Fault::kCount) return;
  ArmedPlan& armed = plans[static_cast<size_t>(plan.fault)];
  armed.armed.store(false, std::memory_order_relaxed);
  armed.object = plan.object;
  armed.skip = plan.skip;
  armed.times = plan.times;
  armed.calls.store(0, std::memory_order_relaxed);
  armed.armed.store(true, std::memory_order_release);
  faults::anyArmed.store(true, std::memory_order_release);
}

void DisarmFaults() {
  faults::anyArmed.store(false, std::memory_order_release);
  for (ArmedPlan& plan : plans) plan.armed.store(false, std::memory_order_release);
}

long FaultsInjected() { return injectedCount.load(std::memory_order_relaxed); }

const char* FaultName(Fault fault) {
  const auto index = static_cast<size_t>(fault);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "?";
}

}  // namespace host
