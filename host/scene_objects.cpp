// Building the scene: objects with meshes, weight maps, their poses, and the
// evaluated mesh the module's displacements produce.
#include <algorithm>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include "host/host.h"
#include "host/host_state.h"

namespace host {

void CheckMesh(const Mesh& mesh, const std::string& what) {
  constexpr size_t kMaxCount = std::numeric_limits<int32_t>::max();
  if (mesh.points.size() > kMaxCount || mesh.polygons.size() > kMaxCount)
    throw std::invalid_argument(what + ": too many points or polygons");
  const auto pointCount = static_cast<int64_t>(mesh.points.size());
  for (size_t p = 0; p < mesh.polygons.size(); ++p) {
    const auto& polygon = mesh.polygons[p];
    if (polygon.size() > kMaxCount)
      throw std::invalid_argument(what + ": polygon " + std::to_string(p) + " is too long");
    for (int32_t point : polygon)
      if (point < 0 || point >= pointCount)
        throw std::invalid_argument(what + ": polygon " + std::to_string(p) + " refers to point " +
                                    std::to_string(point) + " of " + std::to_string(pointCount));
  }
}

void ResetDisplacements(Object& object) {
  size_t count = object.mesh.points.size();
  object.displaced.assign(count, Vec3{0, 0, 0});
  object.hasDisplacement = std::make_unique<std::atomic<uint8_t>[]>(count);
  for (size_t i = 0; i < count; ++i) object.hasDisplacement[i].store(0, std::memory_order_relaxed);
}

uint32_t Host::addObject(const std::string& name, Mesh mesh) {
  CheckMesh(mesh, "object \"" + name + "\"");
  State& s = *state_;
  uint32_t id = s.takeId();
  auto record = std::make_unique<ObjectRecord>();
  record->object.id = id;
  record->object.name = name;
  record->object.mesh = std::move(mesh);
  ResetDisplacements(record->object);
  s.objects.put(id, std::move(record));
  s.objectOrder.push_back(id);
  return id;
}

uint32_t Host::addObjectFromObj(const std::string& path, const std::string& name) {
  Mesh mesh = ReadObj(path);
  const uint32_t id = addObject(name.empty() ? std::filesystem::path(path).stem().string() : name, std::move(mesh));
  object(id)->source = path;
  return id;
}

void Host::setPoints(uint32_t id, const std::vector<Vec3>& points) { setPoints(id, points.data(), points.size()); }

void Host::setPoints(uint32_t id, const Vec3* points, size_t count) {
  Object* target = object(id);
  if (!target) throw std::invalid_argument("setPoints: no object " + std::to_string(id));
  if (count != target->mesh.points.size())
    throw std::invalid_argument("setPoints: object " + std::to_string(id) + " has " +
                                std::to_string(target->mesh.points.size()) + " points, not " + std::to_string(count));
  std::copy(points, points + count, target->mesh.points.begin());
}

void Host::removeObject(uint32_t id) {
  State& s = *state_;
  if (!object(id)) throw std::invalid_argument("removeObject: no object " + std::to_string(id));
  for (const auto& [effectId, item] : s.effects)
    if (std::find(item->targets.begin(), item->targets.end(), id) != item->targets.end())
      throw std::invalid_argument("removeObject: object " + std::to_string(id) + " is a target of effect " +
                                  std::to_string(effectId));
  for (uint32_t map : s.weightMapOrder)
    if (s.weightMaps.at(map) && s.weightMaps.at(map)->object == id) s.weightMaps.erase(map);
  std::erase_if(s.weightMapOrder, [&](uint32_t map) { return !s.weightMaps.at(map); });
  s.objects.erase(id);
  std::erase(s.objectOrder, id);
}

void Host::setWeightMapValues(uint32_t id, std::vector<float> values) {
  WeightMap* map = state_->weightMaps.at(id);
  if (!map) throw std::invalid_argument("setWeightMapValues: no weight map " + std::to_string(id));
  if (values.size() != map->values.size())
    throw std::invalid_argument("setWeightMapValues: weight map \"" + map->name + "\" has " +
                                std::to_string(map->values.size()) + " values, not " + std::to_string(values.size()));
  map->values = std::move(values);
}

uint32_t Host::addWeightMap(uint32_t objectId, const std::string& name, std::vector<float> values) {
  const Object* owner = object(objectId);
  if (!owner) throw std::invalid_argument("weight map \"" + name + "\": no object " + std::to_string(objectId));
  if (values.size() != owner->mesh.points.size())
    throw std::invalid_argument("weight map \"" + name + "\": " + std::to_string(values.size()) +
                                " values for " + std::to_string(owner->mesh.points.size()) + " points");
  State& s = *state_;
  uint32_t id = s.takeId();
  auto map = std::make_unique<WeightMap>();
  map->id = id;
  map->object = objectId;
  map->name = name;
  map->values = std::move(values);
  s.weightMaps.put(id, std::move(map));
  s.weightMapOrder.push_back(id);
  return id;
}

Object* Host::object(uint32_t id) { return state_->objectAt(id); }

const WeightMap* Host::weightMap(uint32_t id) const { return state_->weightMapAt(id); }

std::vector<uint32_t> Host::objectIds() const { return state_->objectOrder; }

std::vector<Vec3> Host::evaluatedPoints(uint32_t id) const {
  std::vector<Vec3> points;
  evaluatedPoints(id, points);
  return points;
}

void Host::evaluatedPoints(uint32_t id, std::vector<Vec3>& points) const {
  const Object* source = state_->objectAt(id);
  if (!source) throw std::invalid_argument("evaluatedPoints: no object " + std::to_string(id));
  points.resize(source->mesh.points.size());
  evaluatedPoints(id, points.data(), points.size());
}

void Host::evaluatedPoints(uint32_t id, Vec3* points, size_t count) const {
  const Object* source = state_->objectAt(id);
  if (!source) throw std::invalid_argument("evaluatedPoints: no object " + std::to_string(id));
  const std::vector<Vec3>& rest = source->mesh.points;
  if (count != rest.size())
    throw std::invalid_argument("evaluatedPoints: object " + std::to_string(id) + " has " +
                                std::to_string(rest.size()) + " points, not " + std::to_string(count));
  // One pass, each point from where it is now: read frame after frame for
  // every point of large targets.
  const size_t displaced = std::min(rest.size(), source->displaced.size());
  for (size_t i = 0; i < displaced; ++i)
    points[i] = source->hasDisplacement[i].load(std::memory_order_acquire) ? source->displaced[i] : rest[i];
  std::copy(rest.begin() + static_cast<std::ptrdiff_t>(displaced), rest.end(), points + displaced);
}

void Host::setPluginPath(const std::string& path) { state_->pluginPath = path; }
void Host::setBaseDirectory(const std::string& path) { state_->baseDirectory = path; }
std::string Host::pluginPath() const { return state_->pluginPath; }
std::string Host::baseDirectory() const { return state_->baseDirectory; }

}  // namespace host
