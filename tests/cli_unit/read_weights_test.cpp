// Weights read from a file that hold points without any weight (as a bind by
// the module alone leaves them, or another program's file): deforming never
// hands those points to the user at the origin, where the module puts them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "cli/job.h"
#include "driver/mesh_file.h"
#include "driver/session.h"
#include "driver/user_error.h"
#include "host/obj_file.h"

namespace {

namespace fs = std::filesystem;

// A flat quad as the cage: the two points above it bind, the two far beside
// it get no weights.
void WriteFile(const fs::path& path, const char* text) { std::ofstream(path) << text; }

TEST(ReadWeightsWithoutRows, DeformRefusesThemOrKeepsThosePointsAtRest) {
  const fs::path dir = fs::temp_directory_path() / ("ostrand-read-weights-" + std::to_string(std::random_device{}()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  WriteFile(dir / "quad.obj", "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nf 1 2 3 4\n");
  WriteFile(dir / "raised.obj", "v -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\nf 1 2 3 4\n");
  WriteFile(dir / "target.obj", "v 0 0 0.5\nv 0.2 0.1 0.3\nv 50 0 0.5\nv 0 60 1\nf 1 2 3\nf 2 3 4\n");
  {
    driver::Session session(OSTRAND_MODULE_PATH, [](const host::Progress&) {});
    session.addObjects(driver::ReadMeshFile((dir / "quad.obj").string()).mesh, "quad",
                       driver::ReadMeshFile((dir / "target.obj").string()).mesh, "target");
    session.calculate({32, 0.0, 0}, "target");
    session.saveWeights((dir / "w.cw").string());
  }

  cli::Job job;
  job.module = OSTRAND_MODULE_PATH;
  job.quiet = true;
  job.weightsFile = (dir / "w.cw").string();
  job.cage = (dir / "quad.obj").string();
  job.target = (dir / "target.obj").string();
  job.poses = {(dir / "raised.obj").string()};
  job.output = (dir / "out").string();
  try {
    cli::RunJob(job);
    ADD_FAILURE() << "points without weights were deformed";
  } catch (const driver::UserError& e) {
    EXPECT_NE(std::string(e.what()).find("w.cw: 2 of 4 points got no weights: 3, 4 (likely cause: "),
              std::string::npos)
        << e.what();
    EXPECT_EQ(e.kind(), driver::ErrorKind::kRefused);
  }
  EXPECT_FALSE(fs::exists(dir / "out"));

  job.allowUnbound = true;
  cli::RunJob(job);
  const host::ObjFile deformed = host::ReadObjFile((dir / "out" / "deformed-raised.obj").string());
  const host::ObjFile rest = host::ReadObjFile((dir / "target.obj").string());
  ASSERT_EQ(deformed.mesh.points.size(), 4u);
  for (size_t i : {2u, 3u}) {
    EXPECT_EQ(deformed.mesh.points[i].x, rest.mesh.points[i].x);
    EXPECT_EQ(deformed.mesh.points[i].y, rest.mesh.points[i].y);
    EXPECT_EQ(deformed.mesh.points[i].z, rest.mesh.points[i].z);
  }
  EXPECT_NEAR(deformed.mesh.points[0].z, 1.0, 1e-6);  // bound: follows the quad up
  fs::remove_all(dir);
}

}  // namespace
