#include "cli/mesh_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

#include "cli/user_error.h"

namespace cli {
namespace {

// Every statement of the OBJ format. Only "v" and "f" matter here; the others
// are allowed and left to the reader.
const std::set<std::string, std::less<>> kStatements = {
    "v",     "vt",    "vn",       "vp",       "f",      "fo",     "l",    "p",          "g",         "o",
    "s",     "mg",    "usemtl",   "mtllib",   "maplib", "usemap", "lod",  "shadow_obj", "trace_obj", "ctech",
    "stech", "bevel", "c_interp", "d_interp", "cstype", "deg",    "bmat", "step",       "curv",      "curv2",
    "surf",  "parm",  "trim",     "hole",     "scrv",   "sp",     "end",  "con",        "call",      "csh"};

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// Whether the whole token is one finite number (stored in *value).
bool FiniteNumber(std::string_view token, double* value) {
  std::string text(token);
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && !text.empty() && std::isfinite(*value);
}

std::string Quoted(std::string_view token) {
  constexpr size_t kShown = 24;
  std::string shown;
  for (char c : token.substr(0, kShown)) shown += (c >= 32 && c < 127) ? c : '?';
  return "\"" + shown + (token.size() > kShown ? "..." : "") + "\"";
}

void CheckStatements(const std::string& path, const std::string& text) {
  std::istringstream in(text);
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    const auto tokens = Tokens(line);
    if (tokens.empty() || tokens[0][0] == '#') continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (!kStatements.count(tokens[0])) throw UserError(path, where + "not an OBJ statement: " + Quoted(tokens[0]));
    if (tokens[0] == "v") {
      // x y z, optionally w or a colour (r g b)
      if (tokens.size() < 4) throw UserError(path, where + "a vertex needs three coordinates");
      if (tokens.size() > 8) throw UserError(path, where + "a vertex has too many values");
      for (size_t k = 1; k < tokens.size(); ++k) {
        double value;
        if (!FiniteNumber(tokens[k], &value))
          throw UserError(path, where + "coordinate " + Quoted(tokens[k]) + " is not a finite number");
      }
    } else if (tokens[0] == "f" && tokens.size() < 4) {
      throw UserError(path, where + "a face needs at least three corners");
    }
  }
}

}  // namespace

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

host::Mesh ReadMeshFile(const std::string& path) {
  CheckStatements(path, ReadTextFile(path));
  host::Mesh mesh;
  try {
    mesh = host::ReadObj(path);
  } catch (const std::exception& e) {
    std::string problem = WithoutPrefix(OneLine(e.what()), "OBJ file " + path + ": ");
    const std::string unnamedShape = " of shape \"\"";
    if (auto at = problem.find(unnamedShape); at != std::string::npos) problem.erase(at, unnamedShape.size());
    throw UserError(path, problem);
  }
  if (mesh.points.empty()) throw UserError(path, "the mesh has no points");
  if (mesh.polygons.empty()) throw UserError(path, "the mesh has no polygons");
  for (size_t i = 0; i < mesh.points.size(); ++i) {
    const Vec3& p = mesh.points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      throw UserError(path, "vertex " + std::to_string(i + 1) + " is not finite");
  }
  return mesh;
}

}  // namespace cli
