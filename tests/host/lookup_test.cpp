// The lookup: every name answered, recorded in order, chosen names missed; call
// counters; one Host at a time.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>

#include "host_test_support.h"

namespace {

using host::Host;

TEST(Lookup, AnswersEveryNameOfBothListsAndNothingElse) {
  Host host;
  HostLookup lookup = Host::lookupFunction();
  std::set<void*> distinct;
  for (const auto& entry : ostrand::kHostFunctionNames) {
    void* function = lookup(entry.name, entry.group);
    ASSERT_NE(function, nullptr) << entry.name;
    distinct.insert(function);
  }
  for (const char* name : ostrand::kUsefulFunctionNames) {
    void* function = lookup(name, ostrand::kUsefulGroup);
    ASSERT_NE(function, nullptr) << name;
    distinct.insert(function);
  }
  // One shared do-nothing function, plus one per function with behaviour
  int withBehaviour = 0;
#define OSTRAND_HOST_API(result, name, parameters) ++withBehaviour;
#include "ostrand/host_api.inc"
#undef OSTRAND_HOST_API
  EXPECT_EQ(distinct.size(), size_t(withBehaviour + 1));

  EXPECT_EQ(lookup("fxNoSuchFunction", ostrand::kGroupMeshes), nullptr);
  EXPECT_EQ(lookup("", 0), nullptr);
  EXPECT_EQ(lookup(nullptr, 0), nullptr);
}

TEST(Lookup, RecordsNameAndGroupInOrderAndMissesChosenNames) {
  Host host;
  host.missName("fxMeshPoint");
  HostLookup lookup = Host::lookupFunction();
  EXPECT_NE(lookup("fxMeshNumPoints", ostrand::kGroupMeshes), nullptr);
  EXPECT_EQ(lookup("fxMeshPoint", ostrand::kGroupMeshes), nullptr);
  EXPECT_NE(lookup("useful_FreeMesh", ostrand::kUsefulGroup), nullptr);
  const auto lookups = host.lookups();
  ASSERT_EQ(lookups.size(), 3u);
  EXPECT_EQ(lookups[0].name, "fxMeshNumPoints");
  EXPECT_EQ(lookups[1].name, "fxMeshPoint");
  EXPECT_EQ(lookups[1].group, ostrand::kGroupMeshes);
  EXPECT_EQ(lookups[2].group, ostrand::kUsefulGroup);
  host.clearLookups();
  EXPECT_TRUE(host.lookups().empty());
}

TEST(Lookup, FunctionsWithoutBehaviourReturnZero) {
  Host host;
  auto function = host_test::Resolve<intptr_t (*)(uint32_t, int32_t)>("fxObjectFind", ostrand::kGroupObjects);
  EXPECT_EQ(function(7, 3), 0);
}

TEST(Lookup, CountsCallsFromManyThreads) {
  Host host;
  const uint32_t cube = host.addObject("cube", host_test::Cube());
  auto meshPoint = HOST_FN(fxMeshPoint);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      Vec3 p;
      for (int i = 0; i < 1000; ++i) meshPoint(cube, i % 8, &p, 1);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(host.calls("fxMeshPoint"), 4000);
  EXPECT_EQ(host.calls("fxMeshPoly"), 0);
  EXPECT_EQ(host.calls("fxNoSuchFunction"), 0);
  host.resetCalls();
  EXPECT_EQ(host.calls("fxMeshPoint"), 0);
}

TEST(HostLifetime, OnlyOneHostAtATime) {
  EXPECT_EQ(Host::currentOrNull(), nullptr);
  EXPECT_THROW(Host::current(), std::logic_error);
  {
    Host first;
    EXPECT_EQ(&Host::current(), &first);
    EXPECT_THROW(Host second, std::logic_error);
    EXPECT_EQ(&Host::current(), &first);
  }
  Host again;
  EXPECT_EQ(&Host::current(), &again);
}

TEST(HostLifetime, FunctionsAnswerNeutrallyWithoutHost) {
  fxMeshNumPoints_fn numPoints;
  {
    Host host;
    numPoints = HOST_FN(fxMeshNumPoints);
  }
  int32_t count = 5;
  EXPECT_EQ(numPoints(1, &count, 0), 0);
  EXPECT_EQ(count, 0);
}

}  // namespace
