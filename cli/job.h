// What the command is asked to do, and doing it: bind a target to a cage,
// deform the target with posed cages, or both in one go.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/frame_files.h"
#include "cli/preview.h"
#include "ostrand/settings.h"

namespace cli {

struct Job {
  std::string module;                  // the module file to load
  std::string output = "ostrand-out";  // folder for everything written
  bool quiet = false;                  // no progress, no summary
  bool noWait = false;                 // another run writing into the folder fails this one
  bool checkOnly = false;              // check the cage (and the target in it) and stop
  bool strict = false;                 // any warning fails the run
  bool allowUnbound = false;           // points without weights stay where they are
  double warnRestError = 0.01;         // fraction of the cage's size

  // Where the target, the cage and the weights come from: the two meshes,
  // bound in this run (bind) or with a weights file made earlier
  // (weightsFile); or else a scene file.
  std::string cage, target;
  bool bind = false;
  int samples = ostrand::kDefaultSamples;
  double weightFloor = 0.0;
  std::optional<int> threads;
  bool saveThreads = false;  // the module keeps `threads` as its setting for later runs
  std::string setupWeights;  // weight map file picking the points to bind
  std::string weightsFile;
  std::string sceneFile;

  // Deforming: the posed cages in order, each giving one deformed target:
  // OBJ files, or one animation (numbered files, a folder, a wildcard
  // pattern or a point cache; see CageAnimation).
  std::vector<std::string> poses;
  std::optional<FrameRange> frames;  // the frames deformed; every one when none
  std::string framesText;            // the range as given
  bool allowGaps = false;            // missing numbered frames are skipped
  std::string poseAxis;              // the axis conversion every posed cage is read with (checks/pose_check.h); "" none
  // The deformed frames: OBJ files named by outPattern (in the output
  // folder), caches (PC2 or MDD each by its suffix), or with neither, an OBJ
  // file per posed cage file named after it (DeformedName).
  std::string outPattern;
  std::vector<std::string> caches;
  double fps = 24.0;  // frames per second, for cache times no input cache gives
  std::optional<long> startFrame;  // the number the outputs give the first frame; none: its own
  std::string blendWeights;  // weight map file blending the deformation
  bool keepRest = false;     // the offset form of the deformation (driver::KeepRest)
  // The target's material libraries and their textures copied beside the
  // deformed OBJ files, which keep naming them as the target does; without
  // it, the OBJ files name the target's own from where they are.
  bool copyMaterials = false;
  std::string preview;       // PNG file, "" for none
  bool previewErrors = false;  // the rest target coloured by its rest-pose error
  PreviewSize previewSize;
  int previewPose = 1;  // which frame the preview shows, from 1 (the first deformed)
};

// The names the job writes into its output folder.
inline constexpr const char* kWeightsName = "weights.cw";
inline constexpr const char* kSceneName = "scene.json";
std::string DeformedName(const std::string& posePath);  // "deformed-<pose name>.obj"

// Reads and checks every input first, so that bad input writes nothing; then
// binds or loads the weights, deforms, writes and prints the summary. Throws
// UserError on bad input (of kind usage for arguments found wrong once the
// files are looked at: ArgumentError).
void RunJob(const Job& job);

}  // namespace cli
