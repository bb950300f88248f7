// Controls of the module's panel: creation, layout, values, and the host's side
// of a user working them (set a value, fire the callback).
#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "host/host_functions.h"
#include "host/host_state.h"
#include "ostrand/protocol.h"

namespace host {

namespace {

std::string Text(const char* text) { return text ? text : "(null)"; }

std::string Number(double value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// Records a created control and its creation call; returns its id.
uint32_t Create(const char* creator, const char* label, ControlCallback callback, std::vector<double> args) {
  Host::State* state = CurrentState();
  if (!state) return 0;
  const uint32_t id = state->nextControl++;
  Control& control = state->controls[id];
  control.id = id;
  control.effect = state->panelEffect;
  control.creator = creator;
  control.label = label ? label : "";
  control.callback = callback;
  control.args = std::move(args);
  const bool isBlock = control.creator == "fxCC_Block";
  control.block = isBlock ? 0 : state->currentBlock;
  if (isBlock) state->currentBlock = control.id;

  std::string call = control.creator + "(" + Text(label);
  if (!isBlock) call += callback ? ", callback" : ", null";
  for (double arg : control.args) call += ", " + Number(arg);
  call += ") = " + std::to_string(control.id);
  state->panelCalls.emplace_back(control.effect, std::move(call));
  return control.id;
}

Control* Find(uint32_t id) {
  Host::State* state = CurrentState();
  return state ? state->controlAt(id) : nullptr;
}

// Reads or writes one value of a control; 0 for an unknown control.
template <auto Member, typename T>
int32_t GetValue(uint32_t id, T* out) {
  Control* control = Find(id);
  if (!control || !out) return 0;
  *out = control->*Member;
  return 1;
}

template <auto Member, typename T>
int32_t SetValue(uint32_t id, T value) {
  Control* control = Find(id);
  if (!control) return 0;
  control->*Member = value;
  return 1;
}

}  // namespace

namespace api {

uint32_t fxCC_Block(const char* name, int32_t a, int32_t b, int32_t c) {
  return Create("fxCC_Block", name, nullptr, {double(a), double(b), double(c)});
}

uint32_t fxCC_ObjectPopup(const char* label, ControlCallback cb, int32_t a, int32_t width, int32_t b, int32_t c,
                          int32_t d, uint32_t flags) {
  return Create("fxCC_ObjectPopup", label, cb,
                {double(a), double(width), double(b), double(c), double(d), double(flags)});
}

uint32_t fxCC_WeightPopup(const char* label, ControlCallback cb, int32_t a, int32_t width) {
  return Create("fxCC_WeightPopup", label, cb, {double(a), double(width)});
}

uint32_t fxCC_DragInt(const char* label, ControlCallback cb, int32_t a, int32_t min, int32_t max, int32_t step,
                      int32_t b) {
  return Create("fxCC_DragInt", label, cb, {double(a), double(min), double(max), double(step), double(b)});
}

uint32_t fxCC_DragFloat(const char* label, ControlCallback cb, int32_t a, double min, double max, double step,
                        int32_t b) {
  return Create("fxCC_DragFloat", label, cb, {double(a), min, max, step, double(b)});
}

uint32_t fxCC_Button(const char* label, ControlCallback cb, int32_t a, int32_t width) {
  return Create("fxCC_Button", label, cb, {double(a), double(width)});
}

uint32_t fxCC_WeightCombo(const char* label, ControlCallback cb, int32_t a, int32_t width, int32_t b) {
  return Create("fxCC_WeightCombo", label, cb, {double(a), double(width), double(b)});
}

int32_t fxConSetPos(uint32_t id, int32_t x, int32_t y) {
  Control* control = Find(id);
  if (!control) return 0;
  control->x = x, control->y = y, control->placed = true;
  CurrentState()->panelCalls.emplace_back(control->effect, "fxConSetPos(" + std::to_string(id) + ", " +
                                                               std::to_string(x) + ", " + std::to_string(y) + ")");
  return 1;
}

int32_t fxConSetSize(uint32_t id, int32_t width, int32_t height) {
  Control* control = Find(id);
  if (!control) return 0;
  control->width = width, control->height = height, control->sized = true;
  CurrentState()->panelCalls.emplace_back(control->effect, "fxConSetSize(" + std::to_string(id) + ", " +
                                                               std::to_string(width) + ", " + std::to_string(height) +
                                                               ")");
  return 1;
}

int32_t fxInterfaceBlockSet(const char* page, const char* page2, int32_t a, uint32_t block, int32_t b) {
  Host::State* state = CurrentState();
  if (!state) return 0;
  // Outside a panel's building, a placement goes with its block.
  const Control* placed = state->controlAt(block);
  const uint32_t effect = state->panelEffect != 0 ? state->panelEffect : placed ? placed->effect : 0;
  state->blockPlacements.emplace_back(effect, BlockPlacement{page ? page : "", page2 ? page2 : "", a, block, b});
  state->panelCalls.emplace_back(effect, "fxInterfaceBlockSet(" + Text(page) + ", " + Text(page2) + ", " +
                                             std::to_string(a) + ", " + std::to_string(block) + ", " +
                                             std::to_string(b) + ")");
  return 1;
}

int32_t fxConGetObj(uint32_t id, uint32_t* object) { return GetValue<&Control::objectValue>(id, object); }
int32_t fxConSetObj(uint32_t id, uint32_t object) { return SetValue<&Control::objectValue>(id, object); }
int32_t fxConGetInt(uint32_t id, int32_t* value) { return GetValue<&Control::intValue>(id, value); }
int32_t fxConSetInt(uint32_t id, int32_t value) { return SetValue<&Control::intValue>(id, value); }
int32_t fxConGetDouble(uint32_t id, double* value) { return GetValue<&Control::doubleValue>(id, value); }
int32_t fxConSetDouble(uint32_t id, double value) { return SetValue<&Control::doubleValue>(id, value); }

int32_t fxConGetVeci3(uint32_t id, int32_t* v3) {
  Control* control = Find(id);
  if (!control || !v3) return 0;
  for (int i = 0; i < 3; ++i) v3[i] = control->veci3[i];
  return 1;
}

int32_t fxConSetVeci3(uint32_t id, int32_t* v3) {
  Control* control = Find(id);
  if (!control || !v3) return 0;
  for (int i = 0; i < 3; ++i) control->veci3[i] = v3[i];
  return 1;
}

int32_t fxConDisable(uint32_t id) {
  Control* control = Find(id);
  if (!control) return 0;
  ++control->disableCount;
  return 1;
}

}  // namespace api

std::vector<uint32_t> Host::buildPanel(uint32_t effect) {
  State& s = *state_;
  const uint32_t first = s.nextControl;
  struct Building {
    State& state;
    uint32_t outer;
    ~Building() { state.panelEffect = outer; }
  } building{s, std::exchange(s.panelEffect, effect)};
  sendMessage(effect, ostrand::kMessageControlPanel, ostrand::kControlPanelBuild);
  std::vector<uint32_t> made;
  for (auto it = s.controls.lower_bound(first); it != s.controls.end(); ++it) made.push_back(it->first);
  return made;
}

void Host::State::forgetPanel(uint32_t effect) {
  if (effect == 0) return;
  std::erase_if(controls, [effect](const auto& entry) { return entry.second.effect == effect; });
  if (!controlAt(currentBlock)) currentBlock = 0;
  std::erase_if(panelCalls, [effect](const auto& call) { return call.first == effect; });
  std::erase_if(blockPlacements, [effect](const auto& placement) { return placement.first == effect; });
}

Control* Host::control(uint32_t id) { return state_->controlAt(id); }

Control* Host::controlByLabel(const std::string& label) {
  for (auto it = state_->controls.rbegin(); it != state_->controls.rend(); ++it)
    if (it->second.label == label) return &it->second;
  return nullptr;
}

std::vector<Control> Host::controls() const {
  std::vector<Control> all;
  for (const auto& [id, control] : state_->controls) all.push_back(control);
  return all;
}

std::vector<BlockPlacement> Host::blockPlacements() const {
  std::vector<BlockPlacement> all;
  for (const auto& [effect, placement] : state_->blockPlacements) all.push_back(placement);
  return all;
}

std::vector<std::string> Host::panelCalls() const {
  std::vector<std::string> all;
  for (const auto& [effect, call] : state_->panelCalls) all.push_back(call);
  return all;
}

int32_t Host::fire(uint32_t id, uint32_t effect, uint64_t event) {
  Control* target = control(id);
  if (!target) throw std::invalid_argument("fire: no control " + std::to_string(id));
  if (!target->callback)
    throw std::invalid_argument("fire: control " + std::to_string(id) + " (" + target->label + ") has no callback");
  return target->callback(id, effect, nullptr, event);
}

namespace {

Control& Existing(Host& host, uint32_t id) {
  Control* found = host.control(id);
  if (!found) throw std::invalid_argument("no control " + std::to_string(id));
  return *found;
}

}  // namespace

int32_t Host::setObject(uint32_t id, uint32_t effect, uint32_t object) {
  Existing(*this, id).objectValue = object;
  return fire(id, effect, ostrand::kControlChanged);
}

int32_t Host::setInt(uint32_t id, uint32_t effect, int32_t value) {
  Existing(*this, id).intValue = value;
  return fire(id, effect, ostrand::kControlChanged);
}

int32_t Host::setDouble(uint32_t id, uint32_t effect, double value) {
  Existing(*this, id).doubleValue = value;
  return fire(id, effect, ostrand::kControlChanged);
}

int32_t Host::setVeci3(uint32_t id, uint32_t effect, const int32_t value[3]) {
  Control& target = Existing(*this, id);
  for (int i = 0; i < 3; ++i) target.veci3[i] = value[i];
  return fire(id, effect, ostrand::kControlChanged);
}

int32_t Host::press(uint32_t id, uint32_t effect) { return fire(id, effect, ostrand::kControlChanged); }

}  // namespace host
