// The instance-data message (11): creation, destruction, scene load and save,
// and preparation for evaluation of an effect item's instance.
#include "shell/instance_data.h"

#include "host_interface/host_function_table.h"
#include "host_interface/module_state.h"
#include "instance/instance.h"
#include "operations/evaluation.h"
#include "shell/scene_data.h"

namespace ostrand {

int32_t InstanceDataHandler(void* handle, uint32_t effectId, uint64_t subMessage) {
  switch (subMessage) {
    case 0x1:
      CreateInstance(effectId, DisplacePlainSerial);
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
