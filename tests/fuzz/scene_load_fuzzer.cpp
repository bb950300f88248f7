// Fuzzes scene loading: arbitrary named values and strings, saved through the
// host stand-in's format functions under the module's format name, then
// loaded by the module (kMessageInstanceData with kInstanceLoad), with the
// module's code and the host stand-in in one process.
//
// The scene: a cube cage (8 points, 6 quads), targets a (10 points, with a
// weight map) and b (3 points) inside it, one effect on both, and in the base
// directory a weights file for that setup ("w.cw", Mode 0) and a counts-only
// one ("c.cw", Mode 7). Before each input the instance is set back to a new
// one's state. Then:
//   1. the input's values are saved into a new kSceneFormatName format, and any
//      host faults the input names are armed;
//   2. the scene is loaded and the instance evaluated (faults disarmed after);
//   3. the instance is saved and loaded again: the settings must come back
//      as they were;
//   4. with 1 to 16 samples, "Calculate" is pressed and the result evaluated.
// After each step the instance must keep every invariant (instance_invariants.h).
//
// Input: records, each an opcode byte and its operands (little-endian):
//   op % 8 = 0..4: a value of type int, double, object, weight, string; then
//     a key byte (below 11: the module's keys in their order; else a custom
//     key: a length byte and that many bytes), then the value: 4, 8, 4, 12
//     bytes, or for a string a 16-bit length and that many bytes;
//   op % 8 = 5: a host fault: kind, skip and times bytes (times 0: every call);
//   op % 8 = 6, 7: ignored.
// Strings stored under "WeightBinFile" keep only [A-Za-z0-9._-] (others
// become '_'), so that no input names a file outside the base directory.
//
// With OSTRAND_WRITE_SEEDS=<directory> set, the fuzzer first writes the
// scenes the module itself saves there (the seed corpus).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "host/fault_injection.h"
#include "host/host.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/module_state.h"
#include "instance/instance.h"
#include "operations/threads.h"
#include "operations/weights_file.h"
#include "shell/module_callback.h"
#include "support/in_process_module.h"
#include "support/instance_invariants.h"
#include "support/test_meshes.h"

namespace {

constexpr const char* kKeys[] = {"Mode",    "Weight",    "Cage",        "CagePoints",  "CagePolys",    "SetupMask",
                                 "Samples", "Tolerance", "ScaleWeight", "TargetCount", "WeightBinFile"};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

enum Type : uint8_t { kInt, kDouble, kObject, kWeight, kString };
constexpr uint8_t kFaultOp = 5;

struct Scene {
  std::unique_ptr<host::Host> host;
  uint32_t cage = 0, a = 0, b = 0, map = 0, effect = 0, calculate = 0;
  std::string base;
};

template <class Fn>
Fn Resolve(const char* name) {
  return reinterpret_cast<Fn>(host::Host::lookupFunction()(name, 0));
}

EffectInstance* Instance(Scene& scene) {
  return static_cast<EffectInstance*>(scene.host->effect(scene.effect)->data.at(ostrand::kInstanceDataKey));
}

void Check(const EffectInstance& instance, const char* step) {
  const std::string broken = test_support::CheckInstance(instance);
  if (broken.empty()) return;
  std::fprintf(stderr, "after %s: %s\n", step, broken.c_str());
  std::abort();
}

host::Mesh Points(int n) {
  host::Mesh mesh;
  for (int i = 0; i < n; ++i) mesh.points.push_back({-0.9 + 0.2 * i, 0.1 * i - 0.4, 0.5 - 0.05 * i});
  return mesh;
}

// A new instance's settings and no computed data; the table and the
// evaluation slots stay.
void Renew(EffectInstance* instance) {
  ostrand::ReleaseComputedData(instance);
  instance->Mode = -1;
  std::memset(instance->Weight, 0, sizeof instance->Weight);
  std::memset(instance->ScaleWeight, 0, sizeof instance->ScaleWeight);
  instance->SetupMask = 0;
  instance->Cage = 0;
  instance->Samples = 32;
  instance->Tolerance = 0.0;
  instance->WeightsPath[0] = '\0';
}

Scene& TheScene() {
  static Scene* scene = [] {
    auto* s = new Scene;
    s->host = std::make_unique<host::Host>();
    if (!test_support::ConnectInProcessModule(*s->host)) std::abort();
    ostrand::SetThreadCount(1);
    // Counts the host makes up must fail as allocations, not as the fuzzer's memory limit.
    ostrand::SetBlockLimit(uint64_t{64} << 20);
    // MakeRelativePath traces every save on standard output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();

    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    s->base = std::string(dir) + "/ostrand_scene_fuzz_" + std::to_string(getpid());
    std::filesystem::create_directories(s->base);
    s->host->setBaseDirectory(s->base);
    s->cage = s->host->addObject("cage", test_support::CubeMesh());
    s->a = s->host->addObject("a", Points(10));
    s->b = s->host->addObject("b", Points(3));
    s->map = s->host->addWeightMap(s->a, "map", {0, 1, 1, 0, 0.5f, 1, 0, 0, 1, 1});
    s->effect = s->host->createEffect({s->a, s->b});
    s->host->buildPanel(s->effect);
    s->calculate = s->host->controlByLabel("Calculate")->id;

    // The two weights files of this setup.
    EffectInstance* instance = Instance(*s);
    instance->Cage = s->cage;
    instance->Samples = 6;
    std::snprintf(instance->WeightsPath, sizeof instance->WeightsPath, "%s/w.cw", s->base.c_str());
    s->host->press(s->calculate, s->effect);
    instance->Mode = 7;
    std::snprintf(instance->WeightsPath, sizeof instance->WeightsPath, "%s/c.cw", s->base.c_str());
    ostrand::WriteWeightsFile(instance);
    std::atexit([] { std::filesystem::remove_all(TheScene().base); });
    return s;
  }();
  return *scene;
}

// Reads the input's records; each is complete or not taken.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool has(size_t n) const { return size_ - at_ >= n; }
  const uint8_t* take(size_t n) {
    const uint8_t* p = data_ + at_;
    at_ += n;
    return p;
  }
  template <class T>
  bool read(T* value) {
    if (!has(sizeof(T))) return false;
    std::memcpy(value, take(sizeof(T)), sizeof(T));
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

std::string PathSafe(std::string text) {
  for (char& c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-';
    if (!ok) c = '_';
  }
  return text;
}

// Saves the input's values into format and arms the faults it names.
void Apply(Reader& in, void* format) {
  static const auto saveInt = Resolve<fxArgSaveInt_fn>("fxArgSaveInt");
  static const auto saveDouble = Resolve<fxArgSaveDouble_fn>("fxArgSaveDouble");
  static const auto saveObject = Resolve<fxArgSaveObj_fn>("fxArgSaveObj");
  static const auto saveWeight = Resolve<fxArgSaveWeight_fn>("fxArgSaveWeight");
  static const auto saveString = Resolve<fxArgSaveString_fn>("fxArgSaveString");
  uint8_t op;
  while (in.read(&op)) {
    const uint8_t kind = op % 8;
    if (kind == kFaultOp) {
      uint8_t fault, skip, times;
      if (!in.read(&fault) || !in.read(&skip) || !in.read(&times)) return;
      const auto kind = static_cast<host::Fault>(fault % static_cast<uint8_t>(host::Fault::kCount));
      // A target of 2^31 - 1 points with a setup map costs as many weight
      // queries: slow, not wrong. The cage's count is refused at once.
      const uint32_t object = kind == host::Fault::kHugePointCount ? TheScene().cage : 0;
      host::ArmFault({kind, object, skip, times == 0 ? -1 : times});
      continue;
    }
    if (kind > kString) continue;
    uint8_t keyIndex;
    if (!in.read(&keyIndex)) return;
    std::string key;
    if (keyIndex < kKeyCount) {
      key = kKeys[keyIndex];
    } else {
      uint8_t length;
      if (!in.read(&length) || !in.has(length)) return;
      key.assign(reinterpret_cast<const char*>(in.take(length)), length);
      key = key.c_str();  // a C key ends at its first NUL
    }
    int32_t i;
    double d;
    uint32_t object;
    int32_t weight[3];
    uint16_t length;
    switch (kind) {
      case kInt:
        if (!in.read(&i)) return;
        saveInt(format, key.c_str(), i, 0);
        break;
      case kDouble:
        if (!in.read(&d)) return;
        saveDouble(format, key.c_str(), d, 0);
        break;
      case kObject:
        if (!in.read(&object)) return;
        saveObject(format, key.c_str(), object, 0);
        break;
      case kWeight:
        if (!in.read(&weight)) return;
        saveWeight(format, key.c_str(), weight, 0);
        break;
      case kString: {
        if (!in.read(&length) || !in.has(length)) return;
        std::string text(reinterpret_cast<const char*>(in.take(length)), length);
        text = text.c_str();
        if (key == "WeightBinFile") text = PathSafe(text);
        saveString(format, key.c_str(), text.c_str(), 0);
        break;
      }
    }
  }
}

struct Settings {
  int32_t mode, samples, weight[3], scaleWeight[3];
  uint32_t cage, setupMask;
  uint64_t tolerance;
  bool operator==(const Settings&) const = default;
};

Settings SettingsOf(const EffectInstance* instance) {
  Settings s{};
  s.mode = instance->Mode;
  s.samples = instance->Samples;
  std::memcpy(s.weight, instance->Weight, sizeof s.weight);
  std::memcpy(s.scaleWeight, instance->ScaleWeight, sizeof s.scaleWeight);
  s.cage = instance->Cage;
  s.setupMask = instance->SetupMask;
  std::memcpy(&s.tolerance, &instance->Tolerance, sizeof s.tolerance);
  return s;
}

// The scenes the module saves itself, encoded as inputs.
void WriteSeeds(const char* directory) {
  Scene& scene = TheScene();
  auto writeSeed = [&](const std::string& name) {
    scene.host->sendMessage(scene.effect, ostrand::kMessageInstanceData, ostrand::kInstanceSave);
    const host::Format& format = scene.host->effect(scene.effect)->formats.at(ostrand::kSceneFormatName);
    std::string bytes;
    for (const auto& [key, value] : format.values) {
      int index = 0;
      while (index < kKeyCount && key != kKeys[index]) ++index;
      bytes += static_cast<char>(value.index());
      bytes += static_cast<char>(index);
      std::visit(
          [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
              const uint16_t length = static_cast<uint16_t>(v.size());
              bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
              bytes += v;
            } else {
              bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
            }
          },
          value);
    }
    FILE* file = std::fopen((std::string(directory) + "/" + name).c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  };
  EffectInstance* instance = Instance(scene);
  Renew(instance);
  writeSeed("new_instance");
  instance->Cage = scene.cage;
  instance->Samples = 6;
  instance->Mode = 0;
  std::snprintf(instance->WeightsPath, sizeof instance->WeightsPath, "%s/w.cw", scene.base.c_str());
  writeSeed("bound");
  instance->Mode = 7;
  std::snprintf(instance->WeightsPath, sizeof instance->WeightsPath, "%s/c.cw", scene.base.c_str());
  instance->SetupMask = scene.map;
  instance->Weight[0] = static_cast<int32_t>(scene.map);
  instance->Tolerance = 0.125;
  writeSeed("counts_only_with_maps");
  Renew(instance);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TheScene();
  if (const char* seeds = std::getenv("OSTRAND_WRITE_SEEDS")) WriteSeeds(seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto formatNew = Resolve<fxFormatNew_fn>("fxFormatNew");
  Scene& scene = TheScene();
  EffectInstance* instance = Instance(scene);
  Renew(instance);

  Reader in(data, size);
  Apply(in, formatNew(scene.host->handleOf(scene.effect), ostrand::kSceneFormatName, 0));
  scene.host->sendMessage(scene.effect, ostrand::kMessageInstanceData, ostrand::kInstanceLoad);
  Check(*instance, "load");
  scene.host->evaluate(scene.effect);
  Check(*instance, "evaluation");
  host::DisarmFaults();
  scene.host->clearMessages();

  const Settings loaded = SettingsOf(instance);
  scene.host->sendMessage(scene.effect, ostrand::kMessageInstanceData, ostrand::kInstanceSave);
  scene.host->sendMessage(scene.effect, ostrand::kMessageInstanceData, ostrand::kInstanceLoad);
  Check(*instance, "second load");
  if (!(SettingsOf(instance) == loaded)) {
    std::fprintf(stderr, "settings changed by a save and load\n");
    std::abort();
  }

  if (instance->Samples >= 1 && instance->Samples <= 16) {
    instance->WeightsPath[0] = '\0';  // nothing written anywhere
    scene.host->press(scene.calculate, scene.effect);
    Check(*instance, "Calculate");
    scene.host->evaluate(scene.effect);
    Check(*instance, "evaluation after Calculate");
  }
  scene.host->clearMessages();
  return 0;
}
