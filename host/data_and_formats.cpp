// Data records per effect id and key, and scene formats with their named values.
//
// A format handed out by fxFormatNew belongs to the effect item the handle
// names and is written into the scene file; fxFormatGet gives the stored one
// back. Loads of a missing key, or of a key saved with another type, leave the
// destination untouched.
#include <cstring>

#include "host/fault_injection.h"
#include "host/host_functions.h"
#include "host/host_state.h"

namespace host {

const NamedValue* Format::find(const std::string& key) const {
  for (const auto& [name, value] : values)
    if (name == key) return &value;
  return nullptr;
}

EffectItem* Host::State::effectByHandle(const void* handle) {
  if (!handle) return nullptr;
  for (auto& [id, item] : effects)
    if (item.get() == handle) return item.get();
  return nullptr;
}

Format* Host::State::formatByAddress(void* format) {
  if (!format) return nullptr;
  for (auto& [id, item] : effects)
    for (auto& [name, stored] : item->formats)
      if (&stored == format) return &stored;
  return nullptr;
}

namespace {

int32_t Save(void* format, const char* key, NamedValue value) {
  Host::State* state = CurrentState();
  Format* target = state ? state->formatByAddress(format) : nullptr;
  if (!target || !key) return 0;
  for (auto& [name, stored] : target->values)
    if (name == key) {
      stored = std::move(value);
      return 1;
    }
  target->values.emplace_back(key, std::move(value));
  return 1;
}

// The stored value of that key when it has type T, else null.
template <typename T>
const T* Load(void* format, const char* key) {
  Host::State* state = CurrentState();
  if (!state || !key) return nullptr;
  const Format* source = state->formatByAddress(format);
  if (!source) return nullptr;  // the empty format, or not a format at all
  const NamedValue* value = source->find(key);
  return value ? std::get_if<T>(value) : nullptr;
}

}  // namespace

namespace api {

int32_t fxDataSet(uint32_t id, const char* key, int32_t, void* data) {
  Host::State* state = CurrentState();
  if (!state || !key) return 0;
  if (EffectItem* item = state->effectAt(id)) item->data[key] = data;
  else state->strayData[{id, key}] = data;
  return 1;
}

void* fxDataGet(uint32_t id, const char* key, int32_t) {
  if (faults::Armed() && faults::Strikes(Fault::kDataGetNull, id)) [[unlikely]]
    return nullptr;
  Host::State* state = CurrentState();
  if (!state || !key) return nullptr;
  if (const EffectItem* item = state->effectAt(id)) {
    auto found = item->data.find(key);
    return found == item->data.end() ? nullptr : found->second;
  }
  auto found = state->strayData.find({id, key});
  return found == state->strayData.end() ? nullptr : found->second;
}

// Forgets the record; its memory belongs to whoever stored it.
int32_t fxDataFree(uint32_t id, const char* key, int32_t) {
  Host::State* state = CurrentState();
  if (!state || !key) return 0;
  if (EffectItem* item = state->effectAt(id)) return item->data.erase(key) ? 1 : 0;
  return state->strayData.erase({id, key}) ? 1 : 0;
}

void* fxFormatNew(void* handle, const char* name, int32_t) {
  Host::State* state = CurrentState();
  EffectItem* item = state ? state->effectByHandle(handle) : nullptr;
  if (faults::Armed() && faults::Strikes(Fault::kFormatNull, item ? item->id : 0)) [[unlikely]]
    return nullptr;
  if (!item || !name) return nullptr;
  Format& format = item->formats[name];
  format.name = name;
  format.values.clear();
  return &format;
}

void* fxFormatGet(void* handle, const char* name) {
  Host::State* state = CurrentState();
  if (!state) return nullptr;
  state->emptyFormat.values.clear();
  EffectItem* item = state->effectByHandle(handle);
  if (faults::Armed() && faults::Strikes(Fault::kFormatNull, item ? item->id : 0)) [[unlikely]]
    return nullptr;
  if (!item || !name) return &state->emptyFormat;
  auto found = item->formats.find(name);
  return found == item->formats.end() ? &state->emptyFormat : &found->second;
}

int32_t fxArgSaveInt(void* format, const char* key, int32_t value, int32_t) { return Save(format, key, value); }

int32_t fxArgSaveDouble(void* format, const char* key, double value, int32_t) { return Save(format, key, value); }

int32_t fxArgSaveObj(void* format, const char* key, uint32_t object, int32_t) { return Save(format, key, object); }

int32_t fxArgSaveWeight(void* format, const char* key, const int32_t* weight3, int32_t) {
  if (!weight3) return 0;
  return Save(format, key, std::array<int32_t, 3>{weight3[0], weight3[1], weight3[2]});
}

int32_t fxArgSaveString(void* format, const char* key, const char* text, int32_t) {
  if (!text) return 0;
  return Save(format, key, std::string(text));
}

int32_t fxArgLoadInt(void* format, const char* key, int32_t* value) {
  const auto* stored = Load<int32_t>(format, key);
  if (!stored || !value) return 0;
  *value = *stored;
  return 1;
}

int32_t fxArgLoadDouble(void* format, const char* key, double* value) {
  const auto* stored = Load<double>(format, key);
  if (!stored || !value) return 0;
  *value = *stored;
  return 1;
}

int32_t fxArgLoadObj(void* format, const char* key, uint32_t* object) {
  const auto* stored = Load<uint32_t>(format, key);
  if (!stored || !object) return 0;
  *object = *stored;
  return 1;
}

int32_t fxArgLoadWeight(void* format, const char* key, int32_t* weight3) {
  const auto* stored = Load<std::array<int32_t, 3>>(format, key);
  if (!stored || !weight3) return 0;
  std::memcpy(weight3, stored->data(), sizeof(int32_t) * 3);
  return 1;
}

int32_t fxArgLoadString(void* format, const char* key, char* buffer, int32_t size) {
  const auto* stored = Load<std::string>(format, key);
  if (!stored) return 0;
  if (faults::Armed() && buffer && size > 0 && faults::Strikes(Fault::kStringUnterminated, 0)) [[unlikely]] {
    std::memset(buffer, 'S', static_cast<size_t>(size));
    return 1;
  }
  return CopyText(*stored, buffer, size) ? 1 : 0;
}

}  // namespace api
}  // namespace host
