#include "cli/materials.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>

#include "cli/frame_outputs.h"
#include "driver/mesh_file.h"
#include "driver/user_error.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Calls visit(begin, end) for each line of text, without its line ending.
template <typename Visit>
void ForEachLine(const std::string& text, Visit visit) {
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find('\n', begin);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) end = text.size();
    if (end > begin && text[end - 1] == '\r') --end;
    visit(begin, end);
    begin = next;
  }
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

// Bytes [begin, end) of a line's text after its keyword, trimmed; a comment
// after a '#' is left out. keyword is the line's first word, lower case.
struct Statement {
  std::string keyword;
  size_t begin = 0, end = 0;
};
Statement ReadStatement(const std::string& text, size_t begin, size_t end) {
  Statement s;
  size_t i = begin;
  while (i < end && IsBlank(text[i])) ++i;
  const size_t word = i;
  while (i < end && !IsBlank(text[i])) ++i;
  s.keyword = Lower(std::string_view(text).substr(word, i - word));
  while (i < end && IsBlank(text[i])) ++i;
  size_t last = text.find('#', i);
  last = last == std::string::npos || last > end ? end : last;
  while (last > i && IsBlank(text[last - 1])) --last;
  s.begin = i;
  s.end = last;
  return s;
}

// The names a "mtllib" line's text holds, with where each is in text.
struct Name {
  std::string name;
  size_t begin, end;
};
std::vector<Name> LibraryNames(const std::string& text, const Statement& line, const fs::path& folder) {
  std::vector<Name> names;
  if (line.end <= line.begin) return names;
  const std::string whole = text.substr(line.begin, line.end - line.begin);
  std::error_code error;
  if (whole.find_first_of(" \t") != std::string::npos && fs::is_regular_file(folder / whole, error))
    return {{whole, line.begin, line.end}};
  for (size_t i = line.begin; i < line.end;) {
    while (i < line.end && IsBlank(text[i])) ++i;
    const size_t start = i;
    while (i < line.end && !IsBlank(text[i])) ++i;
    if (i > start) names.push_back({text.substr(start, i - start), start, i});
  }
  return names;
}

// The statements of a material library that name a texture file.
bool NamesTexture(const std::string& keyword) {
  static const std::set<std::string> kTextures = {"map_ka", "map_kd", "map_ks", "map_ke", "map_ns", "map_d",
                                                  "map_tr", "map_bump", "bump", "disp", "decal", "refl",
                                                  "map_pr", "map_pm", "map_ps", "map_rma", "map_orm", "norm"};
  return kTextures.count(keyword) != 0;
}

// Where a texture statement's file name starts: after its options
// ("-s 1 1 1", "-bm 0.5", "-clamp on"), each with the values it takes.
size_t TextureNameStart(const std::string& text, const Statement& line) {
  static const std::map<std::string, int> kValues = {
      {"-blendu", 1}, {"-blendv", 1}, {"-cc", 1},  {"-clamp", 1}, {"-bm", 1}, {"-boost", 1},
      {"-texres", 1}, {"-imfchan", 1}, {"-type", 1}, {"-mm", 2},    {"-o", 3},  {"-s", 3}, {"-t", 3}};
  size_t i = line.begin;
  auto token = [&](size_t& at) {
    while (at < line.end && IsBlank(text[at])) ++at;
    const size_t start = at;
    while (at < line.end && !IsBlank(text[at])) ++at;
    return text.substr(start, at - start);
  };
  for (;;) {
    size_t at = i;
    const auto option = kValues.find(Lower(token(at)));
    if (option == kValues.end()) break;
    // -o, -s and -t take one to three numbers; the others a fixed count.
    for (int k = 0; k < option->second; ++k) {
      size_t after = at;
      const std::string value = token(after);
      char* end = nullptr;
      const bool number = !value.empty() && (std::strtod(value.c_str(), &end), *end == '\0');
      if (option->second == 3 && k > 0 && !number) break;
      at = after;
    }
    i = at;
  }
  while (i < line.end && IsBlank(text[i])) ++i;
  return i;
}

// Where a file named `name` relative to a file in folder goes below `to`:
// at the same relative name when that stays inside, else beside under its
// own name. renamed says which.
fs::path Destination(const std::string& name, const fs::path& to, bool& renamed) {
  renamed = !StaysInside(name);
  return renamed ? to / fs::path(name).filename() : to / name;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

class CopyPlanner {
 public:
  explicit CopyPlanner(MaterialCopies& copies) : copies_(copies) {}

  // Plans copying source to destination; false when nothing is to be copied
  // (the file is already there, or another file goes there).
  bool add(MaterialCopy copy, const std::string& named) {
    if (SameFile(copy.source, copy.destination)) return false;
    const auto [it, added] = planned_.emplace(copy.destination.lexically_normal(), copy.source);
    if (!added) {
      if (!SameFile(it->second, copy.source))
        copies_.warnings.push_back(named + ": not copied: " + copy.destination.string() + " is taken by " +
                                   it->second.string());
      return false;
    }
    copies_.files.push_back(std::move(copy));
    return true;
  }

 private:
  MaterialCopies& copies_;
  std::map<fs::path, fs::path> planned_;
};

// Plans the copy of one library and its textures.
void PlanLibrary(const fs::path& source, const fs::path& destination, CopyPlanner& planner, MaterialCopies& copies) {
  std::string text;
  try {
    text = driver::ReadTextFile(source.string());
  } catch (const driver::UserError& e) {
    copies.warnings.push_back(std::string(e.what()) + ": not copied");
    return;
  }
  MaterialCopy library{source, destination, {}, false};
  std::string rewritten;
  size_t copied = 0;
  std::vector<MaterialCopy> textures;
  ForEachLine(text, [&](size_t begin, size_t end) {
    const Statement line = ReadStatement(text, begin, end);
    if (!NamesTexture(line.keyword)) return;
    const size_t start = TextureNameStart(text, line);
    if (start >= line.end) return;
    const std::string name = text.substr(start, line.end - start);
    const fs::path file = fs::path(name).is_absolute() ? fs::path(name) : source.parent_path() / name;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
      copies.warnings.push_back(source.string() + ": the texture \"" + name + "\" is not there (" + file.string() +
                                "): not copied");
      return;
    }
    bool renamed = false;
    textures.push_back({file, Destination(name, destination.parent_path(), renamed), {}, false});
    if (renamed) {
      rewritten += text.substr(copied, start - copied) + fs::path(name).filename().string();
      copied = line.end;
      library.rewritten = true;
    }
  });
  if (library.rewritten) library.text = rewritten + text.substr(copied);
  if (!planner.add(std::move(library), source.string())) {
    // Already where it goes: its textures are where it names them.
    return;
  }
  for (MaterialCopy& texture : textures) {
    const std::string named = texture.source.string();
    planner.add(std::move(texture), named);
  }
}

}  // namespace

std::vector<std::string> MaterialLibraryNames(const std::string& objText, const fs::path& folder) {
  std::vector<std::string> names;
  ForEachLine(objText, [&](size_t begin, size_t end) {
    const Statement line = ReadStatement(objText, begin, end);
    if (line.keyword != "mtllib") return;
    for (const Name& name : LibraryNames(objText, line, folder)) names.push_back(name.name);
  });
  return names;
}

std::string RenameMaterialLibraries(const std::string& objText, const fs::path& folder,
                                    const std::function<std::string(const std::string&)>& newName) {
  std::string out;
  size_t copied = 0;
  ForEachLine(objText, [&](size_t begin, size_t end) {
    const Statement line = ReadStatement(objText, begin, end);
    if (line.keyword != "mtllib") return;
    for (const Name& name : LibraryNames(objText, line, folder)) {
      out.append(objText, copied, name.begin - copied);
      out += newName(name.name);
      copied = name.end;
    }
  });
  if (copied == 0) return objText;
  out.append(objText, copied, std::string::npos);
  return out;
}

std::string RelinkMaterials(const std::string& objText, const fs::path& from, const fs::path& to) {
  std::error_code error;
  const fs::path source = fs::weakly_canonical(fs::absolute(from, error), error);
  const fs::path output = fs::weakly_canonical(fs::absolute(to, error), error);
  if (source == output) return objText;
  return RenameMaterialLibraries(objText, from, [&](const std::string& name) {
    if (fs::path(name).is_absolute()) return name;
    std::error_code failed;
    const fs::path relative = fs::weakly_canonical(source / name, failed).lexically_relative(output);
    return failed || relative.empty() ? name : relative.generic_string();
  });
}

MaterialCopies PlanMaterialCopies(const std::string& objText, const fs::path& objPath, const fs::path& to) {
  MaterialCopies copies;
  CopyPlanner planner(copies);
  const fs::path from = objPath.parent_path();
  for (const std::string& name : MaterialLibraryNames(objText, from)) {
    const fs::path source = fs::path(name).is_absolute() ? fs::path(name) : from / name;
    std::error_code error;
    if (!fs::is_regular_file(source, error)) {
      copies.warnings.push_back(objPath.string() + ": the material library \"" + name + "\" is not there (" +
                                source.string() + "): not copied");
      continue;
    }
    bool renamed = false;
    PlanLibrary(source, Destination(name, to, renamed), planner, copies);
  }
  copies.objText = RenameMaterialLibraries(objText, from, [](const std::string& name) {
    return StaysInside(name) ? name : fs::path(name).filename().string();
  });
  return copies;
}

}  // namespace cli
