// The host stand-in's faults: each answers as its name says, only for the
// calls its plan picks, and nothing is armed once a plan ends or a Host goes.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "host/fault_injection.h"
#include "host_test_support.h"

namespace {

using host::Fault;
using host::ScopedFault;

int32_t PointCount(uint32_t object) {
  int32_t count = 0;
  HOST_FN(fxMeshNumPoints)(object, &count, 0);
  return count;
}

TEST(FaultInjection, PlansPickTheirObjectAndCalls) {
  host::Host host;
  const uint32_t a = host.addObject("a", host_test::Cube());
  const uint32_t b = host.addObject("b", host_test::Cube());
  const long before = host::FaultsInjected();
  {
    ScopedFault fault({Fault::kNegativePointCount, a, 2, 3});  // calls 3 to 5 about a
    for (int call = 0; call < 7; ++call) {
      EXPECT_EQ(PointCount(b), 8);
      EXPECT_EQ(PointCount(a), call >= 2 && call < 5 ? -7 : 8) << call;
    }
  }
  EXPECT_EQ(host::FaultsInjected() - before, 3);
  EXPECT_EQ(PointCount(a), 8);  // disarmed with its scope

  host::ArmFault({Fault::kHugePointCount});
  EXPECT_EQ(PointCount(b), INT32_MAX);
}

TEST(FaultInjection, AHostStartsAndEndsWithoutFaults) {
  {
    host::Host host;
    host::ArmFault({Fault::kHugePointCount});
  }
  host::Host host;
  EXPECT_FALSE(host::faults::Armed());
  EXPECT_EQ(PointCount(host.addObject("a", host_test::Cube())), 8);
}

TEST(FaultInjection, PolygonAnswers) {
  host::Host host;
  const uint32_t cube = host.addObject("cube", host_test::Cube());
  auto poly = [&](Fault fault, int32_t (&points)[8]) {
    ScopedFault scoped({fault});
    for (int32_t& p : points) p = 99;
    int32_t count = 0, second = 1;
    HOST_FN(fxMeshPoly)(cube, 0, points, 8, &count, &second, 0);
    return count;
  };
  int32_t points[8];
  EXPECT_EQ(poly(Fault::kPolygonCountAboveWritten, points), 9);
  EXPECT_EQ(points[3], 1);
  EXPECT_EQ(points[4], 99);  // announced, never written
  EXPECT_EQ(poly(Fault::kPolygonHugeCount, points), INT32_MAX);
  EXPECT_EQ(poly(Fault::kPolygonNegativeCount, points), -3);
  EXPECT_EQ(points[0], 99);
  EXPECT_EQ(poly(Fault::kPolygonPointsOutside, points), 4);
  EXPECT_EQ(points[0], 8);
  EXPECT_EQ(points[3], 11);
  EXPECT_EQ(poly(Fault::kPolygonPointsNegative, points), 4);
  EXPECT_EQ(points[3], -4);
}

TEST(FaultInjection, TriangulationsThatLieAreStillFreed) {
  host::Host host;
  const uint32_t cube = host.addObject("cube", host_test::Cube());
  auto triangulate = HOST_FN(useful_TriangulateTarget);
  auto release = HOST_FN(useful_FreeMesh);
  {
    ScopedFault fault({Fault::kTriangulateNull});
    EXPECT_EQ(triangulate(cube, 0), nullptr);
  }
  {
    ScopedFault fault({Fault::kTriangulateNegativePolygons});
    auto* mesh = static_cast<TriangulatedCage*>(triangulate(cube, 0));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->polygonCount, -3);
    EXPECT_NE(mesh->polygons, nullptr);
    release(mesh);  // LeakSanitizer sees whether everything went
  }
  {
    ScopedFault fault({Fault::kTriangulateNegativeTriangles});
    auto* mesh = static_cast<TriangulatedCage*>(triangulate(cube, 0));
    ASSERT_EQ(mesh->polygonCount, 6);
    EXPECT_EQ(mesh->polygons[5].triangleCount, -2);
    EXPECT_NE(mesh->polygons[5].triangles, nullptr);
    release(mesh);
  }
}

TEST(FaultInjection, TextFillsItsWholeBuffer) {
  host::Host host;
  const uint32_t cube = host.addObject("cube", host_test::Cube());
  char buffer[16];
  auto filled = [&](char c) { return std::string(buffer, sizeof buffer) == std::string(sizeof buffer, c); };
  {
    ScopedFault fault({Fault::kNameUnterminated, cube});
    HOST_FN(fxObjectGetName)(cube, buffer, sizeof buffer, 0);
    EXPECT_TRUE(filled('N'));
  }
  {
    ScopedFault fault({Fault::kPathUnterminated});
    HOST_FN(fxPluginPath)(buffer, sizeof buffer, 0);
    EXPECT_TRUE(filled('P'));
    std::memset(buffer, 0, sizeof buffer);
    HOST_FN(fxPathGet)(ostrand::kPathKindBase, buffer, sizeof buffer, 0);
    EXPECT_TRUE(filled('P'));
  }
  {
    ScopedFault fault({Fault::kPointNotFinite});
    Vec3 p{};
    HOST_FN(fxMeshPoint)(cube, 0, &p, 1);
    EXPECT_TRUE(std::isnan(p.x) && std::isinf(p.y) && std::isinf(p.z));
  }
}

TEST(FaultInjection, RecordsAndFormatsGoMissing) {
  host::Host host;
  const uint32_t effect = host.createEffect({});
  int record = 0;
  HOST_FN(fxDataSet)(effect, "key", 0, &record);
  {
    ScopedFault fault({Fault::kDataGetNull, effect, 1, 1});
    EXPECT_EQ(HOST_FN(fxDataGet)(effect, "key", 0), &record);
    EXPECT_EQ(HOST_FN(fxDataGet)(effect, "key", 0), nullptr);
    EXPECT_EQ(HOST_FN(fxDataGet)(effect, "key", 0), &record);
  }
  void* format = HOST_FN(fxFormatNew)(host.handleOf(effect), "F", 0);
  ASSERT_NE(format, nullptr);
  HOST_FN(fxArgSaveString)(format, "s", "text", 0);
  ScopedFault formats({Fault::kFormatNull});
  EXPECT_EQ(HOST_FN(fxFormatNew)(host.handleOf(effect), "F", 0), nullptr);
  EXPECT_EQ(HOST_FN(fxFormatGet)(host.handleOf(effect), "F"), nullptr);
  ScopedFault strings({Fault::kStringUnterminated});
  char buffer[8];
  EXPECT_EQ(HOST_FN(fxArgLoadString)(format, "s", buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'S'));
}

}  // namespace
