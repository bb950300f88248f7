// The private state of a Host, shared by the host function implementations.
//
// Objects and weight maps sit in tables indexed by id, so that the functions the
// module calls from many threads find them without locks, searches or
// allocation. Those tables change only while the scene is edited, which the
// module never does concurrently with its reads. The records that the module
// appends to from several threads (lookups, messages) have their own mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"

namespace host {

// Ids come from one counter for objects, weight maps and effects; a scene file
// may bring its own, up to this bound (the tables are indexed by id).
constexpr uint32_t kMaxId = 1u << 20;

struct ObjectRecord {
  Object object;
  std::atomic<bool> bracketOpen{false};  // between fxDisplaceBegin and fxDisplaceEnd
};

// The geometry module's table behind a TargetTable the module holds.
struct TargetList {
  TargetTable table{};  // handed out as &table
  uint32_t effect = 0;
  TargetInitFn init = nullptr;
  TargetFreeFn release = nullptr;
  TargetCopyFn copy = nullptr;
  size_t recordSize = 0;
  std::vector<uint32_t> objects;  // the object of each record
  void* records = nullptr;  // calloc'd, at least one record long
};

struct Host::State {
  // Scene.
  std::vector<std::unique_ptr<ObjectRecord>> objects;  // by id
  std::vector<std::unique_ptr<WeightMap>> weightMaps;  // by id
  std::vector<uint32_t> objectOrder, weightMapOrder;   // creation order
  std::map<uint32_t, std::unique_ptr<EffectItem>> effects;
  uint32_t nextId = 1;
  std::string pluginPath, baseDirectory;

  // Data records of ids that are not effect items, and target lists by the
  // address handed to the module.
  std::map<std::pair<uint32_t, std::string>, void*> strayData;
  std::map<const void*, std::unique_ptr<TargetList>> targetLists;
  Format emptyFormat;  // fxFormatGet's answer when nothing was stored

  // Module.
  std::unique_ptr<LoadedModule> module;
  bool entered = false;
  std::string moduleName;
  ModuleCallback callback = nullptr;
  std::vector<std::string> registrations;
  int hostHandle = 0;  // its address is the handle of messages without an effect

  // Controls; control id n is controls[n - 1].
  std::deque<Control> controls;
  uint32_t currentBlock = 0;
  std::vector<BlockPlacement> blockPlacements;
  std::vector<std::string> panelCalls;

  // Records appended to from any thread.
  mutable std::mutex recordMutex;
  std::set<std::string> missing;
  std::vector<Lookup> lookups;
  std::vector<Message> messages;
  std::vector<Progress> progress;
  std::function<void(const Message&)> messageSink;
  std::function<void(const Progress&)> progressSink;
  std::atomic<long> displaceOutsideBracket{0};

  DialogScript dialogs;

  Object* objectAt(uint32_t id) {
    return id < objects.size() && objects[id] ? &objects[id]->object : nullptr;
  }
  ObjectRecord* recordAt(uint32_t id) { return id < objects.size() ? objects[id].get() : nullptr; }
  const WeightMap* weightMapAt(uint32_t id) const {
    return id < weightMaps.size() ? weightMaps[id].get() : nullptr;
  }
  EffectItem* effectAt(uint32_t id) {
    auto it = effects.find(id);
    return it == effects.end() ? nullptr : it->second.get();
  }
  EffectItem* effectByHandle(const void* handle);
  Format* formatByAddress(void* format);  // a stored format, or null
  Control* controlAt(uint32_t id) { return id >= 1 && id <= controls.size() ? &controls[id - 1] : nullptr; }

  uint32_t takeId();  // the next free id; throws when the id space is used up
  void reserveId(uint32_t id);  // ids at or below it are never handed out again
  void freeTargetLists();  // releases the tables' memory without calling the module
};

// The host the C functions answer for (null when none is alive).
extern std::atomic<Host*> currentHost;

inline Host::State* CurrentState() {
  Host* host = currentHost.load(std::memory_order_acquire);
  return host ? &host->state() : nullptr;
}

// Bounded copy of text into a C buffer of size bytes, always NUL-terminated;
// false when there is no room at all.
bool CopyText(const std::string& text, char* buffer, int64_t size);

// Makes a Mesh valid for the tables (point numbers in range); throws
// std::invalid_argument naming what is wrong.
void CheckMesh(const Mesh& mesh, const std::string& what);

// Fresh displacement storage for an object's current point count.
void ResetDisplacements(Object& object);

// kMessageInstanceData to an effect with kInstanceSave, kInstanceCreate or
// kInstanceLoad.
int32_t SendSave(Host& host, uint32_t effect);
int32_t SendCreate(Host& host, uint32_t effect);
int32_t SendLoad(Host& host, uint32_t effect);

}  // namespace host
