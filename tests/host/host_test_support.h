// Helpers for the host stand-in's tests: host functions reached the way the
// module reaches them (through the lookup), and small meshes.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/host.h"
#include "ostrand/host_api.h"
#include "ostrand/protocol.h"

namespace host_test {

// The host function of that name as the module would get it.
template <typename Fn>
Fn Resolve(const char* name, uint32_t group = 0) {
  return reinterpret_cast<Fn>(host::Host::lookupFunction()(name, group));
}
#define HOST_FN(name) ::host_test::Resolve<name##_fn>(#name)

inline host::Mesh Cube(double size = 1.0) {
  host::Mesh mesh;
  for (int i = 0; i < 8; ++i) mesh.points.push_back({(i & 1) * size, ((i >> 1) & 1) * size, ((i >> 2) & 1) * size});
  mesh.polygons = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  return mesh;
}

inline double Length(const Vec3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
inline Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 CrossProduct(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// A fresh file name in the test's temporary directory.
inline std::string TempPath(const std::string& name) {
  auto directory = std::filesystem::temp_directory_path() / "ostrand_host_tests";
  std::filesystem::create_directories(directory);
  return (directory / name).string();
}

// The text the host stand-in records for fxModuleAccess(message, word, 0).
inline std::string AccessText(int32_t message, uint32_t word) {
  char text[64];
  std::snprintf(text, sizeof text, "fxModuleAccess(%d, 0x%x, 0)", message, word);
  return text;
}

}  // namespace host_test
