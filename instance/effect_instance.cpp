// Creating, finding and destroying the instance of an effect item, and the
// instance-data message that drives it.
#include <cstring>

#include "deform/evaluation.h"
#include "instance/instance.h"
#include "instance/scene_data.h"
#include "shell/host_function_table.h"
#include "shell/memory.h"
#include "shell/messages.h"
#include "shell/module_state.h"

namespace ostrand {

EffectInstance* FindInstance(uint32_t effectId) {
  auto* instance = static_cast<EffectInstance*>(FX(fxDataGet)(effectId, kInstanceDataKey, 0));
  if (instance == nullptr) ShowError(effectId, "Ostrand data not found!");
  return instance;
}

bool CanUpdateTargets(uint32_t effectId) {
  if (USEFUL(useful_TargetListEffectUpdate) != nullptr) return true;
  ShowError(effectId, "The host offers no target-list update: the effect's targets cannot be brought up to date.");
  return false;
}

EffectInstance* CreateInstance(uint32_t effectId) {
  void* table = nullptr;
  if (auto create = USEFUL(useful_CreateTargetList))
    table = create(effectId, 0, 1, InitTargetEntry, FreeTargetEntry, CopyTargetEntry,
                   static_cast<int32_t>(sizeof(TargetEntry)), 0);

  EffectInstance* instance = nullptr;
  if (!AllocateArray(instance, 1)) {
    ShowError(effectId, "Not enough memory for the effect's data: the effect does nothing.");
    return nullptr;
  }
  // Without a table the instance still keeps its settings (and the scene
  // them); it just has no targets to deform.
  if (table == nullptr) ShowError(effectId, "The host gave the effect no target list: it cannot deform its targets.");
  instance->EffectId = effectId;
  instance->Mode = -1;
  instance->Targets = static_cast<TargetTable*>(table);
  instance->Samples = 32;
  instance->Tolerance = 0.0;
  instance->DisplacePlain = DisplacePlainSerial;
  FX(fxDataSet)(effectId, kInstanceDataKey, 0, instance);
  return instance;
}

void DestroyInstance(EffectInstance* instance) {
  uint32_t effectId = instance->EffectId;
  ReleaseComputedData(instance);
  FX(fxDataFree)(effectId, kInstanceDataKey, 0);
  FreeArray(instance);
  auto fetch = USEFUL(useful_FetchTargetList);
  auto remove = USEFUL(useful_DeleteTargetList);
  if (fetch == nullptr || remove == nullptr) {
    ShowError(effectId, "The host offers no way to delete the effect's target list; it stays with the host.");
    return;
  }
  void* table = fetch(effectId, 0);
  if (table != nullptr) remove(table);
}

int32_t InstanceDataHandler(void* handle, uint32_t effectId, uint64_t subMessage) {
  switch (subMessage) {
    case 0x1:
      CreateInstance(effectId);
      return 0;
    case 0x4: {
      EffectInstance* instance = FindInstance(effectId);
      if (instance == nullptr) return 1;
      DestroyInstance(instance);
      return 0;
    }
    case 0x800: {
      EffectInstance* instance = FindInstance(effectId);
      if (instance == nullptr) return 1;
      LoadSceneData(instance, FX(fxFormatGet)(handle, kSceneFormatName));
      return 0;
    }
    case 0x1000: {
      EffectInstance* instance = FindInstance(effectId);
      if (instance == nullptr) return 1;
      SaveSceneData(instance, FX(fxFormatNew)(handle, kSceneFormatName, 0));
      return 0;
    }
    case 0x8000000:
      return FindInstance(effectId) == nullptr ? 1 : 0;
    case 0x10000000: {
      EffectInstance* instance = FindInstance(effectId);
      if (instance == nullptr) return 1;
      // Without the update the table stays as it was: evaluation still
      // deforms the targets it holds.
      if (CanUpdateTargets(effectId)) {
        auto fetch = USEFUL(useful_FetchTargetList);
        void* table = fetch != nullptr ? fetch(effectId, 0) : instance->Targets;
        if (table != nullptr) USEFUL(useful_TargetListEffectUpdate)(table);
      }
      InstallParallelEvaluation(instance);
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace ostrand
