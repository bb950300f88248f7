// The scene file's content and its JSON form.
//
// {"orreryScene": 1, "baseDirectory": "...",
//  "objects":    [{"id": 1, "name": "cage", "points": [[x, y, z], ...], "polygons": [[0, 1, 2], ...]}],
//  "weightMaps": [{"id": 3, "object": 1, "name": "w", "values": [0.5, ...]}],
//  "effects":    [{"id": 4, "targets": [2], "formats": [{"name": "...", "values":
//                   [{"key": "k", "type": "int" | "double" | "object" | "weight" | "string", "value": ...}]}]}]}
//
// A relative "baseDirectory" starts from the scene file's folder ("." is that
// folder); scene files save it so when it lies there or below.
//
// Doubles that JSON cannot hold (NaN, infinities) are written as the strings
// "nan", "inf" and "-inf".
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/host.h"

namespace host {

struct SceneContent {
  std::string baseDirectory;
  bool hasBaseDirectory = false;
  std::vector<Object> objects;  // without displacement storage
  std::vector<WeightMap> weightMaps;
  struct Effect {
    uint32_t id = 0;
    std::vector<uint32_t> targets;
    std::map<std::string, Format> formats;
  };
  std::vector<Effect> effects;
};

nlohmann::json SceneToJson(const SceneContent& scene);

// Checks everything (ids unique, non-zero and in range, point numbers in
// range, one weight per point, targets that exist, value types); throws
// std::runtime_error naming the offending part.
SceneContent SceneFromJson(const nlohmann::json& json);

// What the JSON reader found wrong with text, in our words and with the place:
// "line 3: not valid JSON: unexpected end of input", "line 2: not valid JSON
// at column 7: unexpected \"}\"" (the line alone when there is no place).
std::string JsonProblem(const std::string& text, const nlohmann::json::exception& error);

}  // namespace host
