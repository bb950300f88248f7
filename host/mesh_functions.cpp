// The host functions that read meshes and weight maps and take displacements.
// All but fxDisplaceBegin/End are called from many threads at once: they only
// read the id-indexed tables and write per-point slots, without locks.
#include <climits>
#include <cmath>
#include <cstring>

#include "host/fault_injection.h"
#include "host/host_functions.h"
#include "host/host_state.h"

namespace host::api {
namespace {

// fxMeshPoly's bad answers; true when one was given.
bool PolygonFault(const Object& object, const std::vector<int32_t>& polygon, int32_t* points, int32_t capacity,
                  int32_t* count) {
  const auto size = static_cast<int32_t>(polygon.size());
  const auto pointCount = static_cast<int32_t>(object.mesh.points.size());
  auto write = [&](auto numberOf) {
    if (points)
      for (int32_t i = 0; i < size && i < capacity; ++i) points[i] = numberOf(i);
  };
  if (faults::Strikes(Fault::kPolygonCountAboveWritten, object.id)) {
    if (count) *count = size + 5;
    write([&](int32_t i) { return polygon[i]; });
  } else if (faults::Strikes(Fault::kPolygonHugeCount, object.id)) {
    if (count) *count = INT32_MAX;
    write([&](int32_t i) { return polygon[i]; });
  } else if (faults::Strikes(Fault::kPolygonNegativeCount, object.id)) {
    if (count) *count = -3;
  } else if (faults::Strikes(Fault::kPolygonPointsOutside, object.id)) {
    if (count) *count = size;
    write([&](int32_t i) { return pointCount + i; });
  } else if (faults::Strikes(Fault::kPolygonPointsNegative, object.id)) {
    if (count) *count = size;
    write([&](int32_t i) { return -1 - i; });
  } else {
    return false;
  }
  return true;
}

}  // namespace

int32_t fxObjectGetName(uint32_t object, char* buffer, int32_t size, int32_t) {
  if (faults::Armed() && buffer && size > 0 && faults::Strikes(Fault::kNameUnterminated, object)) [[unlikely]] {
    std::memset(buffer, 'N', static_cast<size_t>(size));
    return 1;
  }
  Host::State* state = CurrentState();
  const Object* found = state ? state->objectAt(object) : nullptr;
  if (found) return CopyText(found->name, buffer, size) ? 1 : 0;
  const WeightMap* map = state ? state->weightMapAt(object) : nullptr;
  if (map) return CopyText(map->name, buffer, size) ? 1 : 0;
  CopyText("", buffer, size);
  return 0;
}

int32_t fxMeshNumPoints(uint32_t object, int32_t* count, int32_t) {
  if (faults::Armed() && count) [[unlikely]] {
    const bool negative = faults::Strikes(Fault::kNegativePointCount, object);
    if (negative || faults::Strikes(Fault::kHugePointCount, object)) {
      *count = negative ? -7 : INT32_MAX;
      return 1;
    }
  }
  Host::State* state = CurrentState();
  const Object* found = state ? state->objectAt(object) : nullptr;
  if (count) *count = found ? static_cast<int32_t>(found->mesh.points.size()) : 0;
  return found ? 1 : 0;
}

int32_t fxMeshNumPolys(uint32_t object, int32_t* count, int32_t) {
  if (faults::Armed() && count) [[unlikely]] {
    const bool negative = faults::Strikes(Fault::kNegativePolygonCount, object);
    if (negative || faults::Strikes(Fault::kHugePolygonCount, object)) {
      *count = negative ? -7 : INT32_MAX;
      return 1;
    }
  }
  Host::State* state = CurrentState();
  const Object* found = state ? state->objectAt(object) : nullptr;
  if (count) *count = found ? static_cast<int32_t>(found->mesh.polygons.size()) : 0;
  return found ? 1 : 0;
}

int32_t fxMeshPoint(uint32_t object, int32_t point, Vec3* position, int32_t) {
  if (faults::Armed() && position && faults::Strikes(Fault::kPointNotFinite, object)) [[unlikely]] {
    *position = Vec3{NAN, INFINITY, -INFINITY};
    return 1;
  }
  Host::State* state = CurrentState();
  const Object* found = state ? state->objectAt(object) : nullptr;
  if (!found || !position || point < 0 || static_cast<size_t>(point) >= found->mesh.points.size()) return 0;
  *position = found->mesh.points[point];
  return 1;
}

int32_t fxMeshPoly(uint32_t object, int32_t poly, int32_t* points, int32_t capacity, int32_t* count,
                   int32_t* second, int32_t) {
  if (second) *second = 0;
  Host::State* state = CurrentState();
  const Object* found = state ? state->objectAt(object) : nullptr;
  if (!found || poly < 0 || static_cast<size_t>(poly) >= found->mesh.polygons.size()) {
    if (count) *count = 0;
    return 0;
  }
  const std::vector<int32_t>& polygon = found->mesh.polygons[poly];
  const auto size = static_cast<int32_t>(polygon.size());
  if (faults::Armed()) [[unlikely]]
    if (PolygonFault(*found, polygon, points, capacity, count)) return 1;
  if (count) *count = size;
  if (points)
    for (int32_t i = 0; i < size && i < capacity; ++i) points[i] = polygon[i];
  return 1;
}

int32_t fxMeshPointWeight(uint32_t object, int32_t point, uint32_t map, int32_t, float* value, int32_t) {
  Host::State* state = CurrentState();
  const WeightMap* found = state ? state->weightMapAt(map) : nullptr;
  const bool valid = found && found->object == object && point >= 0 &&
                     static_cast<size_t>(point) < found->values.size();
  if (value) *value = valid ? found->values[point] : 0.0f;
  return valid ? 1 : 0;
}

int32_t fxDisplaceBegin(uint32_t object, int32_t) {
  Host::State* state = CurrentState();
  ObjectRecord* record = state ? state->recordAt(object) : nullptr;
  if (!record) return 0;
  Object& target = record->object;
  for (size_t i = 0; i < target.displaced.size(); ++i) target.hasDisplacement[i].store(0, std::memory_order_relaxed);
  record->bracketOpen.store(true, std::memory_order_release);
  return 1;
}

int32_t fxDisplacePoint(uint32_t object, int32_t point, double x, double y, double z) {
  Host::State* state = CurrentState();
  ObjectRecord* record = state ? state->recordAt(object) : nullptr;
  // Bounded by the displacement storage, which a caller editing the mesh in place cannot outgrow
  if (!record || point < 0 || static_cast<size_t>(point) >= record->object.displaced.size()) return 0;
  // The host takes displacements only inside the object's bracket.
  if (!record->bracketOpen.load(std::memory_order_acquire)) {
    state->displaceOutsideBracket.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
  record->object.displaced[point] = Vec3{x, y, z};
  record->object.hasDisplacement[point].store(1, std::memory_order_release);
  return 1;
}

int32_t fxDisplaceEnd(uint32_t object, int32_t) {
  Host::State* state = CurrentState();
  ObjectRecord* record = state ? state->recordAt(object) : nullptr;
  if (!record) return 0;
  record->bracketOpen.store(false, std::memory_order_release);
  return 1;
}

}  // namespace host::api
