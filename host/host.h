// The host stand-in: the host application as far as the module can see it.
//
// One Host is current per process at a time (the host functions handed to the
// module are plain C functions, so they reach the scene through Host::current()).
// It keeps real meshes, weight maps, effect items with their target lists, data
// records, formats with named values, controls and scene files, answers every
// host function name, and records what the module asked of it.
//
// Reads of mesh data, fxMeshPointWeight, fxDisplacePoint and the ray test are
// safe from many threads at once, as long as the scene is not edited meanwhile.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "ostrand/host_api.h"
#include "ostrand/protocol.h"
#include "ostrand/types.h"

namespace host {

struct Mesh {
  std::vector<Vec3> points;
  std::vector<std::vector<int32_t>> polygons;  // point numbers in boundary order
};

struct Object {
  uint32_t id = 0;
  std::string name;
  // The file the mesh was read from, "" when none; kept in scene files, so
  // that a program can find the mesh's other records again.
  std::string source;
  Mesh mesh;
  // Displacements since the last fxDisplaceBegin of this object.
  std::vector<Vec3> displaced;
  std::unique_ptr<std::atomic<uint8_t>[]> hasDisplacement;
};

struct WeightMap {
  uint32_t id = 0;
  uint32_t object = 0;
  std::string name;
  std::vector<float> values;  // one per point of the object
};

// A named value of a format; the variant index tells its type.
using NamedValue = std::variant<int32_t, double, uint32_t /*object*/, std::array<int32_t, 3> /*weight*/, std::string>;

struct Format {
  std::string name;
  std::vector<std::pair<std::string, NamedValue>> values;  // in the order saved
  const NamedValue* find(const std::string& key) const;
};

struct TargetList;  // the geometry module's table behind a TargetTable

struct EffectItem {
  uint32_t id = 0;
  std::vector<uint32_t> targets;  // target object ids, in the host's order
  std::map<std::string, void*> data;  // fxDataSet records by key
  std::map<std::string, Format> formats;  // scene formats by name
  TargetList* list = nullptr;
};

struct Message {
  uint32_t effectId;
  std::string heading;
  uint32_t kind;
  std::string text;
  std::string text2;  // "" when the module passed null
  bool hasText2;
};

struct Progress {
  uint32_t zero;
  int32_t percent;
  uint32_t kind;
  std::string text;
};

struct Lookup {
  std::string name;
  uint32_t group;
};

// A control created by the module. args holds the creation arguments after the
// label and the callback, integers and floats alike, in call order.
struct Control {
  uint32_t id = 0;
  std::string creator;  // host function that created it: "fxCC_Button", ...
  std::string label;
  ControlCallback callback = nullptr;
  std::vector<double> args;
  uint32_t block = 0;  // the block created last before this control (0 for blocks)
  // The effect whose panel made it, 0 for none; its controls go with the effect.
  uint32_t effect = 0;
  int32_t width = 0, height = 0, x = 0, y = 0;
  bool sized = false, placed = false;
  // The value the control shows.
  uint32_t objectValue = 0;
  int32_t intValue = 0;
  double doubleValue = 0.0;
  int32_t veci3[3] = {0, 0, 0};
  int disableCount = 0;
};

struct BlockPlacement {
  std::string page, page2;
  int32_t a;
  uint32_t block;
  int32_t b;
};

// A request seen by the dialog suppliers GetSaveFileNameA / GetOpenFileNameA.
struct DialogRequest {
  bool save;
  uint32_t structSize;
  std::vector<std::string> filter;  // the NUL-separated filter list, split
  uint32_t filterIndex;
  std::string initialFile;  // lpstrFile on entry
  uint32_t maxFile;
  uint32_t flags;
  std::string defExt;  // "" when null
  bool hasDefExt;
  bool ownerNull, initialDirNull, titleNull;
};

// The dialogs' answers, used in order: a path, or nullopt for "cancel". With
// no answer left the dialog is cancelled.
struct DialogScript {
  std::deque<std::optional<std::string>> answers;
  std::vector<DialogRequest> requests;
};

// The loaded module file and its three entry points.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path);  // throws std::runtime_error
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  int32_t api() const;
  int32_t entry(char* nameBuffer, HostLookup lookup, uint32_t hostWord, uint32_t hostFlags) const;
  int32_t exit() const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  OrreryApiFn api_ = nullptr;
  OrreryEntryFn entry_ = nullptr;
  OrreryExitFn exit_ = nullptr;
};

class Host {
 public:
  Host();  // becomes the current host; throws if another Host is alive
  // Like a host closing: sends kMessageInstanceData with kInstanceDestroy to
  // every remaining effect, calls orreryExit if the module was entered and not
  // exited, then unloads it.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  static Host& current();  // throws std::logic_error when no Host is alive
  static Host* currentOrNull();
  static HostLookup lookupFunction();  // the hostLookup to hand to the module

  // Lookup control and record.
  void missName(const std::string& name);  // the lookup answers null for it
  std::vector<Lookup> lookups() const;
  void clearLookups();

  // Scene building. Ids are never 0 and never reused within a Host (loadScene
  // takes the file's ids; later ones come after them). Bad meshes (point
  // numbers out of range) throw std::invalid_argument.
  uint32_t addObject(const std::string& name, Mesh mesh);
  uint32_t addObjectFromObj(const std::string& path, const std::string& name = "");  // throws on bad file
  void setPoints(uint32_t object, const std::vector<Vec3>& points);  // pose: same count
  void setPoints(uint32_t object, const Vec3* points, size_t count);  // the same from an array
  // Removes the object and its weight maps (no effect item may target it any more).
  void removeObject(uint32_t object);
  uint32_t addWeightMap(uint32_t object, const std::string& name, std::vector<float> values);
  // New values for a weight map, one per point of its object, as a user painting it.
  void setWeightMapValues(uint32_t map, std::vector<float> values);
  Object* object(uint32_t id);
  std::vector<uint32_t> objectIds() const;  // in creation (or scene file) order
  std::vector<uint32_t> effectIds() const;  // ascending
  const WeightMap* weightMap(uint32_t id) const;
  // The object's points with the displacements since its last fxDisplaceBegin applied.
  std::vector<Vec3> evaluatedPoints(uint32_t object) const;
  // The same into points, whose storage is reused (frame after frame).
  void evaluatedPoints(uint32_t object, std::vector<Vec3>& points) const;
  // The same into an array of count points, count being the object's point count.
  void evaluatedPoints(uint32_t object, Vec3* points, size_t count) const;

  // Paths the module asks for.
  void setPluginPath(const std::string& path);  // fxPluginPath; set by loadModule too
  void setBaseDirectory(const std::string& path);  // fxPathGet kind kPathKindBase
  std::string pluginPath() const;
  std::string baseDirectory() const;  // the working directory until set

  // The module. loadModule opens the file; enter() calls orreryEntry with a
  // valid host word (0x100000, within kHostWordMask) and kHostFlagsRequired
  // unless told otherwise.
  // The plug-in path becomes the file's absolute path. One module per Host.
  LoadedModule& loadModule(const std::string& path);
  int32_t enter(uint32_t hostWord = 0x100000, uint32_t hostFlags = ostrand::kHostFlagsRequired);
  void announceServices();  // kMessageServices with kServicesGeometry
  int32_t exitModule();
  ModuleCallback moduleCallback() const;  // registered by fxModuleRegister, or null
  std::string moduleName() const;  // what orreryEntry wrote into its name buffer
  // What registration recorded.
  std::vector<std::string> registrations() const;  // e.g. "fxModuleAccess(29, 0x1, 0)"
  // Direct registration without a loaded module (unit tests that link the
  // module's code call its callback themselves).
  void setModuleCallback(ModuleCallback callback);

  // Effects. createEffect makes an effect item on these targets and, when a
  // module callback is registered, sends kMessageInstanceData with
  // kInstanceCreate.
  uint32_t createEffect(const std::vector<uint32_t>& targets);
  void setTargets(uint32_t effect, const std::vector<uint32_t>& targets);
  EffectItem* effect(uint32_t id);
  // The host handle passed with messages: the item's address, stable while it
  // lives; effect 0 gives the handle of messages about no item
  // (kMessageServices). Unknown effects throw std::invalid_argument, here and
  // in the functions below.
  void* handleOf(uint32_t effect);
  int32_t sendMessage(uint32_t effect, int32_t message, uint64_t argument);  // 0 without a callback
  // kMessageInstanceData with kInstancePrepare, then kMessageEvaluate with
  // kEvaluateDisplace.
  int32_t evaluate(uint32_t effect);
  // kMessageInstanceData with kInstanceDestroy, and forgets the item with
  // everything kept for it: its records and formats, the controls its panel
  // made with their panel calls and block placements, and a target list the
  // module left (each record handed to the list's free callback first).
  int32_t destroyEffect(uint32_t effect);

  // Controls. buildPanel sends kMessageControlPanel with kControlPanelBuild and
  // returns the controls it created, in creation order.
  std::vector<uint32_t> buildPanel(uint32_t effect);
  Control* control(uint32_t id);
  Control* controlByLabel(const std::string& label);  // last created with that label
  std::vector<Control> controls() const;
  std::vector<BlockPlacement> blockPlacements() const;
  // Creation, size, position and block calls in order, e.g.
  // "fxCC_Button(Calculate, callback, 0, 90) = 7", "fxConSetSize(7, 90, 20)",
  // "fxConSetPos(7, 10, 30)", "fxInterfaceBlockSet(Deform, (null), 0, 3, 1)".
  std::vector<std::string> panelCalls() const;
  // Calls the control's callback; unknown controls or no callback throw std::invalid_argument.
  int32_t fire(uint32_t control, uint32_t effect, uint64_t event);
  // Sets the control's value as a user would and fires kControlChanged.
  int32_t setObject(uint32_t control, uint32_t effect, uint32_t object);
  int32_t setInt(uint32_t control, uint32_t effect, int32_t value);
  int32_t setDouble(uint32_t control, uint32_t effect, double value);
  int32_t setVeci3(uint32_t control, uint32_t effect, const int32_t value[3]);
  int32_t press(uint32_t control, uint32_t effect);

  // Scene files (JSON): objects, weight maps, effect items with their targets
  // and formats. saveScene first sends kMessageInstanceData with kInstanceSave
  // to every effect; loadScene replaces the scene (destroying every effect,
  // though an effect the file brings back with its id keeps its panel),
  // creates each effect (kInstanceCreate), stores its formats and sends
  // kInstanceLoad. Both throw std::runtime_error with a clear text on failure.
  void saveScene(const std::string& path);
  void loadScene(const std::string& path);

  // What the module told the user.
  std::vector<Message> messages() const;
  std::vector<Progress> progress() const;
  void clearMessages();
  // Called (on the calling thread, under the records' lock, so in order) for
  // each message or progress report as it arrives, for programs that show them
  // live. A sink must not call back into the Host.
  void setMessageSink(std::function<void(const Message&)> sink);
  void setProgressSink(std::function<void(const Progress&)> sink);

  // Dialog suppliers' script and record.
  DialogScript& dialogs();

  // Calls of the functions with behaviour, by name ("fxMeshPoint", ...).
  long calls(const std::string& name) const;
  void resetCalls();
  // Counting is on in a new Host; a program that never reads the counts may
  // turn it off (calls() then stays where it was).
  void setCountingCalls(bool counting);
  // fxDisplacePoint calls that arrived outside a fxDisplaceBegin/End bracket
  // of their object.
  long displaceOutsideBracket() const;

  // Internals shared with the host function implementations.
  struct State;
  State& state() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

// Geometry services, exposed for tests and benchmarks.
// Watertight ray-triangle test in double precision (see host_api.inc).
int32_t RayIntersectTriangle(const Vec3* origin, const Vec3* direction, const Vec3* c0, const Vec3* c1,
                             const Vec3* c2, double* distance, double* barycentric3, int32_t zero);
// Cancelling a calculation: the module has no way to stop "Calculate" once
// pressed, so while cancel holds, the geometry service's ray test answers
// every ray with a miss at once, and the rest of the calculation costs next
// to nothing (its weights are of no use: the caller drops them). Safe to call
// from a signal handler; holds for the whole process, as the host does.
void CancelRayTests(bool cancel) noexcept;
// Triangles (as point-number triples) covering a polygon of the mesh, n - 2 of
// them for n >= 3 points: a fan for convex polygons, ear clipping otherwise.
std::vector<std::array<int32_t, 3>> TriangulatePolygon(const std::vector<Vec3>& points,
                                                        const std::vector<int32_t>& polygon);

// Reads an OBJ file (positions and faces, faces kept as polygons). Throws
// std::runtime_error naming the file and the problem.
Mesh ReadObj(const std::string& path);
// Writes points and polygons as OBJ (1-based indices, polygons in order).
void WriteObj(const std::string& path, const Mesh& mesh);

}  // namespace host
