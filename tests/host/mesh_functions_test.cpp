// Meshes, weight maps and displacements as the module reads and writes them.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <tuple>

#include "host_test_support.h"

namespace {

using host::Host;

class MeshFunctions : public ::testing::Test {
 protected:
  Host host;
  host::Mesh mesh = [] {
    host::Mesh m = host_test::Cube();
    m.polygons.push_back({0, 1, 3, 7, 6, 4, 2});  // a long one for the capacity protocol
    return m;
  }();
  uint32_t cube = host.addObject("the cube", mesh);
};

TEST_F(MeshFunctions, CountsAndIdsOfObjects) {
  EXPECT_NE(cube, 0u);
  int32_t count = -1;
  HOST_FN(fxMeshNumPoints)(cube, &count, 0);
  EXPECT_EQ(count, 8);
  HOST_FN(fxMeshNumPolys)(cube, &count, 0);
  EXPECT_EQ(count, 7);
  HOST_FN(fxMeshNumPoints)(cube + 100, &count, 0);
  EXPECT_EQ(count, 0);
  HOST_FN(fxMeshNumPolys)(0, &count, 0);
  EXPECT_EQ(count, 0);
  EXPECT_NE(host.addObject("second", host_test::Cube()), cube);
}

TEST_F(MeshFunctions, PointWritesCurrentPositionOrNothing) {
  auto meshPoint = HOST_FN(fxMeshPoint);
  Vec3 p{-1, -1, -1};
  EXPECT_EQ(meshPoint(cube, 7, &p, 1), 1);
  EXPECT_EQ(p.x, 1.0);
  EXPECT_EQ(p.y, 1.0);
  EXPECT_EQ(p.z, 1.0);
  const Vec3 untouched{42, 43, 44};
  for (int32_t point : {-1, 8, 1 << 30}) {
    p = untouched;
    EXPECT_EQ(meshPoint(cube, point, &p, 1), 0);
    EXPECT_EQ(p.x, 42.0);
  }
  p = untouched;
  EXPECT_EQ(meshPoint(9999, 0, &p, 1), 0);
  EXPECT_EQ(p.z, 44.0);

  std::vector<Vec3> posed = mesh.points;
  posed[7] = {2, 3, 4};
  host.setPoints(cube, posed);
  meshPoint(cube, 7, &p, 1);
  EXPECT_EQ(p.y, 3.0);
  EXPECT_THROW(host.setPoints(cube, {{0, 0, 0}}), std::invalid_argument);
}

TEST_F(MeshFunctions, PolyWritesFullCountButAtMostCapacityPoints) {
  auto meshPoly = HOST_FN(fxMeshPoly);
  int32_t points[8];
  std::fill(std::begin(points), std::end(points), -7);
  int32_t count = 0, second = 99;
  EXPECT_EQ(meshPoly(cube, 6, points, 3, &count, &second, 0), 1);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(points[0], 0);
  EXPECT_EQ(points[2], 3);
  EXPECT_EQ(points[3], -7);  // beyond capacity: untouched

  EXPECT_EQ(meshPoly(cube, 6, points, 8, &count, &second, 0), 1);
  EXPECT_EQ(std::vector<int32_t>(points, points + 7), mesh.polygons[6]);
  EXPECT_EQ(points[7], -7);

  // Capacity 0 and null out-pointers are a count query
  EXPECT_EQ(meshPoly(cube, 0, nullptr, 0, &count, nullptr, 0), 1);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(meshPoly(cube, 0, points, 4, nullptr, nullptr, 0), 1);
  EXPECT_EQ(meshPoly(cube, 7, points, 8, &count, &second, 0), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(meshPoly(cube, -1, points, 8, &count, &second, 0), 0);
}

TEST_F(MeshFunctions, ObjectNameIsBoundedAndTerminated) {
  auto getName = HOST_FN(fxObjectGetName);
  char buffer[5];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(getName(cube, buffer, sizeof buffer, 0), 1);
  EXPECT_STREQ(buffer, "the ");
  char large[64];
  getName(cube, large, sizeof large, 0);
  EXPECT_STREQ(large, "the cube");
  EXPECT_EQ(getName(12345, large, sizeof large, 0), 0);
  EXPECT_STREQ(large, "");
  EXPECT_EQ(getName(cube, buffer, 0, 0), 0);
}

TEST_F(MeshFunctions, PointWeightOnlyForTheMapsOwnObject) {
  const uint32_t other = host.addObject("other", host_test::Cube());
  const uint32_t map = host.addWeightMap(cube, "w", {0, 0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 1});
  EXPECT_NE(map, cube);
  EXPECT_NE(map, other);
  EXPECT_EQ(host.object(map), nullptr);
  auto weight = HOST_FN(fxMeshPointWeight);
  float value = -1;
  EXPECT_EQ(weight(cube, 2, map, 5, &value, 0), 1);  // the map part is ignored
  EXPECT_EQ(value, 0.25f);
  const std::vector<std::tuple<uint32_t, int32_t, uint32_t>> wrong = {
      {other, 2, map}, {cube, 8, map}, {cube, -1, map}, {cube, 2, other}, {cube, 2, 0}};
  for (auto [object, point, mapId] : wrong) {
    value = -1;
    weight(object, point, mapId, 0, &value, 0);
    EXPECT_EQ(value, 0.0f) << object << " " << point << " " << mapId;
  }
  EXPECT_THROW(host.addWeightMap(cube, "short", {1, 2}), std::invalid_argument);
  EXPECT_THROW(host.addWeightMap(9999, "none", {}), std::invalid_argument);
}

TEST_F(MeshFunctions, DisplacementsApplyInsideTheBracketOnly) {
  auto begin = HOST_FN(fxDisplaceBegin);
  auto displace = HOST_FN(fxDisplacePoint);
  auto end = HOST_FN(fxDisplaceEnd);
  EXPECT_EQ(displace(cube, 0, 5, 5, 5), 0);
  EXPECT_EQ(host.displaceOutsideBracket(), 1);
  EXPECT_EQ(host.evaluatedPoints(cube)[0].x, 0.0);

  begin(cube, 0);
  // Many threads, each its own points
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int point = t; point < 8; point += 4) displace(cube, point, point, -point, 0.5);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(displace(cube, 8, 0, 0, 0), 0);
  end(cube, 0);
  auto evaluated = host.evaluatedPoints(cube);
  for (int point = 0; point < 8; ++point) {
    EXPECT_EQ(evaluated[point].x, point);
    EXPECT_EQ(evaluated[point].y, -point);
  }
  Vec3 rest;
  HOST_FN(fxMeshPoint)(cube, 7, &rest, 1);
  EXPECT_EQ(rest.x, 1.0);  // the module reads undisplaced positions

  // A new bracket starts from the undisplaced mesh
  begin(cube, 0);
  displace(cube, 3, 9, 9, 9);
  end(cube, 0);
  evaluated = host.evaluatedPoints(cube);
  EXPECT_EQ(evaluated[3].x, 9.0);
  EXPECT_EQ(evaluated[4].z, 1.0);
  EXPECT_EQ(host.displaceOutsideBracket(), 1);
}

TEST(SceneObjects, BadPolygonsAreRejected) {
  Host host;
  host::Mesh mesh = host_test::Cube();
  mesh.polygons.push_back({0, 1, 8});
  EXPECT_THROW(host.addObject("bad", mesh), std::invalid_argument);
  mesh.polygons.back() = {0, -1, 2};
  EXPECT_THROW(host.addObject("bad", mesh), std::invalid_argument);
  EXPECT_TRUE(host.objectIds().empty());
}

}  // namespace
