// Effect items and the messages the host sends the module about them.
#include <stdexcept>

#include "host/host.h"
#include "host/host_state.h"
#include "ostrand/protocol.h"

namespace host {

using ostrand::kEvaluateDisplace;
using ostrand::kInstanceCreate;
using ostrand::kInstanceDestroy;
using ostrand::kInstanceLoad;
using ostrand::kInstancePrepare;
using ostrand::kInstanceSave;
using ostrand::kMessageEvaluate;
using ostrand::kMessageInstanceData;

uint32_t Host::createEffect(const std::vector<uint32_t>& targets) {
  State& s = *state_;
  auto item = std::make_unique<EffectItem>();
  item->id = s.takeId();
  item->targets = targets;
  const uint32_t id = item->id;
  s.effects[id] = std::move(item);
  if (s.callback) sendMessage(id, kMessageInstanceData, kInstanceCreate);
  return id;
}

void Host::setTargets(uint32_t id, const std::vector<uint32_t>& targets) {
  EffectItem* item = effect(id);
  if (!item) throw std::invalid_argument("setTargets: no effect " + std::to_string(id));
  item->targets = targets;
}

EffectItem* Host::effect(uint32_t id) { return state_->effectAt(id); }

std::vector<uint32_t> Host::effectIds() const {
  std::vector<uint32_t> ids;
  for (const auto& [id, item] : state_->effects) ids.push_back(id);
  return ids;
}

void* Host::handleOf(uint32_t id) {
  if (id == 0) return &state_->hostHandle;
  EffectItem* item = effect(id);
  if (!item) throw std::invalid_argument("no effect " + std::to_string(id));
  return item;
}

int32_t Host::sendMessage(uint32_t id, int32_t message, uint64_t argument) {
  void* handle = handleOf(id);
  if (!state_->callback) return 0;
  return state_->callback(handle, id, message, argument);
}

int32_t Host::evaluate(uint32_t id) {
  sendMessage(id, kMessageInstanceData, kInstancePrepare);
  return sendMessage(id, kMessageEvaluate, kEvaluateDisplace);
}

int32_t Host::destroyEffect(uint32_t id) {
  const int32_t result = SendDestroy(*this, id);
  state_->forgetEffect(id, false);
  return result;
}

void Host::State::forgetEffect(uint32_t id, bool keepPanel) {
  effects.erase(id);
  if (!keepPanel) forgetPanel(id);
  deleteTargetListsOf(id);
}

// Used by the scene file code: the messages around saving and loading.
int32_t SendDestroy(Host& host, uint32_t id) { return host.sendMessage(id, kMessageInstanceData, kInstanceDestroy); }
int32_t SendSave(Host& host, uint32_t id) { return host.sendMessage(id, kMessageInstanceData, kInstanceSave); }
int32_t SendCreate(Host& host, uint32_t id) { return host.sendMessage(id, kMessageInstanceData, kInstanceCreate); }
int32_t SendLoad(Host& host, uint32_t id) { return host.sendMessage(id, kMessageInstanceData, kInstanceLoad); }

}  // namespace host
