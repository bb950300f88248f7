// What the module tells the user (messages, progress) and the paths it asks for.
// Messages and progress may come from any thread; they are recorded in order.
#include <cstring>

#include "host/fault_injection.h"
#include "host/host_functions.h"
#include "host/host_state.h"
#include "ostrand/protocol.h"

namespace host {

namespace api {

int32_t fxMessageSend(uint32_t effectId, const char* heading, uint32_t kind, const char* text, const char* text2) {
  Host::State* state = CurrentState();
  if (!state) return 0;
  Message message{effectId, heading ? heading : "", kind, text ? text : "", text2 ? text2 : "", text2 != nullptr};
  std::lock_guard lock(state->recordMutex);
  state->messages.push_back(message);
  if (state->messageSink) state->messageSink(message);
  return 1;
}

int32_t fxMessageProgress(uint32_t zero, int32_t percent, uint32_t kind, const char* text) {
  Host::State* state = CurrentState();
  if (!state) return 0;
  Progress progress{zero, percent, kind, text ? text : ""};
  std::lock_guard lock(state->recordMutex);
  state->progress.push_back(progress);
  if (state->progressSink) state->progressSink(progress);
  return 1;
}

namespace {

// fxPluginPath's and fxPathGet's bad answer: the whole buffer, no NUL.
bool UnterminatedPath(char* buffer, int32_t size) {
  if (!faults::Armed() || !buffer || size <= 0 || !faults::Strikes(Fault::kPathUnterminated, 0)) return false;
  std::memset(buffer, 'P', static_cast<size_t>(size));
  return true;
}

}  // namespace

int32_t fxPluginPath(char* buffer, int32_t size, int32_t) {
  if (UnterminatedPath(buffer, size)) [[unlikely]]
    return 1;
  Host::State* state = CurrentState();
  return state && CopyText(state->pluginPath, buffer, size) ? 1 : 0;
}

int32_t fxPathGet(int32_t kind, char* buffer, int32_t size, int32_t) {
  Host::State* state = CurrentState();
  if (!state || kind != ostrand::kPathKindBase) return 0;
  if (UnterminatedPath(buffer, size)) [[unlikely]]
    return 1;
  return CopyText(state->baseDirectory, buffer, size) ? 1 : 0;
}

}  // namespace api

std::vector<Message> Host::messages() const {
  std::lock_guard lock(state_->recordMutex);
  return state_->messages;
}

std::vector<Progress> Host::progress() const {
  std::lock_guard lock(state_->recordMutex);
  return state_->progress;
}

void Host::clearMessages() {
  std::lock_guard lock(state_->recordMutex);
  state_->messages.clear();
  state_->progress.clear();
}

void Host::setMessageSink(std::function<void(const Message&)> sink) {
  std::lock_guard lock(state_->recordMutex);
  state_->messageSink = std::move(sink);
}

void Host::setProgressSink(std::function<void(const Progress&)> sink) {
  std::lock_guard lock(state_->recordMutex);
  state_->progressSink = std::move(sink);
}

DialogScript& Host::dialogs() { return state_->dialogs; }

}  // namespace host
