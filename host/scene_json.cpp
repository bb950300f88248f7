// Conversion between scene content and its JSON form, with the checks that let
// a bad file fail before anything of the current scene is touched.
#include "host/scene_json.h"

#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

#include "host/host_state.h"

namespace host {

using nlohmann::json;

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
  throw std::runtime_error(where + ": " + problem);
}

json DoubleJson(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

json ValueJson(const std::string& key, const NamedValue& value) {
  static const char* const kTypes[] = {"int", "double", "object", "weight", "string"};
  json entry = {{"key", key}, {"type", kTypes[value.index()]}};
  std::visit(
      [&entry](const auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, double>) entry["value"] = DoubleJson(v);
        else entry["value"] = v;
      },
      value);
  return entry;
}

const json& Member(const json& object, const char* key, const std::string& where) {
  if (!object.is_object()) Fail(where, "is not a JSON object");
  auto found = object.find(key);
  if (found == object.end()) Fail(where, std::string("has no \"") + key + "\"");
  return *found;
}

const json& Array(const json& value, const std::string& where) {
  if (!value.is_array()) Fail(where, "is not an array");
  return value;
}

double ReadDouble(const json& value, const std::string& where) {
  if (value.is_number()) return value.get<double>();
  if (value == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (value == "inf") return std::numeric_limits<double>::infinity();
  if (value == "-inf") return -std::numeric_limits<double>::infinity();
  Fail(where, "is not a number");
}

int64_t ReadInteger(const json& value, int64_t low, int64_t high, const std::string& where) {
  if (!value.is_number_integer()) Fail(where, "is not an integer");
  const int64_t number = value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(high)
                             ? high + 1 : value.get<int64_t>();
  if (number < low || number > high)
    Fail(where, std::to_string(number) + " is out of range [" + std::to_string(low) + ", " +
                    std::to_string(high) + "]");
  return number;
}

uint32_t ReadId(const json& value, const std::string& where) {
  return static_cast<uint32_t>(ReadInteger(value, 1, kMaxId - 1, where));
}

std::string ReadString(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "is not a string");
  return value.get<std::string>();
}

NamedValue ReadValue(const json& entry, const std::string& where) {
  const std::string type = ReadString(Member(entry, "type", where), where + " type");
  const json& value = Member(entry, "value", where);
  const std::string at = where + " value";
  constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min(), kInt32Max = std::numeric_limits<int32_t>::max();
  if (type == "int") return static_cast<int32_t>(ReadInteger(value, kInt32Min, kInt32Max, at));
  if (type == "double") return ReadDouble(value, at);
  if (type == "object") return static_cast<uint32_t>(ReadInteger(value, 0, std::numeric_limits<uint32_t>::max(), at));
  if (type == "string") return ReadString(value, at);
  if (type == "weight") {
    if (!value.is_array() || value.size() != 3) Fail(at, "is not an array of three integers");
    std::array<int32_t, 3> weight;
    for (int i = 0; i < 3; ++i) weight[i] = static_cast<int32_t>(ReadInteger(value[i], kInt32Min, kInt32Max, at));
    return weight;
  }
  Fail(where, "has unknown type \"" + type + "\"");
}

Object ReadObject(const json& entry, const std::string& where) {
  Object object;
  object.id = ReadId(Member(entry, "id", where), where + " id");
  const std::string at = "object " + std::to_string(object.id);
  object.name = ReadString(Member(entry, "name", at), at + " name");
  for (const json& point : Array(Member(entry, "points", at), at + " points")) {
    if (!point.is_array() || point.size() != 3) Fail(at, "has a point that is not [x, y, z]");
    object.mesh.points.push_back({ReadDouble(point[0], at + " point"), ReadDouble(point[1], at + " point"),
                                  ReadDouble(point[2], at + " point")});
  }
  const int64_t last = static_cast<int64_t>(object.mesh.points.size()) - 1;
  for (const json& polygon : Array(Member(entry, "polygons", at), at + " polygons")) {
    auto& numbers = object.mesh.polygons.emplace_back();
    for (const json& number : Array(polygon, at + " polygon"))
      numbers.push_back(static_cast<int32_t>(ReadInteger(number, 0, last, at + " polygon point")));
  }
  return object;
}

}  // namespace

json SceneToJson(const SceneContent& scene) {
  json objects = json::array(), maps = json::array(), effects = json::array();
  for (const Object& object : scene.objects) {
    json points = json::array();
    for (const Vec3& p : object.mesh.points) points.push_back({DoubleJson(p.x), DoubleJson(p.y), DoubleJson(p.z)});
    objects.push_back(
        {{"id", object.id}, {"name", object.name}, {"points", points}, {"polygons", object.mesh.polygons}});
  }
  for (const WeightMap& map : scene.weightMaps) {
    json values = json::array();
    for (float v : map.values) values.push_back(DoubleJson(v));
    maps.push_back({{"id", map.id}, {"object", map.object}, {"name", map.name}, {"values", values}});
  }
  for (const auto& effect : scene.effects) {
    json formats = json::array();
    for (const auto& [name, format] : effect.formats) {
      json values = json::array();
      for (const auto& [key, value] : format.values) values.push_back(ValueJson(key, value));
      formats.push_back({{"name", name}, {"values", values}});
    }
    effects.push_back({{"id", effect.id}, {"targets", effect.targets}, {"formats", formats}});
  }
  return {{"orreryScene", 1}, {"baseDirectory", scene.baseDirectory}, {"objects", objects},
          {"weightMaps", maps}, {"effects", effects}};
}

SceneContent SceneFromJson(const json& root) {
  SceneContent scene;
  if (!root.is_object()) Fail("the file", "is not a JSON object");
  if (ReadInteger(Member(root, "orreryScene", "the file"), 0, 1000, "the scene version") != 1)
    Fail("the file", "has a scene version other than 1");
  if (auto found = root.find("baseDirectory"); found != root.end()) {
    scene.baseDirectory = ReadString(*found, "baseDirectory");
    scene.hasBaseDirectory = true;
  }
  std::set<uint32_t> ids;
  auto claim = [&ids](uint32_t id, const std::string& what) {
    if (!ids.insert(id).second) Fail(what, "reuses id " + std::to_string(id));
  };
  std::map<uint32_t, size_t> pointCounts;

  for (const json& entry : Array(Member(root, "objects", "the file"), "objects")) {
    Object object = ReadObject(entry, "an object");
    claim(object.id, "object " + object.name);
    pointCounts[object.id] = object.mesh.points.size();
    scene.objects.push_back(std::move(object));
  }
  for (const json& entry : Array(Member(root, "weightMaps", "the file"), "weightMaps")) {
    WeightMap map;
    map.id = ReadId(Member(entry, "id", "a weight map"), "a weight map id");
    const std::string at = "weight map " + std::to_string(map.id);
    claim(map.id, at);
    map.object = ReadId(Member(entry, "object", at), at + " object");
    map.name = ReadString(Member(entry, "name", at), at + " name");
    auto owner = pointCounts.find(map.object);
    if (owner == pointCounts.end()) Fail(at, "belongs to no object of the file (" + std::to_string(map.object) + ")");
    for (const json& value : Array(Member(entry, "values", at), at + " values"))
      map.values.push_back(static_cast<float>(ReadDouble(value, at + " value")));
    if (map.values.size() != owner->second)
      Fail(at, "has " + std::to_string(map.values.size()) + " values for " + std::to_string(owner->second) + " points");
    scene.weightMaps.push_back(std::move(map));
  }
  for (const json& entry : Array(Member(root, "effects", "the file"), "effects")) {
    SceneContent::Effect effect;
    effect.id = ReadId(Member(entry, "id", "an effect"), "an effect id");
    const std::string at = "effect " + std::to_string(effect.id);
    claim(effect.id, at);
    for (const json& target : Array(Member(entry, "targets", at), at + " targets")) {
      const uint32_t id = ReadId(target, at + " target");
      if (!pointCounts.count(id)) Fail(at, "targets object " + std::to_string(id) + ", which the file does not have");
      effect.targets.push_back(id);
    }
    for (const json& format : Array(Member(entry, "formats", at), at + " formats")) {
      const std::string name = ReadString(Member(format, "name", at + " format"), at + " format name");
      const std::string where = at + " format \"" + name + "\"";
      if (effect.formats.count(name)) Fail(where, "appears twice");
      Format& stored = effect.formats[name];
      stored.name = name;
      for (const json& value : Array(Member(format, "values", where), where + " values")) {
        const std::string key = ReadString(Member(value, "key", where), where + " key");
        if (stored.find(key)) Fail(where, "has key \"" + key + "\" twice");
        stored.values.emplace_back(key, ReadValue(value, where + " key \"" + key + "\""));
      }
    }
    scene.effects.push_back(std::move(effect));
  }
  return scene;
}

}  // namespace host
