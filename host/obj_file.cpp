// OBJ files: positions and faces only. Faces stay polygons (no triangulation);
// every shape of a file goes into one mesh, in file order.
#include <tiny_obj_loader.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "host/host.h"

namespace host {

Mesh ReadObj(const std::string& path) {
  tinyobj::ObjReaderConfig config;
  config.triangulate = false;
  config.vertex_color = false;
  tinyobj::ObjReader reader;
  if (!reader.ParseFromFile(path, config)) {
    std::string error = reader.Error();
    while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
    throw std::runtime_error("OBJ file " + path + ": " + (error.empty() ? "cannot be read" : error));
  }

  Mesh mesh;
  const auto& coordinates = reader.GetAttrib().vertices;
  if (coordinates.size() % 3 != 0) throw std::runtime_error("OBJ file " + path + ": incomplete vertex");
  for (size_t i = 0; i + 2 < coordinates.size(); i += 3)
    mesh.points.push_back({double(coordinates[i]), double(coordinates[i + 1]), double(coordinates[i + 2])});

  const auto pointCount = static_cast<int64_t>(mesh.points.size());
  for (const tinyobj::shape_t& shape : reader.GetShapes()) {
    size_t next = 0;
    for (size_t face = 0; face < shape.mesh.num_face_vertices.size(); ++face) {
      const size_t corners = shape.mesh.num_face_vertices[face];
      if (next + corners > shape.mesh.indices.size())
        throw std::runtime_error("OBJ file " + path + ": face " + std::to_string(face) + " of shape \"" +
                                 shape.name + "\" is incomplete");
      auto& polygon = mesh.polygons.emplace_back();
      for (size_t k = 0; k < corners; ++k) {
        const int index = shape.mesh.indices[next + k].vertex_index;
        if (index < 0 || index >= pointCount)
          throw std::runtime_error("OBJ file " + path + ": a face of shape \"" + shape.name +
                                   "\" refers to vertex " + std::to_string(index + 1) + " of " +
                                   std::to_string(pointCount));
        polygon.push_back(index);
      }
      next += corners;
    }
  }
  return mesh;
}

void WriteObj(const std::string& path, const Mesh& mesh) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) throw std::runtime_error("OBJ file " + path + ": cannot be created");
  bool ok = true;
  for (const Vec3& p : mesh.points) ok = ok && std::fprintf(file.get(), "v %.17g %.17g %.17g\n", p.x, p.y, p.z) > 0;
  for (const auto& polygon : mesh.polygons) {
    ok = ok && std::fputc('f', file.get()) != EOF;
    for (int32_t point : polygon) ok = ok && std::fprintf(file.get(), " %d", point + 1) > 0;
    ok = ok && std::fputc('\n', file.get()) != EOF;
  }
  if (std::fclose(file.release()) != 0 || !ok) throw std::runtime_error("OBJ file " + path + ": cannot be written");
}

}  // namespace host
