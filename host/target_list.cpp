// The geometry module's target lists: one table of module-defined records per
// effect, one record per target object, kept in step with the effect's targets
// through the module's Init, Free and Copy callbacks.
//
// Records are raw bytes of the module's record size; the module's callbacks are
// the only code that looks inside them. A record moved by Copy shares its
// arrays with the new slot, so its old slot is never freed afterwards.
#include <cstdlib>
#include <cstring>

#include "host/host_functions.h"
#include "host/host_state.h"

namespace host {

namespace {

// calloc'd room for count records, never null for a valid size (the module may
// hold on to the pointer of an empty table).
void* AllocateRecords(size_t count, size_t recordSize) {
  return std::calloc(count > 0 ? count : 1, recordSize);
}

void* RecordAt(void* records, size_t index, size_t recordSize) {
  return static_cast<unsigned char*>(records) + index * recordSize;
}

const std::vector<uint32_t>& TargetsOf(Host::State& state, uint32_t effect) {
  static const std::vector<uint32_t> kNone;
  const EffectItem* item = state.effectAt(effect);
  return item ? item->targets : kNone;
}

TargetList* ListOf(Host::State* state, void* table) {
  if (!state || !table) return nullptr;
  auto found = state->targetLists.find(table);
  return found == state->targetLists.end() ? nullptr : found->second.get();
}

}  // namespace

void Host::State::freeTargetLists() {
  for (auto& [address, list] : targetLists) std::free(list->records);
  targetLists.clear();
  for (auto& [id, item] : effects) item->list = nullptr;
}

void Host::State::deleteTargetList(TargetList* list) {
  if (list->release)
    for (size_t j = 0; j < list->objects.size(); ++j) list->release(list->records, static_cast<int32_t>(j));
  std::free(list->records);
  for (auto& [id, item] : effects)
    if (item->list == list) item->list = nullptr;
  targetLists.erase(&list->table);
}

void Host::State::deleteTargetListsOf(uint32_t effect) {
  std::vector<TargetList*> lists;
  for (auto& [address, list] : targetLists)
    if (list->effect == effect) lists.push_back(list.get());
  for (TargetList* list : lists) deleteTargetList(list);
}

namespace api {

void* useful_CreateTargetList(uint32_t effectId, int32_t, int32_t, TargetInitFn init, TargetFreeFn release,
                              TargetCopyFn copy, int32_t recordSize, int32_t) {
  Host::State* state = CurrentState();
  if (!state || recordSize <= 0) return nullptr;
  const std::vector<uint32_t>& targets = TargetsOf(*state, effectId);
  auto list = std::make_unique<TargetList>();
  list->effect = effectId;
  list->init = init;
  list->release = release;
  list->copy = copy;
  list->recordSize = static_cast<size_t>(recordSize);
  list->records = AllocateRecords(targets.size(), list->recordSize);
  if (!list->records) return nullptr;
  list->objects = targets;
  list->table.count = static_cast<int32_t>(targets.size());
  list->table.records = static_cast<TargetEntry*>(list->records);
  TargetList* made = list.get();
  state->targetLists[&made->table] = std::move(list);
  if (EffectItem* item = state->effectAt(effectId)) item->list = made;
  if (init)
    for (size_t i = 0; i < made->objects.size(); ++i)
      init(made->records, static_cast<int32_t>(i), made->objects[i]);
  return &made->table;
}

void* useful_FetchTargetList(uint32_t effectId, int32_t) {
  Host::State* state = CurrentState();
  const EffectItem* item = state ? state->effectAt(effectId) : nullptr;
  if (item && item->list) return &item->list->table;
  if (!state) return nullptr;
  // Lists of effects the host does not know as items are still the effect's
  for (auto& [address, list] : state->targetLists)
    if (list->effect == effectId) return &list->table;
  return nullptr;
}

void useful_TargetListEffectUpdate(void* table) {
  Host::State* state = CurrentState();
  TargetList* list = ListOf(state, table);
  if (!list) return;
  const std::vector<uint32_t> wanted = TargetsOf(*state, list->effect);
  if (wanted == list->objects) return;

  const size_t size = list->recordSize;
  void* fresh = AllocateRecords(wanted.size(), size);
  if (!fresh) return;
  void* old = list->records;
  std::vector<bool> moved(list->objects.size(), false);
  for (size_t i = 0; i < wanted.size(); ++i) {
    size_t j = 0;
    while (j < list->objects.size() && (moved[j] || list->objects[j] != wanted[i])) ++j;
    const auto to = static_cast<int32_t>(i);
    if (j < list->objects.size()) {
      moved[j] = true;
      if (list->copy) list->copy(old, static_cast<int32_t>(j), fresh, to);
      else std::memcpy(RecordAt(fresh, i, size), RecordAt(old, j, size), size);
    } else if (list->init) {
      list->init(fresh, to, wanted[i]);
    }
  }
  if (list->release)
    for (size_t j = 0; j < list->objects.size(); ++j)
      if (!moved[j]) list->release(old, static_cast<int32_t>(j));
  std::free(old);
  list->records = fresh;
  list->objects = wanted;
  list->table.count = static_cast<int32_t>(wanted.size());
  list->table.records = static_cast<TargetEntry*>(fresh);
}

void useful_DeleteTargetList(void* table) {
  Host::State* state = CurrentState();
  TargetList* list = ListOf(state, table);
  if (list) state->deleteTargetList(list);
}

}  // namespace api
}  // namespace host
