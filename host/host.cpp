// Host lifetime, the lookup the module resolves its host functions with, and
// the call counters of the functions with behaviour.
#include "host/host.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "host/fault_injection.h"
#include "host/host_functions.h"
#include "host/host_state.h"

namespace host {

std::atomic<Host*> currentHost{nullptr};

namespace {

// Call counters: one block per calling thread, so that the threads calling
// fxMeshPoint at once never write the same counter and counting needs no
// locked instruction. Blocks outlive their threads (there are few threads).
// Off for programs that never read the counts (a thread-local block costs a
// library call per host call in a host that is itself a shared library).
std::atomic<bool> countingCalls{true};

struct CounterShard {
  std::atomic<long> calls[api::kApiCount] = {};
};

std::mutex shardsMutex;
std::vector<std::unique_ptr<CounterShard>> shards;

CounterShard& ThisThreadShard() {
  thread_local CounterShard* shard = [] {
    std::lock_guard lock(shardsMutex);
    return shards.emplace_back(std::make_unique<CounterShard>()).get();
  }();
  return *shard;
}

constexpr const char* kApiNames[] = {
#define OSTRAND_HOST_API(result, name, parameters) #name,
#include "ostrand/host_api.inc"
#undef OSTRAND_HOST_API
};

void CountCall(int index) {
  if (!countingCalls.load(std::memory_order_relaxed)) return;
  std::atomic<long>& counter = ThisThreadShard().calls[index];
  counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Counts a call, then runs the implementation. Nothing thrown inside the host
// may unwind into the module, so an exception ends here with a neutral result.
template <int Index, auto F>
struct Counted;
template <int Index, typename R, typename... A, R (*F)(A...)>
struct Counted<Index, F> {
  static R Call(A... arguments) {
    CountCall(Index);
    try {
      return F(arguments...);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "host stand-in: %s failed: %s\n", kApiNames[Index], e.what());
    } catch (...) {
      std::fprintf(stderr, "host stand-in: %s failed\n", kApiNames[Index]);
    }
    if constexpr (!std::is_void_v<R>) return R{};
  }
};

// The answer for every name without behaviour: the module never calls these,
// and a do-nothing function is what a host could give for them.
intptr_t DoNothing() { return 0; }

struct NameTable {
  std::unordered_map<std::string_view, void*> functions;
  std::unordered_map<std::string_view, int> apiIndex;

  NameTable() {
    for (const auto& entry : ostrand::kHostFunctionNames)
      functions[entry.name] = reinterpret_cast<void*>(&DoNothing);
    for (const char* name : ostrand::kUsefulFunctionNames)
      functions[name] = reinterpret_cast<void*>(&DoNothing);
#define OSTRAND_HOST_API(result, name, parameters)                                                 \
  static_assert(std::is_same_v<decltype(&Counted<api::API_##name, &api::name>::Call), ::name##_fn>); \
  functions[#name] = reinterpret_cast<void*>(&Counted<api::API_##name, &api::name>::Call);          \
  apiIndex[#name] = api::API_##name;
#include "ostrand/host_api.inc"
#undef OSTRAND_HOST_API
  }
};

const NameTable& Names() {
  static const NameTable kTable;
  return kTable;
}

void* LookupHostFunction(const char* name, uint32_t group) {
  if (!name) return nullptr;
  const NameTable& names = Names();
  auto found = names.functions.find(name);
  void* function = found == names.functions.end() ? nullptr : found->second;
  if (Host::State* state = CurrentState()) {
    std::lock_guard lock(state->recordMutex);
    state->lookups.push_back({name, group});
    if (state->missing.count(name)) function = nullptr;
  }
  return function;
}

}  // namespace

Host::Host() : state_(std::make_unique<State>()) {
  Host* expected = nullptr;
  if (!currentHost.compare_exchange_strong(expected, this))
    throw std::logic_error("another Host is alive; only one may exist at a time");
  resetCalls();
  countingCalls.store(true);
  std::error_code error;
  auto directory = std::filesystem::current_path(error);
  if (!error) state_->baseDirectory = directory.string();
}

Host::~Host() {
  State& s = *state_;
  DisarmFaults();  // the scene closes cleanly, and the next Host starts without faults
  try {
    // An exited module gets no more messages
    if (s.callback && (!s.module || s.entered)) {
      std::vector<uint32_t> ids;
      for (const auto& [id, item] : s.effects) ids.push_back(id);
      for (uint32_t id : ids) destroyEffect(id);
    }
    if (s.module && s.entered) exitModule();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "host stand-in: closing the scene failed: %s\n", e.what());
  }
  s.freeTargetLists();
  s.module.reset();
  currentHost.store(nullptr, std::memory_order_release);
}

Host& Host::current() {
  Host* host = currentHost.load(std::memory_order_acquire);
  if (!host) throw std::logic_error("no Host is alive");
  return *host;
}

Host* Host::currentOrNull() { return currentHost.load(std::memory_order_acquire); }

HostLookup Host::lookupFunction() { return &LookupHostFunction; }

void Host::missName(const std::string& name) {
  std::lock_guard lock(state_->recordMutex);
  state_->missing.insert(name);
}

std::vector<Lookup> Host::lookups() const {
  std::lock_guard lock(state_->recordMutex);
  return state_->lookups;
}

void Host::clearLookups() {
  std::lock_guard lock(state_->recordMutex);
  state_->lookups.clear();
}

long Host::calls(const std::string& name) const {
  const auto& index = Names().apiIndex;
  auto found = index.find(name);
  if (found == index.end()) return 0;
  long total = 0;
  std::lock_guard lock(shardsMutex);
  for (const auto& shard : shards) total += shard->calls[found->second].load(std::memory_order_relaxed);
  return total;
}

void Host::setCountingCalls(bool counting) { countingCalls.store(counting); }

void Host::resetCalls() {
  std::lock_guard lock(shardsMutex);
  for (auto& shard : shards)
    for (auto& counter : shard->calls) counter.store(0, std::memory_order_relaxed);
}

long Host::displaceOutsideBracket() const { return state_->displaceOutsideBracket.load(); }

uint32_t Host::State::takeId() {
  if (nextId >= kMaxId) throw std::length_error("the host has used up its object ids");
  return nextId++;
}

void Host::State::reserveId(uint32_t id) {
  if (id >= nextId) nextId = id + 1;
}

bool CopyText(const std::string& text, char* buffer, int64_t size) {
  if (!buffer || size <= 0) return false;
  size_t length = std::min<size_t>(text.size(), static_cast<size_t>(size - 1));
  text.copy(buffer, length);
  buffer[length] = '\0';
  return true;
}

}  // namespace host
