// The materials of a deformed OBJ file: its "mtllib" lines name material
// libraries relative to the file's folder, and a library names its textures
// relative to its own. A deformed copy written into another folder either
// names the target's libraries from there (relinked), or takes copies of
// them and their textures along (--copy-materials), so that an importer finds
// the materials either way.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace cli {

// The material library names on the "mtllib" lines of an OBJ file's text, in
// order, as written. A line's names are split at white space, unless the
// whole of it names a file in folder (a name with spaces in it).
std::vector<std::string> MaterialLibraryNames(const std::string& objText, const std::filesystem::path& folder);

// The text with every name on its "mtllib" lines replaced by newName(name)
// (split as MaterialLibraryNames splits them); everything else byte for byte.
std::string RenameMaterialLibraries(const std::string& objText, const std::filesystem::path& folder,
                                    const std::function<std::string(const std::string&)>& newName);

// The text of an OBJ file read from folder `from`, its relative "mtllib"
// names rewritten to lead from folder `to` to the same files ("/" between
// parts); unchanged when the two are the same folder.
std::string RelinkMaterials(const std::string& objText, const std::filesystem::path& from,
                            const std::filesystem::path& to);

// One file that --copy-materials writes beside the outputs.
struct MaterialCopy {
  std::filesystem::path source, destination;
  // For a library whose texture names were rewritten (a texture outside its
  // folder goes beside it): the text to write instead of the source's bytes.
  std::string text;
  bool rewritten = false;
};

struct MaterialCopies {
  std::vector<MaterialCopy> files;
  // The OBJ file's text with the libraries that could not keep their names
  // (absolute, or outside the file's folder) renamed to the copies beside
  // it; the same text when every name stays.
  std::string objText;
  // Libraries and textures named but not there: not copied.
  std::vector<std::string> warnings;
};

// What copying the materials of the OBJ file at objPath (its text objText)
// into folder `to` takes: each library it names, and each texture those name,
// at the same relative name below `to` when that stays inside it, else beside
// it under its own file name. A file that is already where it would go is not
// copied. Throws nothing: what cannot be read becomes a warning.
MaterialCopies PlanMaterialCopies(const std::string& objText, const std::filesystem::path& objPath,
                                  const std::filesystem::path& to);

}  // namespace cli
