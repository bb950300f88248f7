#include "driver/mesh_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "driver/user_error.h"

namespace driver {

void CheckReadableFile(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) throw UserError(path, "no such file");
  if (std::filesystem::is_directory(status)) throw UserError(path, "is a folder, not a file");
  if (!std::ifstream(path, std::ios::binary))
    throw UserError(path, std::string("cannot be opened: ") + std::strerror(errno));
}

std::string ReadTextFile(const std::string& path) {
  CheckReadableFile(path);
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in || in.bad()) throw UserError(path, "cannot be read");
  return text.str();
}

host::ObjFile ReadMeshFile(const std::string& path) {
  host::ObjFile file;
  try {
    CheckReadableFile(path);
    file = host::ReadObjFile(path);
  } catch (const host::ObjError& e) {
    throw UserError(e.line != 0 ? path + ":" + std::to_string(e.line) : path, e.problem);
  }
  if (file.mesh.points.empty()) throw UserError(path, "the mesh has no points");
  if (file.mesh.polygons.empty()) throw UserError(path, "the mesh has no polygons");
  return file;
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) throw UserError(path, std::string("cannot be created: ") + std::strerror(errno));
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  if (std::fclose(file.release()) != 0 || !written) throw UserError(path, "cannot be written");
}

void CheckSameFaces(const host::ObjFile& pose, const host::Mesh& cage) {
  const std::vector<std::vector<int32_t>>& faces = pose.mesh.polygons;
  for (size_t j = 0; j < faces.size() && j < cage.polygons.size(); ++j) {
    if (faces[j] == cage.polygons[j]) continue;
    throw UserError(pose.path + ":" + std::to_string(pose.polygonLines[j]),
                    "face " + std::to_string(j + 1) + " differs from the bound cage's: a posed cage must keep the "
                    "cage's faces, corner for corner");
  }
}

}  // namespace driver
