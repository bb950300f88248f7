// The effect's panel: nine controls in two blocks, and their callbacks, which
// copy values between the controls and the item's instance and start the
// calculation and the weights-file actions.
#include "shell/control_panel.h"

#include "operations/calculation_driver.h"
#include "operations/file_choosers.h"
#include "operations/threads.h"
#include "operations/weights_file.h"
#include "instance/instance.h"
#include "host_interface/host_function_table.h"
#include "host_interface/messages.h"
#include "host_interface/module_state.h"
#include "ostrand/protocol.h"
#include "shell/settings.h"
#include "ostrand/settings.h"

namespace ostrand {
namespace {

int32_t CageControl(uint32_t control, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event == kControlRefresh) {
    FX(fxConSetObj)(control, instance->Cage);
  } else if (event == kControlChanged) {
    FX(fxConGetObj)(control, &instance->Cage);
    ReleaseComputedData(instance);
    // The evaluation refreshes the cage positions in place, so it must find an
    // array of the new cage's length. The polygon count is read too, so that a
    // weights file made for this cage is accepted by "Load" straight away.
    ReadCageGeometry(instance);
  }
  return 0;
}

int32_t SetupWeightControl(uint32_t control, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event == kControlChanged) FX(fxConGetObj)(control, &instance->SetupMask);
  if (event == kControlRefresh) FX(fxConSetObj)(control, instance->SetupMask);
  return 0;
}

int32_t SamplesControl(uint32_t control, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event == kControlChanged) FX(fxConGetInt)(control, &instance->Samples);
  if (event == kControlRefresh) FX(fxConSetInt)(control, instance->Samples);
  return 0;
}

int32_t WeightFloorControl(uint32_t control, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event == kControlChanged) {
    double value = instance->Tolerance;
    FX(fxConGetDouble)(control, &value);
    instance->Tolerance = value;
  }
  if (event == kControlRefresh) FX(fxConSetDouble)(control, instance->Tolerance);
  return 0;
}

int32_t WeightControl(uint32_t control, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event == kControlChanged) FX(fxConGetVeci3)(control, instance->Weight);
  if (event == kControlRefresh) FX(fxConSetVeci3)(control, instance->Weight);
  return 0;
}

int32_t ThreadsControl(uint32_t control, uint32_t effectId, void*, uint64_t event) {
  if (FindInstance(effectId) == nullptr) return 1;
  if (event == kControlChanged) {
    int32_t count = num_threads;
    FX(fxConGetInt)(control, &count);
    if (count <= 0) {
      FX(fxConSetInt)(control, 1);
      count = 1;
    }
    SetThreadCount(count);
    writeSettings();
  }
  if (event == kControlRefresh) FX(fxConSetInt)(control, num_threads);
  return 0;
}

int32_t CalculateButton(uint32_t, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event != kControlChanged) return 0;
  // What cannot be calculated is refused before anything is released, so
  // that the weights the instance holds stay as they are.
  if (!CanUpdateTargets(effectId) || RefuseCalculation(instance)) return 0;
  ReleaseComputedData(instance);
  if (instance->Targets != nullptr) USEFUL(useful_TargetListEffectUpdate)(instance->Targets);
  PrepareTargets(instance);
  // A target that could not be calculated whole keeps no weights.
  CalculateCoordinates(instance, IncompleteTarget::kRelease);
  CompactWeights(instance, &SpreadOverWorkers);
  instance->Mode = kModeWeights;
  FX(fxConDisable)(0);
  FX(fxConDisable)(0);
  if (instance->WeightsPath[0] != '\0') WriteWeightsFile(instance);
  return 0;
}

int32_t LoadButton(uint32_t, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event != kControlChanged) return 0;
  ChooseOpenFile(instance);
  ReadWeightsFile(instance);
  return 0;
}

int32_t SaveButton(uint32_t, uint32_t effectId, void*, uint64_t event) {
  EffectInstance* instance = FindInstance(effectId);
  if (instance == nullptr) return 1;
  if (event != kControlChanged) return 0;
  ChooseSaveFile(instance);
  WriteWeightsFile(instance);
  return 0;
}

void Place(uint32_t control, int32_t x, int32_t y) { FX(fxConSetPos)(control, x, y); }

void SizeAndPlace(uint32_t control, int32_t width, int32_t height, int32_t x, int32_t y) {
  FX(fxConSetSize)(control, width, height);
  FX(fxConSetPos)(control, x, y);
}

}  // namespace

int32_t BuildControlPanel(void*, uint32_t, uint64_t argument) {
  if (argument != kControlPanelBuild) return 0;
  uint32_t setup = FX(fxCC_Block)("Setup", 0, 0, 32);
  Place(FX(fxCC_ObjectPopup)("Cage", CageControl, 1, 170, 0, 0, 0, 0xA100), 82, 5);
  Place(FX(fxCC_WeightPopup)("Setup weight", SetupWeightControl, 1, 170), 82, 30);
  SizeAndPlace(FX(fxCC_DragInt)("Samples", SamplesControl, 1, kLeastSamples, kMostSamples, 1, 0), 80, 17, 82, 80);
  SizeAndPlace(FX(fxCC_DragFloat)("Weight floor", WeightFloorControl, 1, kLeastWeightFloor, kMostWeightFloor, 0.01, 0),
               80, 17, 82, 105);
  Place(FX(fxCC_Button)("Calculate", CalculateButton, 0, 170), 82, 130);
  Place(FX(fxCC_Button)("Load", LoadButton, 0, 80), 82, 150);
  Place(FX(fxCC_Button)("Save", SaveButton, 0, 80), 167, 150);
  SizeAndPlace(FX(fxCC_DragInt)("Threads", ThreadsControl, 1, kLeastThreads, kMostThreads, 1, 0), 80, 17, 82, 180);
  FX(fxInterfaceBlockSet)("Setup", "Setup", 0, setup, 0);

  uint32_t animatable = FX(fxCC_Block)("Animatable", 0, 0, 32);
  Place(FX(fxCC_WeightCombo)("Weight", WeightControl, 1, 170, 0), 82, 5);
  FX(fxInterfaceBlockSet)("Animate", "Animate", 0, animatable, 0);
  FX(fxInterfaceBlockSet)("Setup", "Setup", 0, animatable, 0);
  return 0;
}

}  // namespace ostrand
