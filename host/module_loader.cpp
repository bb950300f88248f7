// Loading the module file, calling its entry points, and the registration
// functions it calls back while entering.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "host/host_functions.h"
#include "host/host_state.h"
#include "ostrand/protocol.h"

namespace host {

namespace {

std::string Text(const char* text) { return text ? text : "(null)"; }

void Record(std::string call) {
  if (Host::State* state = CurrentState()) state->registrations.push_back(std::move(call));
}

#ifdef _WIN32

// Opens the module and pins it: it is never unloaded, as a host keeps its
// plug-ins (the module's parallel runtime leaves idle worker threads behind
// that must not outlive their code). Null on failure, with the reason.
void* OpenModule(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  HMODULE pinned = nullptr;
  if (module && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                   reinterpret_cast<LPCSTR>(module), &pinned))
    return module;
  error = "Windows error " + std::to_string(GetLastError());
  if (module) FreeLibrary(module);
  return nullptr;
}

void* FindExport(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

#else

void* OpenModule(const std::string& path, std::string& error) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!module) {
    const char* reason = dlerror();
    error = reason ? reason : "unknown error";
  }
  return module;
}

void* FindExport(void* module, const char* name) { return dlsym(module, name); }

void CloseModule(void* module) { dlclose(module); }

#endif

template <typename F>
F Resolve(void* handle, const std::string& path, const char* name) {
  void* symbol = FindExport(handle, name);
  if (!symbol) {
    CloseModule(handle);
    throw std::runtime_error("module " + path + " does not export " + name);
  }
  return reinterpret_cast<F>(symbol);
}

}  // namespace

LoadedModule::LoadedModule(const std::string& path) : path_(path) {
  std::string error;
  handle_ = OpenModule(path, error);
  if (!handle_) throw std::runtime_error("cannot load module " + path + ": " + error);
  api_ = Resolve<OrreryApiFn>(handle_, path, ostrand::kApiExportName);
  entry_ = Resolve<OrreryEntryFn>(handle_, path, ostrand::kEntryExportName);
  exit_ = Resolve<OrreryExitFn>(handle_, path, ostrand::kExitExportName);
}

LoadedModule::~LoadedModule() {
  if (handle_) CloseModule(handle_);
}

int32_t LoadedModule::api() const { return api_(); }

int32_t LoadedModule::entry(char* nameBuffer, HostLookup lookup, uint32_t hostWord, uint32_t hostFlags) const {
  return entry_(nameBuffer, lookup, hostWord, hostFlags);
}

int32_t LoadedModule::exit() const { return exit_(); }

namespace api {

int32_t fxModuleDescription(const char* text, int32_t zero) {
  Record("fxModuleDescription(" + Text(text) + ", " + std::to_string(zero) + ")");
  return 1;
}

int32_t fxModuleAccess(int32_t message, uint32_t mask, int32_t zero) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", mask);
  Record("fxModuleAccess(" + std::to_string(message) + ", " + hex + ", " + std::to_string(zero) + ")");
  return 1;
}

int32_t fxModuleRegister(int32_t kind, const char* name, ModuleCallback callback, int32_t one) {
  Record("fxModuleRegister(" + std::to_string(kind) + ", " + Text(name) + ", " + (callback ? "callback" : "null") +
         ", " + std::to_string(one) + ")");
  Host::State* state = CurrentState();
  if (!state || !callback) return 0;
  state->callback = callback;
  // Registration happens inside orreryEntry, also when a test calls it directly
  if (state->module) state->entered = true;
  return 1;
}

}  // namespace api

LoadedModule& Host::loadModule(const std::string& path) {
  if (state_->module) throw std::logic_error("a module is already loaded: " + state_->module->path());
  state_->module = std::make_unique<LoadedModule>(path);
  std::error_code error;
  auto absolute = std::filesystem::absolute(path, error);
  state_->pluginPath = error ? path : absolute.lexically_normal().string();
  return *state_->module;
}

int32_t Host::enter(uint32_t hostWord, uint32_t hostFlags) {
  if (!state_->module) throw std::logic_error("enter: no module is loaded");
  char name[256] = {};
  const int32_t result = state_->module->entry(name, lookupFunction(), hostWord, hostFlags);
  name[sizeof name - 1] = '\0';
  state_->moduleName = name;
  state_->entered = true;
  return result;
}

void Host::announceServices() {
  if (state_->callback) state_->callback(&state_->hostHandle, 0, ostrand::kMessageServices, ostrand::kServicesGeometry);
}

int32_t Host::exitModule() {
  if (!state_->module) throw std::logic_error("exitModule: no module is loaded");
  state_->entered = false;
  return state_->module->exit();
}

ModuleCallback Host::moduleCallback() const { return state_->callback; }

std::string Host::moduleName() const { return state_->moduleName; }

std::vector<std::string> Host::registrations() const { return state_->registrations; }

void Host::setModuleCallback(ModuleCallback callback) { state_->callback = callback; }

}  // namespace host
