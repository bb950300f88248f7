// Saving and loading scene files. A save never leaves a half-written file under
// the target name (host/file_replace.h); a load checks the whole file before it
// replaces the scene.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>

#include "host/file_replace.h"
#include "host/host_state.h"
#include "host/regular_file.h"
#include "host/scene_json.h"

namespace host {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& problem) {
  throw std::runtime_error("scene file " + path + ": " + problem);
}

// A base directory at or below the scene file's folder is stored relative
// to that folder ("." for the folder itself), so that a scene folder copied
// or moved elsewhere keeps naming its own files; any other is stored as it is.
std::string StoredBaseDirectory(const std::string& base, const std::string& scenePath) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::absolute(scenePath, error).parent_path().lexically_normal();
  const std::filesystem::path absolute = std::filesystem::absolute(base, error).lexically_normal();
  if (error || base.empty() || !std::filesystem::path(base).is_absolute()) return base;
  std::filesystem::path relative = absolute.lexically_relative(folder);
  if (relative.empty() || *relative.begin() == "..") return base;
  std::string text = relative.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// A relative base directory starts from the scene file's folder.
std::string LoadedBaseDirectory(const std::string& stored, const std::string& scenePath) {
  if (stored.empty() || std::filesystem::path(stored).is_absolute()) return stored;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::absolute(scenePath, error).parent_path();
  std::string text = (folder / stored).lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

void Host::saveScene(const std::string& path) {
  State& s = *state_;
  // The module writes its formats in answer to the save message
  if (s.callback)
    for (uint32_t id : effectIds()) SendSave(*this, id);

  SceneContent scene;
  scene.baseDirectory = StoredBaseDirectory(s.baseDirectory, path);
  scene.hasBaseDirectory = true;
  for (uint32_t id : s.objectOrder) {
    const Object& source = *s.objectAt(id);
    Object& copy = scene.objects.emplace_back();
    copy.id = source.id;
    copy.name = source.name;
    copy.source = source.source;
    copy.mesh = source.mesh;
  }
  for (uint32_t id : s.weightMapOrder) scene.weightMaps.push_back(*s.weightMapAt(id));
  for (const auto& [id, item] : s.effects) scene.effects.push_back({id, item->targets, item->formats});
  const std::string text = SceneToJson(scene).dump(1) + "\n";

  const ReplaceResult saved = ReplaceFile(path, path + ".saving", text);
  const std::string reason = saved.reason.message();
  switch (saved.failed) {
    case ReplaceStep::kNone:
      return;
    case ReplaceStep::kCreate:
      Fail(path, "cannot create " + path + ": " + reason);
    case ReplaceStep::kWrite:
      Fail(path, "cannot write " + path + ": " + reason);
    case ReplaceStep::kMove:
      Fail(path, "cannot replace the file: " + reason);
  }
}

void Host::loadScene(const std::string& path) {
  std::string problem;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(OpenRegularFile(path, &problem), &std::fclose);
  if (!in) Fail(path, problem);
  std::string text;
  std::error_code sizeError;
  const auto size = std::filesystem::file_size(path, sizeError);
  if (!sizeError) text.reserve(static_cast<size_t>(size));
  char block[1 << 16];
  for (size_t n; (n = std::fread(block, 1, sizeof block, in.get())) > 0;) text.append(block, n);
  if (std::ferror(in.get())) Fail(path, "cannot be read");

  if (text.find_first_not_of(" \t\r\n") == std::string::npos) Fail(path, "is empty");

  nlohmann::json root;
  try {
    root = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    Fail(path, JsonProblem(text, e));
  }
  SceneContent scene;
  try {
    scene = SceneFromJson(root);
    for (const Object& object : scene.objects) CheckMesh(object.mesh, "object " + std::to_string(object.id));
  } catch (const nlohmann::json::exception&) {
    // SceneFromJson checks each value's kind before reading it; the reader's
    // own words never reach the user.
    Fail(path, "holds a value of a kind the scene does not take");
  } catch (const std::exception& e) {
    Fail(path, e.what());
  }

  // From here on the file is known to be good: replace the scene
  State& s = *state_;
  // The panel of an item the file brings back (the same id) stays its own.
  std::set<uint32_t> returning;
  for (const auto& effect : scene.effects) returning.insert(effect.id);
  for (uint32_t id : effectIds()) {
    SendDestroy(*this, id);
    s.forgetEffect(id, returning.count(id) != 0);
  }
  s.objects.clear();
  s.weightMaps.clear();
  s.objectOrder.clear();
  s.weightMapOrder.clear();
  if (scene.hasBaseDirectory) s.baseDirectory = LoadedBaseDirectory(scene.baseDirectory, path);
  for (Object& object : scene.objects) {
    const uint32_t id = object.id;
    auto record = std::make_unique<ObjectRecord>();
    record->object = std::move(object);
    ResetDisplacements(record->object);
    s.objects.put(id, std::move(record));
    s.objectOrder.push_back(id);
    s.reserveId(id);
  }
  for (WeightMap& map : scene.weightMaps) {
    const uint32_t id = map.id;
    s.weightMaps.put(id, std::make_unique<WeightMap>(std::move(map)));
    s.weightMapOrder.push_back(id);
    s.reserveId(id);
  }
  for (const auto& effect : scene.effects) s.reserveId(effect.id);
  for (auto& effect : scene.effects) {
    auto item = std::make_unique<EffectItem>();
    item->id = effect.id;
    item->targets = effect.targets;
    EffectItem& created = *(s.effects[effect.id] = std::move(item));
    SendCreate(*this, effect.id);
    created.formats = std::move(effect.formats);
    SendLoad(*this, effect.id);
  }
}

}  // namespace host
