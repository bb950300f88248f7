// Conversion between scene content and its JSON form, with the checks that let
// a bad file fail before anything of the current scene is touched.
#include "host/scene_json.h"

#include <algorithm>
#include <cctype>
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
  if (const auto source = entry.find("source"); source != entry.end())
    object.source = ReadString(*source, at + " source");
  // Points as one flat list x0, y0, z0, x1, ...; files of earlier versions
  // hold one [x, y, z] list per point.
  const json& points = Array(Member(entry, "points", at), at + " points");
  if (!points.empty() && points[0].is_array()) {
    for (const json& point : points) {
      if (!point.is_array() || point.size() != 3) Fail(at, "has a point that is not [x, y, z]");
      object.mesh.points.push_back({ReadDouble(point[0], at + " point"), ReadDouble(point[1], at + " point"),
                                    ReadDouble(point[2], at + " point")});
    }
  } else {
    if (points.size() % 3 != 0) Fail(at, "has a point list whose length is not a multiple of 3");
    object.mesh.points.reserve(points.size() / 3);
    const std::string where = at + " point";
    for (size_t k = 0; k < points.size(); k += 3)
      object.mesh.points.push_back(
          {ReadDouble(points[k], where), ReadDouble(points[k + 1], where), ReadDouble(points[k + 2], where)});
  }
  // Polygons as one flat list of point numbers with their corner counts in
  // "polygonSizes"; earlier files hold one list per polygon.
  const int64_t last = static_cast<int64_t>(object.mesh.points.size()) - 1;
  const json& polygons = Array(Member(entry, "polygons", at), at + " polygons");
  if (const auto sizes = entry.find("polygonSizes"); sizes != entry.end()) {
    size_t next = 0;
    const std::string sizeWhere = at + " polygon size", pointWhere = at + " polygon point";
    for (const json& size : Array(*sizes, at + " polygonSizes")) {
      const auto corners =
          static_cast<size_t>(ReadInteger(size, 0, std::numeric_limits<int32_t>::max(), sizeWhere));
      if (corners > polygons.size() - next) Fail(at, "has polygon sizes beyond its polygon point numbers");
      auto& numbers = object.mesh.polygons.emplace_back();
      numbers.reserve(corners);
      for (size_t k = 0; k < corners; ++k)
        numbers.push_back(static_cast<int32_t>(ReadInteger(polygons[next++], 0, last, pointWhere)));
    }
    if (next != polygons.size()) Fail(at, "has polygon point numbers beyond its polygon sizes");
  } else {
    for (const json& polygon : polygons) {
      auto& numbers = object.mesh.polygons.emplace_back();
      for (const json& number : Array(polygon, at + " polygon"))
        numbers.push_back(static_cast<int32_t>(ReadInteger(number, 0, last, at + " polygon point")));
    }
  }
  return object;
}

// A piece of the file as messages show it: quoted, printable, shortened.
std::string Quoted(const std::string& piece) {
  constexpr size_t kShown = 24;
  std::string shown;
  for (char c : piece.substr(0, kShown)) shown += (c >= 32 && c < 127) ? c : '?';
  return "\"" + shown + (piece.size() > kShown ? "..." : "") + "\"";
}

// The word (a number, a literal) that holds or ends just before text[at].
std::string WordAt(const std::string& text, size_t at) {
  auto isWord = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-' || c == '_';
  };
  size_t end = at < text.size() && isWord(text[at]) ? at + 1 : std::min(at, text.size());
  size_t start = end;
  while (start > 0 && isWord(text[start - 1])) --start;
  while (end < text.size() && isWord(text[end])) ++end;
  if (start == end) return at < text.size() ? text.substr(at, 1) : "";
  return text.substr(start, end - start);
}

// The text the reader's message quotes after words ("unexpected '}'"), "" when none.
std::string QuotedAfter(const std::string& message, const std::string& words) {
  const size_t start = message.find(words + "'");
  if (start == std::string::npos) return "";
  const size_t from = start + words.size() + 1;
  const size_t end = message.find('\'', from);
  return message.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// What is wrong, in our words, from the kind of failure the reader's message
// names; at is the index of the reader's last character in text.
std::string JsonWhat(const std::string& message, const std::string& text, size_t at, bool atEnd) {
  auto says = [&message](const char* words) { return message.find(words) != std::string::npos; };
  if (says("missing closing quote")) return "a string has no closing quote";
  if (says("invalid string: control character")) return "a string holds a line break or another control character";
  if (says("invalid string")) return "a string holds a bad escape or is not valid UTF-8";
  if (says("number overflow")) return "the number " + Quoted(QuotedAfter(message, "parsing ")) + " is too large";
  if (atEnd || says("unexpected end of input")) return "unexpected end of input";
  if (says("; expected end of input")) return "more follows the end of the document: " + Quoted(WordAt(text, at));
  if (says("invalid number")) return Quoted(WordAt(text, at)) + " is not a number";
  if (says("invalid literal"))
    return Quoted(WordAt(text, at)) + " is not a value (a number, a string, true, false, null, an array or an object)";
  if (const std::string token = QuotedAfter(message, "unexpected "); !token.empty())
    return "unexpected " + Quoted(token);
  return "unexpected " + Quoted(WordAt(text, at));
}

}  // namespace

std::string JsonProblem(const std::string& text, const nlohmann::json::exception& error) {
  const std::string message = error.what();
  // The place: the reader's last character (a parse error's byte counts from
  // 1; one past the text is its end), or where the too large number is.
  size_t byte = 0;
  if (const auto* parse = dynamic_cast<const json::parse_error*>(&error)) byte = parse->byte;
  if (const std::string number = QuotedAfter(message, "number overflow parsing "); byte == 0 && !number.empty())
    if (const size_t found = text.find(number); found != std::string::npos) byte = found + 1;
  if (byte == 0) return "not valid JSON: " + JsonWhat(message, text, text.size(), false);
  const bool atEnd = byte > text.size();
  size_t at = std::min<size_t>(byte - 1, text.size());
  // At the end, the place is the last line that holds anything.
  while (atEnd && at > 0 && (text[at - 1] == '\n' || text[at - 1] == '\r')) --at;
  const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
  const size_t lineStart = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
  const size_t column = at - (lineStart == std::string::npos ? 0 : lineStart + 1) + 1;
  return "line " + std::to_string(line) + ": not valid JSON" + (atEnd ? "" : " at column " + std::to_string(column)) +
         ": " + JsonWhat(message, text, at, atEnd);
}

json SceneToJson(const SceneContent& scene) {
  json objects = json::array(), maps = json::array(), effects = json::array();
  for (const Object& object : scene.objects) {
    json points = json::array(), corners = json::array(), sizes = json::array();
    for (const Vec3& p : object.mesh.points) {
      points.push_back(DoubleJson(p.x));
      points.push_back(DoubleJson(p.y));
      points.push_back(DoubleJson(p.z));
    }
    for (const auto& polygon : object.mesh.polygons) {
      sizes.push_back(polygon.size());
      for (int32_t point : polygon) corners.push_back(point);
    }
    json entry = {{"id", object.id},
                  {"name", object.name},
                  {"points", std::move(points)},
                  {"polygonSizes", std::move(sizes)},
                  {"polygons", std::move(corners)}};
    if (!object.source.empty()) entry["source"] = object.source;
    objects.push_back(std::move(entry));
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
