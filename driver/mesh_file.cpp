#include "driver/mesh_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/user_error.h"
#include "host/regular_file.h"

namespace driver {

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File OpenReadable(const std::string& path) {
  std::string problem;
  File file(host::OpenRegularFile(path, &problem), &std::fclose);
  if (!file) throw UserError(ErrorKind::kInput, path, problem);
  return file;
}

}  // namespace

void CheckReadableFile(const std::string& path) { OpenReadable(path); }

std::string ReadTextFile(const std::string& path) {
  const File file = OpenReadable(path);
  std::string text;
  char block[1 << 16];
  for (size_t n; (n = std::fread(block, 1, sizeof block, file.get())) > 0;) text.append(block, n);
  if (std::ferror(file.get())) throw UserError(ErrorKind::kInput, path, "cannot be read");
  return text;
}

host::ObjFile ReadMeshFile(const std::string& path) {
  host::ObjFile file;
  try {
    CheckReadableFile(path);
    file = host::ReadObjFile(path);
  } catch (const host::ObjError& e) {
    throw UserError(ErrorKind::kInput, e.line != 0 ? path + ":" + std::to_string(e.line) : path, e.problem);
  }
  if (file.mesh.points.empty()) throw UserError(ErrorKind::kInput, path, "the mesh has no points");
  if (file.mesh.polygons.empty()) throw UserError(ErrorKind::kInput, path, "the mesh has no polygons");
  return file;
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) throw UserError(ErrorKind::kOutput, path, std::string("cannot be created: ") + std::strerror(errno));
  // The system's reason, from the write or else from the close (a full disk
  // often shows only when the buffered rest is flushed).
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  const int writeError = written ? 0 : errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed)
    throw UserError(ErrorKind::kOutput, path,
                    std::string("cannot be written: ") + std::strerror(written ? errno : writeError));
}

void CheckSameFaces(const host::ObjFile& pose, const host::Mesh& cage) {
  const std::vector<std::vector<int32_t>>& faces = pose.mesh.polygons;
  for (size_t j = 0; j < faces.size() && j < cage.polygons.size(); ++j) {
    if (faces[j] == cage.polygons[j]) continue;
    throw UserError(ErrorKind::kInput, pose.path + ":" + std::to_string(pose.polygonLines[j]),
                    "face " + std::to_string(j + 1) + " differs from the bound cage's: a posed cage must keep the "
                    "cage's faces, corner for corner");
  }
}

}  // namespace driver
