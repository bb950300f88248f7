// The private state of a Host, shared by the host function implementations.
//
// Objects and weight maps sit in tables indexed by id, so that the functions the
// module calls from many threads find them without locks, searches or
// allocation. Those tables change only while the scene is edited, which the
// module never does concurrently with its reads. The records that the module
// appends to from several threads (lookups, messages) have their own mutex.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"

namespace host {

// Ids come from one counter for objects, weight maps and effects and are never
// reused, so a long-lived host hands them out without end (a Python session
// takes three or four a binding); a scene file may bring its own. Both stop
// at this bound.
constexpr uint32_t kMaxId = 1u << 26;
constexpr uint32_t kIdPageSize = 4096;

// Records by id, found without locks, searches or allocation: a fixed
// directory of pages of kIdPageSize slots, as few loads from the table to the
// record as an array by id takes. A page is made for the first record in it
// and freed with its last one, so that records removed leave nothing behind.
template <class T>
class IdTable {
 public:
  T* at(uint32_t id) const {
    if (id >= kMaxId) return nullptr;
    const Page* page = pages_[id / kIdPageSize].get();
    return page ? page->slots[id % kIdPageSize].get() : nullptr;
  }
  void put(uint32_t id, std::unique_ptr<T> record) {
    erase(id);
    if (!record || id >= kMaxId) return;
    std::unique_ptr<Page>& page = pages_[id / kIdPageSize];
    if (!page) page = std::make_unique<Page>();
    page->slots[id % kIdPageSize] = std::move(record);
    ++page->live;
  }
  void erase(uint32_t id) {
    if (id >= kMaxId) return;
    std::unique_ptr<Page>& page = pages_[id / kIdPageSize];
    if (!page || !page->slots[id % kIdPageSize]) return;
    page->slots[id % kIdPageSize].reset();
    if (--page->live == 0) page.reset();
  }
  void clear() {
    for (auto& page : pages_) page.reset();
  }
  size_t pagesHeld() const {
    size_t held = 0;
    for (const auto& page : pages_) held += page != nullptr;
    return held;
  }

 private:
  struct Page {
    std::array<std::unique_ptr<T>, kIdPageSize> slots;
    uint32_t live = 0;
  };
  std::array<std::unique_ptr<Page>, kMaxId / kIdPageSize> pages_;  // 128 kB
};

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
  IdTable<ObjectRecord> objects;
  IdTable<WeightMap> weightMaps;
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

  // Controls by id, in creation order; ids are never reused. Panel calls and
  // block placements are kept with the effect whose panel made them (0: none).
  std::map<uint32_t, Control> controls;
  uint32_t nextControl = 1;
  uint32_t currentBlock = 0;
  uint32_t panelEffect = 0;  // the effect whose panel is being built, 0 when none
  std::vector<std::pair<uint32_t, BlockPlacement>> blockPlacements;
  std::vector<std::pair<uint32_t, std::string>> panelCalls;

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
    ObjectRecord* record = objects.at(id);
    return record ? &record->object : nullptr;
  }
  ObjectRecord* recordAt(uint32_t id) { return objects.at(id); }
  const WeightMap* weightMapAt(uint32_t id) const { return weightMaps.at(id); }
  EffectItem* effectAt(uint32_t id) {
    auto it = effects.find(id);
    return it == effects.end() ? nullptr : it->second.get();
  }
  EffectItem* effectByHandle(const void* handle);
  Format* formatByAddress(void* format);  // a stored format, or null
  Control* controlAt(uint32_t id) {
    auto found = controls.find(id);
    return found == controls.end() ? nullptr : &found->second;
  }

  uint32_t takeId();  // the next free id; throws when the id space is used up
  void reserveId(uint32_t id);  // ids at or below it are never handed out again
  void freeTargetLists();  // releases the tables' memory without calling the module
  // What is kept for an effect item the host forgets: the controls its panel
  // made, with their panel calls and block placements; its target lists,
  // each record handed to the list's free callback.
  void forgetPanel(uint32_t effect);
  void deleteTargetListsOf(uint32_t effect);
  // Forgets an effect item the module was told to destroy, with what is kept
  // for it; keepPanel leaves its panel to the item of the same id that a
  // scene load brings back.
  void forgetEffect(uint32_t effect, bool keepPanel);
  // Hands each record to the list's free callback, then frees and forgets the list.
  void deleteTargetList(TargetList* list);
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

// kMessageInstanceData to an effect with kInstanceSave, kInstanceCreate,
// kInstanceLoad or kInstanceDestroy.
int32_t SendDestroy(Host& host, uint32_t effect);
int32_t SendSave(Host& host, uint32_t effect);
int32_t SendCreate(Host& host, uint32_t effect);
int32_t SendLoad(Host& host, uint32_t effect);

}  // namespace host
