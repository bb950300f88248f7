// The eleven named values of the scene format kSceneFormatName.
#include "shell/scene_data.h"

#include "operations/relative_path.h"
#include "operations/weights_file.h"
#include "instance/instance.h"
#include "host_interface/host_function_table.h"
#include "host_interface/messages.h"
#include "host_interface/module_state.h"
#include "shell/settings.h"

namespace ostrand {
namespace {

// The base directory of relative weights-file paths, always terminated.
void BaseDirectory(char (&base)[kPathBufferSize]) {
  base[0] = '\0';
  FX(fxPathGet)(kPathKindBase, base, kPathBufferSize, 0);
  base[kPathBufferSize - 1] = '\0';
}

}  // namespace

void SaveSceneData(EffectInstance* instance, void* format) {
  if (format == nullptr) {
    ShowError(instance->EffectId, "The effect's settings could not be saved with the scene.");
    return;
  }
  FX(fxArgSaveInt)(format, "Mode", instance->Mode, 0);
  FX(fxArgSaveWeight)(format, "Weight", instance->Weight, 0);
  FX(fxArgSaveObj)(format, "Cage", instance->Cage, 0);
  FX(fxArgSaveInt)(format, "CagePoints", static_cast<int32_t>(instance->CagePoints), 0);
  FX(fxArgSaveInt)(format, "CagePolys", instance->CagePolys, 0);
  FX(fxArgSaveObj)(format, "SetupMask", instance->SetupMask, 0);
  FX(fxArgSaveInt)(format, "Samples", instance->Samples, 0);
  FX(fxArgSaveDouble)(format, "Tolerance", instance->Tolerance, 0);
  FX(fxArgSaveWeight)(format, "ScaleWeight", instance->ScaleWeight, 0);
  FX(fxArgSaveInt)(format, "TargetCount", instance->Targets ? instance->Targets->count : 0, 0);

  char base[kPathBufferSize];
  BaseDirectory(base);
  char relative[kPathBufferSize];
  MakeRelativePath(relative, sizeof relative, base, instance->WeightsPath);
  FX(fxArgSaveString)(format, "WeightBinFile", relative, 0);
}

void LoadSceneData(EffectInstance* instance, void* format) {
  if (format == nullptr) {
    ShowError(instance->EffectId, "The effect's settings could not be read from the scene.");
    return;
  }
  FX(fxArgLoadInt)(format, "Mode", &instance->Mode);
  FX(fxArgLoadWeight)(format, "Weight", instance->Weight);
  FX(fxArgLoadObj)(format, "Cage", &instance->Cage);
  // The stored cage counts describe the cage at saving time; they are read
  // as the format requires and replaced by the cage's current ones below, so
  // no stored count ever describes the instance's arrays.
  int32_t storedCount = 0;
  FX(fxArgLoadInt)(format, "CagePoints", &storedCount);
  FX(fxArgLoadInt)(format, "CagePolys", &storedCount);
  FX(fxArgLoadObj)(format, "SetupMask", &instance->SetupMask);
  FX(fxArgLoadInt)(format, "Samples", &instance->Samples);
  FX(fxArgLoadDouble)(format, "Tolerance", &instance->Tolerance);
  FX(fxArgLoadWeight)(format, "ScaleWeight", instance->ScaleWeight);
  int32_t targetCount = 0;
  FX(fxArgLoadInt)(format, "TargetCount", &targetCount);

  char stored[kPathBufferSize] = "";
  FX(fxArgLoadString)(format, "WeightBinFile", stored, kPathBufferSize);
  stored[kPathBufferSize - 1] = '\0';
  char base[kPathBufferSize];
  BaseDirectory(base);
  ResolveRelativePath(instance->WeightsPath, kWeightsPathSize, base, stored);

  // Without the update the settings still load; the weights file is then
  // checked against the targets the table holds.
  if (CanUpdateTargets(instance->EffectId) && instance->Targets != nullptr)
    USEFUL(useful_TargetListEffectUpdate)(instance->Targets);
  // What counts now is the cage as it is; the weights file is checked against that.
  ReleaseComputedData(instance);
  ReadCageGeometry(instance);
  if (instance->WeightsPath[0] != '\0') ReadWeightsFile(instance);
}

}  // namespace ostrand
