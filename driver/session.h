// One host stand-in with the module loaded into it, and the effect items a
// program works with, each a target object deformed by a cage object. One is
// current at a time; everything below but the item functions works on it.
// Only one Session (one host) lives in a process at a time.
//
// Everything that changes what the module holds goes through its controls and
// messages, as the host's user would: the "Cage" control, "Samples", "Weight
// floor", "Setup weight", "Threads", the "Calculate", "Save" and "Load"
// buttons with the dialog suppliers answering, the scene load message and the
// evaluation message. The module's instance record is only ever read.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "driver/private_module.h"
#include "driver/user_error.h"
#include "host/host.h"
#include "ostrand/settings.h"

namespace driver {

// The length of the weights file the module writes for the instance: the
// header, and per target its counts and, once calculated, a point number, a
// count and a (cage point, weight) pair per weight for each active point.
uint64_t WeightsFileSize(const EffectInstance& instance);

class Session {
 public:
  using ProgressSink = std::function<void(const host::Progress&)>;

  // Loads the module file, enters it and announces the geometry services.
  // With privateSettings, a private copy of the module file is loaded
  // (driver/private_module.h), so that setThreads never touches the settings
  // file of the module at modulePath. Throws UserError (refused: the plug-in
  // cannot be had) naming the module file.
  Session(const std::string& modulePath, ProgressSink progress, bool privateSettings = false);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // A cage and a target object, and an effect item on the target with its
  // panel built, which becomes the current item. Returns the item's id.
  // Throws UserError (refused) when the host refuses a mesh.
  uint32_t addObjects(host::Mesh cage, const std::string& cageName, host::Mesh target, const std::string& targetName);
  // Makes an item added earlier current again.
  void select(uint32_t item);
  // Destroys the item (the module drops its weights) and removes its objects.
  // No item is current afterwards until another is selected or added.
  void removeItem(uint32_t item);
  // Or a scene file's objects and its effect item of this module, with the
  // weights the module reads back while loading. Throws UserError (input)
  // naming the file.
  void loadScene(const std::string& path);
  // The folder relative weights-file paths in scene files start from.
  void setBaseDirectory(const std::string& folder);
  // A weight map on the target, one value per target point; returns its id.
  uint32_t addWeightMap(const std::string& name, std::vector<float> values);
  // New values for a weight map added earlier (as many as before).
  void setWeightMapValues(uint32_t map, std::vector<float> values);
  // A weight map's values, one per target point (empty when there is none).
  std::vector<float> weightMapValues(uint32_t map) const;

  // Binding. calculate picks the cage, sets the values and presses
  // "Calculate"; throws UserError (refused, naming subject) when the module objects.
  struct BindSettings {
    int samples = ostrand::kDefaultSamples;
    double weightFloor = 0.0;
    uint32_t setupMap = 0;  // 0: every point
  };
  void calculate(const BindSettings& settings, const std::string& subject);
  // Sets the module-wide thread count through the "Threads" control, which
  // also writes it into the module's settings file: lasting, in the session
  // without private settings; else (a count for this session alone) in a
  // session with private settings, whose copy's file alone is written.
  void setThreads(int count, bool lasting);
  int threads();  // the module-wide count as its control shows it

  // The weights file. saveWeights presses "Save" and checks that the file is
  // there; loadWeights re-picks the cage (which drops the weights held) and
  // presses "Load", so that afterwards only what the file holds is there.
  // Both throw UserError naming path: output for a save, input for a load.
  void saveWeights(const std::string& path);
  void loadWeights(const std::string& path);
  // Brings back the weights of a file made earlier for this cage and target,
  // on an effect never calculated, the way loading a scene does: the host
  // hands the module its stored values (bound, cage, setup map, file) with
  // the load message. Throws UserError (input) naming path when none were read;
  // when the file looks bound with a setup weight map and none was given,
  // it says so and asks for setupArgument (how the user gives that map).
  void restoreWeights(const std::string& path, uint32_t setupMap,
                      const std::string& setupArgument = "--setup-weights");
  // Whether the module holds weights for every active point of the target
  // and for the cage as it is.
  bool holdsWeights() const;
  // The weights file named in the effect's stored scene values, "" if none.
  std::string storedWeightsFile() const;

  // Deforming. setBlend picks the weight map that blends the deformation (0
  // for none); setKeepRest picks the offset form (KeepRest), for which the
  // module evaluates unblended and the blend is applied here. deform poses
  // the cage, sends the evaluation message and reads the target's evaluated
  // points into frame, whose storage is reused frame after frame (UserError,
  // refused, naming subject when the module objects).
  void setBlend(uint32_t map);
  void setKeepRest(bool keep);
  struct Frame {
    std::vector<Vec3> points;
    double seconds = 0.0;  // the module's evaluation
  };
  void deform(const std::vector<Vec3>& cagePoints, const std::string& subject, Frame& frame);
  // The same with arrays: cagePoints holds the cage's point count, out the
  // target's. Returns the seconds of the module's evaluation (the message alone).
  double deform(const Vec3* cagePoints, Vec3* out, const std::string& subject);

  // Saves the scene with the cage back at rest. Throws UserError (output) naming path.
  void saveScene(const std::string& path);

  const host::Mesh& cageRest() const { return item().cageRest; }
  const host::Mesh& targetRest() const;
  std::string cageName() const;
  std::string targetName() const;
  // The OBJ file the target was read from (kept in the scene), "" when unknown.
  std::string targetSource() const;
  void setTargetSource(const std::string& path);
  const EffectInstance& instance() const;

 private:
  uint32_t control(const char* label) const;
  void checkAnswer(int32_t result, const char* action) const;
  void clearComplaints();
  // A complaint of the module since clearComplaints, as UserError of the kind given naming subject.
  void throwIfComplained(const std::string& subject, ErrorKind kind);

  ProgressSink progress_;
  struct Item {
    uint32_t cage = 0, target = 0;
    host::Mesh cageRest;
    uint32_t blend = 0;  // weight map
    bool keepRest = false;
    std::vector<float> blendValues;  // for the offset form: the blend map's, or none
    std::vector<Vec3> restSums;      // for the offset form: the deformation at rest; empty until needed
    std::vector<double> weightSums;  // for the offset form: each point's weights added up, filled with restSums
  };
  const Item& item() const;  // the current one; std::logic_error when none
  Item& item();
  void pickBlendControl();  // the module's "Weight" control as the current item's form needs
  // Poses the cage, evaluates and reads the target back; returns the seconds of the evaluation message.
  double evaluate(const Item& current, const Vec3* cagePoints, Vec3* out, const std::string& subject);
  std::map<uint32_t, Item> items_;  // by effect item id
  uint32_t effect_ = 0;  // the current item, 0 for none
  mutable std::mutex complaintsMutex_;
  std::vector<std::string> complaints_;  // module messages since the action began
  std::unique_ptr<PrivateModuleCopy> copy_;  // the module file loaded, when private
  // Last, so that it goes first: closing the scene may still send messages.
  std::unique_ptr<host::Host> host_;
};

}  // namespace driver
