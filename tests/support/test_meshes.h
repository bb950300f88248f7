// Small meshes shared by the test suites and the fuzzers.
#pragma once

#include "host/host.h"

namespace test_support {

// The cube of half-size half around centre: 8 points, 6 outward-facing quads.
inline host::Mesh CubeMesh(double half = 1.0, Vec3 centre = {0, 0, 0}) {
  host::Mesh mesh;
  for (int i = 0; i < 8; ++i)
    mesh.points.push_back({centre.x + ((i & 1) ? half : -half), centre.y + ((i & 2) ? half : -half),
                           centre.z + ((i & 4) ? half : -half)});
  mesh.polygons = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  return mesh;
}

}  // namespace test_support
