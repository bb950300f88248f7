// Creating, finding and destroying the instance of an effect item.
#include <cstring>

#include "instance/instance.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/messages.h"
#include "host_interface/module_state.h"
#include "ostrand/settings.h"

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

EffectInstance* CreateInstance(uint32_t effectId, DisplaceFn displacePlain) {
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
  instance->Mode = kModeNoWeights;
  instance->Targets = static_cast<TargetTable*>(table);
  instance->Samples = kDefaultSamples;
  instance->Tolerance = 0.0;
  instance->DisplacePlain = displacePlain;
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

}  // namespace ostrand
