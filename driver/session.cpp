#include "driver/session.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "driver/kept_rest.h"
#include "driver/mesh_file.h"
#include "driver/user_error.h"
#include "driver/weights_check.h"
#include "ostrand/protocol.h"
#include "ostrand/settings.h"

namespace driver {
namespace {

// While alive, the process's standard output goes to /dev/null. The module
// traces the relative weights-file path it stores with a scene on standard
// output; that trace is not this command's output.
class StdoutSilenced {
 public:
  StdoutSilenced() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDOUT_FILENO);
    if (null >= 0) ::close(null);
  }
  ~StdoutSilenced() {
    std::fflush(stdout);
    if (saved_ < 0) return;
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  StdoutSilenced(const StdoutSilenced&) = delete;
  StdoutSilenced& operator=(const StdoutSilenced&) = delete;

 private:
  int saved_;
};




// The module says nothing of why a file could not be written; the system's
// likely reason, found by looking at the folder (", " and the reason, or "").
std::string WhyNotWritten(const std::string& path, uint64_t bytes) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  if (::access(folder.c_str(), W_OK) != 0) return ": " + std::string(std::strerror(errno));
  struct statvfs space {};
  if (::statvfs(folder.c_str(), &space) == 0 &&
      static_cast<uint64_t>(space.f_bavail) * space.f_frsize < bytes + (uint64_t{1} << 16))
    return ": " + std::string(std::strerror(ENOSPC)) + " (" + std::to_string(bytes) + " bytes needed, " +
           std::to_string(static_cast<uint64_t>(space.f_bavail) * space.f_frsize) + " free)";
  return "";
}

}  // namespace

uint64_t WeightsFileSize(const EffectInstance& in) {
  uint64_t size = 20;
  if (in.Targets == nullptr) return size;
  for (int32_t t = 0; t < in.Targets->count; ++t) {
    const TargetEntry& target = in.Targets->records[t];
    size += 12;
    if (in.Mode == ostrand::kModeWeights)
      size += 8ull * target.ActiveCount + 8ull * static_cast<uint32_t>(target.WeightCount);
  }
  return size;
}

Session::Session(const std::string& modulePath, ProgressSink progress, bool privateSettings)
    : progress_(std::move(progress)), host_(std::make_unique<host::Host>()) {
  const std::string& subject = modulePath;
  std::error_code error;
  if (!std::filesystem::is_regular_file(modulePath, error))
    throw UserError(ErrorKind::kRefused, subject, "no such module file");
  if (privateSettings) copy_ = std::make_unique<PrivateModuleCopy>(modulePath);
  try {
    // Absolute, so that a bare file name means the file here, not a library
    // the system would search for.
    host_->loadModule(std::filesystem::absolute(copy_ ? copy_->path() : modulePath, error).string());
  } catch (const std::exception& e) {
    throw UserError(ErrorKind::kRefused, subject, "the module cannot be loaded: " + OneLine(e.what()));
  }
  host_->setCountingCalls(false);  // nobody here reads them
  host_->setMessageSink([this](const host::Message& message) {
    std::lock_guard lock(complaintsMutex_);
    complaints_.push_back(message.text);
  });
  host_->setProgressSink([this](const host::Progress& report) {
    if (progress_) progress_(report);
  });
  if (int32_t result = host_->enter(); result != ostrand::kEntryReady)
    throw UserError(ErrorKind::kRefused, subject,
                    "the module refused to start (entry result " + std::to_string(result) + ")");
  host_->announceServices();
}

Session::~Session() {
  host_.reset();  // the module gone before its private copy
}

uint32_t Session::addObjects(host::Mesh cage, const std::string& cageName, host::Mesh target,
                             const std::string& targetName) {
  Item added;
  added.cageRest = cage;
  try {
    added.cage = host_->addObject(cageName, std::move(cage));
    added.target = host_->addObject(targetName, std::move(target));
  } catch (const std::invalid_argument& e) {
    if (added.cage != 0) host_->removeObject(added.cage);
    throw UserError(ErrorKind::kRefused, added.cage == 0 ? cageName : targetName, OneLine(e.what()));
  }
  effect_ = host_->createEffect({added.target});
  items_[effect_] = std::move(added);
  host_->buildPanel(effect_);
  return effect_;
}

void Session::select(uint32_t item) {
  if (!items_.count(item)) throw std::logic_error("select: no effect item " + std::to_string(item));
  effect_ = item;
}

void Session::removeItem(uint32_t item) {
  auto found = items_.find(item);
  if (found == items_.end()) return;
  host_->destroyEffect(item);
  host_->removeObject(found->second.target);
  host_->removeObject(found->second.cage);
  items_.erase(found);
  if (effect_ == item) effect_ = 0;
}

const Session::Item& Session::item() const {
  auto found = items_.find(effect_);
  if (found == items_.end()) throw std::logic_error("the session has no current effect item");
  return found->second;
}

Session::Item& Session::item() { return const_cast<Item&>(std::as_const(*this).item()); }

void Session::loadScene(const std::string& path) {
  clearComplaints();
  try {
    host_->loadScene(path);
  } catch (const std::exception& e) {
    throw HostFileError(ErrorKind::kInput, path, e.what(), "scene file " + path + ": ");
  }
  // The scene's items replace every earlier one.
  items_.clear();
  effect_ = 0;
  for (uint32_t id : host_->effectIds())
    if (host_->effect(id)->formats.count(ostrand::kSceneFormatName)) {
      effect_ = id;
      break;
    }
  if (effect_ == 0) throw UserError(ErrorKind::kInput, path, "the scene holds no effect item of this module");
  const host::EffectItem& effect = *host_->effect(effect_);
  if (effect.targets.size() != 1)
    throw UserError(ErrorKind::kInput, path,
                    "the effect item has " + std::to_string(effect.targets.size()) +
                        " targets; the command deforms exactly one");
  Item loaded;
  loaded.target = effect.targets[0];
  loaded.cage = instance().Cage;
  if (loaded.cage == 0 || host_->object(loaded.cage) == nullptr)
    throw UserError(ErrorKind::kInput, path, "the effect item has no cage");
  if (instance().Mode != ostrand::kModeWeights)
    throw UserError(ErrorKind::kInput, path, "the effect item was never bound to its cage");
  loaded.cageRest = host_->object(loaded.cage)->mesh;
  items_[effect_] = std::move(loaded);
  // An item the scene brought back with its id kept its panel: one more each
  // load would pile up in a long-lived session.
  const std::vector<host::Control> controls = host_->controls();
  if (std::none_of(controls.begin(), controls.end(), [this](const host::Control& c) { return c.effect == effect_; }))
    host_->buildPanel(effect_);
  throwIfComplained(path, ErrorKind::kInput);
}

void Session::setBaseDirectory(const std::string& folder) { host_->setBaseDirectory(folder); }

uint32_t Session::addWeightMap(const std::string& name, std::vector<float> values) {
  return host_->addWeightMap(item().target, name, std::move(values));
}

void Session::setWeightMapValues(uint32_t map, std::vector<float> values) {
  host_->setWeightMapValues(map, std::move(values));
  Item& current = item();
  if (current.blend == map) pickBlendControl();  // the offset form's copy of the values
}

std::vector<float> Session::weightMapValues(uint32_t map) const {
  const host::WeightMap* found = host_->weightMap(map);
  return found == nullptr ? std::vector<float>{} : found->values;
}

void Session::calculate(const BindSettings& settings, const std::string& subject) {
  clearComplaints();
  checkAnswer(host_->setObject(control("Cage"), effect_, item().cage), "picking the cage");
  checkAnswer(host_->setObject(control("Setup weight"), effect_, settings.setupMap), "picking the setup weight");
  checkAnswer(host_->setInt(control("Samples"), effect_, settings.samples), "setting the samples");
  checkAnswer(host_->setDouble(control("Weight floor"), effect_, settings.weightFloor), "setting the weight floor");
  item().restSums.clear();  // new weights, new rest sums
  checkAnswer(host_->press(control("Calculate"), effect_), "calculating");
  throwIfComplained(subject, ErrorKind::kRefused);
  if (!holdsWeights()) throw UserError(ErrorKind::kRefused, subject, "the module calculated no weights");
}

void Session::setThreads(int count, bool lasting) {
  // The control writes the module's settings file: a count for this session
  // alone goes only to a private copy's.
  if (lasting == (copy_ != nullptr))
    throw std::logic_error(lasting ? "setThreads: a lasting count with private settings"
                                   : "setThreads: a count for this session alone needs private settings");
  checkAnswer(host_->setInt(control("Threads"), effect_, count), "setting the threads");
}

int Session::threads() {
  const uint32_t id = control("Threads");
  checkAnswer(host_->fire(id, effect_, ostrand::kControlRefresh), "reading the threads");
  return host_->control(id)->intValue;
}

void Session::saveWeights(const std::string& path) {
  clearComplaints();
  host_->dialogs().answers.push_back(path);
  checkAnswer(host_->press(control("Save"), effect_), "saving the weights");
  host_->dialogs().answers.clear();
  throwIfComplained(path, ErrorKind::kOutput);
  std::error_code error;
  const uint64_t expected = WeightsFileSize(instance());
  const bool there = std::filesystem::is_regular_file(path, error);
  const uint64_t size = there ? std::filesystem::file_size(path, error) : 0;
  if (!there || size == 0)
    throw UserError(ErrorKind::kOutput, path,
                    "the module could not write the weights file" + WhyNotWritten(path, expected));
  if (size != expected)
    throw UserError(ErrorKind::kOutput, path,
                    "the module wrote " + std::to_string(size) + " bytes of the weights file's " +
                        std::to_string(expected) + WhyNotWritten(path, expected));
}

void Session::loadWeights(const std::string& path) {
  clearComplaints();
  checkAnswer(host_->setObject(control("Cage"), effect_, item().cage), "picking the cage");
  host_->dialogs().answers.push_back(path);
  item().restSums.clear();  // new weights, new rest sums
  checkAnswer(host_->press(control("Load"), effect_), "loading the weights");
  host_->dialogs().answers.clear();
  throwIfComplained(path, ErrorKind::kInput);
  if (!holdsWeights()) throw UserError(ErrorKind::kInput, path, "the module could not read the weights back");
}

void Session::restoreWeights(const std::string& path, uint32_t setupMap, const std::string& setupArgument) {
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(path, error).string();
  host::Format stored{ostrand::kSceneFormatName,
                      {{"Mode", host::NamedValue(int32_t{0})},
                       {"Cage", host::NamedValue(item().cage)},
                       {"SetupMask", host::NamedValue(setupMap)},
                       {"WeightBinFile", host::NamedValue(absolute)}}};
  host_->effect(effect_)->formats[ostrand::kSceneFormatName] = stored;
  clearComplaints();
  item().restSums.clear();  // new weights, new rest sums
  checkAnswer(host_->sendMessage(effect_, ostrand::kMessageInstanceData, ostrand::kInstanceLoad),
              "loading the weights");
  throwIfComplained(path, ErrorKind::kInput);
  if (holdsWeights()) return;
  const host::Mesh& cage = cageRest();
  const std::string hint =
      setupMap ? "" : SetupMapHint(path, cage.points.size(), cage.polygons.size(), targetRest().points.size());
  if (!hint.empty())
    throw UserError(ErrorKind::kInput, path,
                    "the module read no weights from it: " + hint + "; give the same " + setupArgument);
  throw UserError(ErrorKind::kInput, path,
                  "the module read no weights from it: it was not made for this cage and target" +
                      std::string(setupMap ? " with this setup weight map" : "") + ", or is damaged");
}

bool Session::holdsWeights() const {
  const EffectInstance& in = instance();
  if (in.Mode != ostrand::kModeWeights || in.Targets == nullptr || in.Targets->count != 1 || in.Cage != item().cage) return false;
  if (in.CagePoints != cageRest().points.size() || in.CagePolys != static_cast<int32_t>(cageRest().polygons.size()))
    return false;
  const TargetEntry& target = in.Targets->records[0];
  if (target.ActiveCount == 0 || target.WeightCounts == nullptr || target.PointIndices == nullptr) return false;
  // Every point the setup weight map picks has its weights.
  size_t active = targetRest().points.size();
  if (in.SetupMask != 0) {
    const host::WeightMap* map = host_->weightMap(in.SetupMask);
    active = 0;
    if (map != nullptr && map->object == item().target)
      for (float value : map->values) active += !(value == 0.0f);
  }
  return target.ActiveCount == active;
}

std::string Session::storedWeightsFile() const {
  const host::EffectItem* item = host_->effect(effect_);
  auto format = item->formats.find(ostrand::kSceneFormatName);
  if (format == item->formats.end()) return "";
  const host::NamedValue* value = format->second.find("WeightBinFile");
  const std::string* text = value ? std::get_if<std::string>(value) : nullptr;
  return text ? *text : "";
}

void Session::setBlend(uint32_t map) {
  Item& current = item();
  current.blend = map;
  current.blendValues.clear();
  pickBlendControl();
}

void Session::setKeepRest(bool keep) {
  Item& current = item();
  current.keepRest = keep;
  pickBlendControl();
}

void Session::pickBlendControl() {
  Item& current = item();
  const uint32_t map = current.keepRest ? 0 : current.blend;
  if (current.keepRest && current.blend != 0) current.blendValues = weightMapValues(current.blend);
  const int32_t weight[3] = {static_cast<int32_t>(map), 0, 0};
  checkAnswer(host_->setVeci3(control("Weight"), effect_, weight), "picking the blend weight");
}

void Session::deform(const std::vector<Vec3>& cagePoints, const std::string& subject, Frame& frame) {
  if (cagePoints.size() != cageRest().points.size())
    throw std::invalid_argument("deform: the posed cage has another point count");
  frame.points.resize(targetRest().points.size());
  frame.seconds = deform(cagePoints.data(), frame.points.data(), subject);
}

double Session::deform(const Vec3* cagePoints, Vec3* out, const std::string& subject) {
  Item& current = item();
  if (current.keepRest && current.restSums.empty()) {
    current.restSums.resize(targetRest().points.size());
    evaluate(current, current.cageRest.points.data(), current.restSums.data(), subject);
    current.weightSums = WeightSums(instance(), targetRest().points.size());
  }
  const double seconds = evaluate(current, cagePoints, out, subject);
  if (current.keepRest)
    KeepRest(targetRest().points.data(), current.restSums.data(), current.weightSums.data(),
             current.blendValues.empty() ? nullptr : current.blendValues.data(), current.restSums.size(), out);
  return seconds;
}

double Session::evaluate(const Item& current, const Vec3* cagePoints, Vec3* out, const std::string& subject) {
  clearComplaints();
  host_->setPoints(current.cage, cagePoints, current.cageRest.points.size());
  const auto start = std::chrono::steady_clock::now();
  checkAnswer(host_->evaluate(effect_), "evaluating");
  const auto end = std::chrono::steady_clock::now();
  throwIfComplained(subject, ErrorKind::kRefused);
  host_->evaluatedPoints(current.target, out, targetRest().points.size());
  return std::chrono::duration<double>(end - start).count();
}

void Session::saveScene(const std::string& path) {
  Item& current = item();
  host_->setPoints(current.cage, cageRest().points);
  // The scene keeps the blend the user picked, whichever form deforms here.
  const bool keptRest = current.keepRest;
  if (keptRest) setKeepRest(false);
  clearComplaints();
  try {
    StdoutSilenced quiet;
    host_->saveScene(path);
  } catch (const std::exception& e) {
    if (keptRest) setKeepRest(true);
    throw HostFileError(ErrorKind::kOutput, path, e.what(), "scene file " + path + ": ");
  }
  if (keptRest) setKeepRest(true);
  throwIfComplained(path, ErrorKind::kOutput);
}

const host::Mesh& Session::targetRest() const { return host_->object(item().target)->mesh; }

std::string Session::cageName() const { return host_->object(item().cage)->name; }

std::string Session::targetName() const { return host_->object(item().target)->name; }

std::string Session::targetSource() const { return host_->object(item().target)->source; }

void Session::setTargetSource(const std::string& path) { host_->object(item().target)->source = path; }

const EffectInstance& Session::instance() const {
  void* data = nullptr;
  if (host::EffectItem* item = host_->effect(effect_)) {
    auto found = item->data.find(ostrand::kInstanceDataKey);
    if (found != item->data.end()) data = found->second;
  }
  if (data == nullptr) throw std::logic_error("the module keeps no instance for the effect item");
  return *static_cast<const EffectInstance*>(data);
}

uint32_t Session::control(const char* label) const {
  const host::Control* found = host_->controlByLabel(label);
  if (found == nullptr) throw std::logic_error(std::string("the module's panel has no \"") + label + "\" control");
  return found->id;
}

void Session::checkAnswer(int32_t result, const char* action) const {
  if (result != 0) throw std::logic_error(std::string("the module found no instance while ") + action);
}

void Session::clearComplaints() {
  // The host keeps every message, progress report and dialog request for a
  // program that reads them afterwards; here they went to the sinks, and a
  // long-lived session would keep them all.
  host_->clearMessages();
  host_->dialogs().requests.clear();
  std::lock_guard lock(complaintsMutex_);
  complaints_.clear();
}

void Session::throwIfComplained(const std::string& subject, ErrorKind kind) {
  std::lock_guard lock(complaintsMutex_);
  if (complaints_.empty()) return;
  const std::string first = complaints_.front();
  complaints_.clear();
  throw UserError(kind, subject, "the module reports: " + OneLine(first));
}

}  // namespace driver
