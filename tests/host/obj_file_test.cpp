// OBJ reading and writing.
#include <gtest/gtest.h>

#include <fstream>

#include "host_test_support.h"

namespace {

std::string WriteText(const std::string& name, const std::string& text) {
  const std::string path = host_test::TempPath(name);
  std::ofstream(path) << text;
  return path;
}

TEST(ObjFile, WrittenMeshReadsBackWithPolygonsKept) {
  host::Mesh mesh = host_test::Cube(0.5);
  mesh.points.push_back({-1.25, 3.75, 1024});
  mesh.polygons.push_back({0, 1, 8, 3, 2});  // a pentagon stays a pentagon
  const std::string path = host_test::TempPath("round_trip.obj");
  host::WriteObj(path, mesh);
  const host::Mesh read = host::ReadObj(path);
  ASSERT_EQ(read.points.size(), mesh.points.size());
  for (size_t i = 0; i < mesh.points.size(); ++i) {
    EXPECT_EQ(read.points[i].x, mesh.points[i].x);
    EXPECT_EQ(read.points[i].y, mesh.points[i].y);
    EXPECT_EQ(read.points[i].z, mesh.points[i].z);
  }
  EXPECT_EQ(read.polygons, mesh.polygons);
}

TEST(ObjFile, ShapesAreConcatenatedAndExtrasIgnored) {
  const std::string path = WriteText("two_shapes.obj",
                                     "# two shapes\n"
                                     "o first\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n"
                                     "o second\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nvt 0 0\nf -4 -3/1 -2 -1\n");
  const host::Mesh mesh = host::ReadObj(path);
  EXPECT_EQ(mesh.points.size(), 7u);
  EXPECT_EQ(mesh.polygons, (std::vector<std::vector<int32_t>>{{0, 1, 2}, {3, 4, 5, 6}}));
}

TEST(ObjFile, BadFilesNameTheFile) {
  const std::string missing = host_test::TempPath("missing.obj");
  const std::string badIndex = WriteText("bad_index.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n");
  for (const std::string& path : {missing, badIndex}) {
    try {
      host::ReadObj(path);
      ADD_FAILURE() << path << " was read";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  host::Host host;
  EXPECT_THROW(host.addObjectFromObj(missing), std::runtime_error);
  EXPECT_TRUE(host.objectIds().empty());
  EXPECT_THROW(host::WriteObj("/nonexistent/dir/out.obj", host_test::Cube()), std::runtime_error);
}

TEST(ObjFile, ObjectFromFileIsNamedAfterIt) {
  const std::string path = WriteText("quad_mesh.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  host::Host host;
  const uint32_t id = host.addObjectFromObj(path);
  EXPECT_EQ(host.object(id)->name, "quad_mesh");
  EXPECT_EQ(host.object(host.addObjectFromObj(path, "named"))->name, "named");
}

}  // namespace
