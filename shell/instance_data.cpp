// The instance-data message (kMessageInstanceData): creation, destruction, scene load and save,
// and preparation for evaluation of an effect item's instance.
#include "shell/instance_data.h"

#include "host_interface/host_function_table.h"
#include "host_interface/module_state.h"
#include "instance/instance.h"
#include "ostrand/protocol.h"
#include "operations/evaluation.h"
#include "shell/scene_data.h"

namespace ostrand {

int32_t InstanceDataHandler(void* handle, uint32_t effectId, uint64_t subMessage) {
  switch (subMessage) {
    case kInstanceCreate:
      CreateInstance(effectId, DisplacePlainSerial);
      return 0;
    case kInstanceDestroy: {
      EffectInstance* instance = FindInstance(effectId);
      if (instance == nullptr) return 1;
      DestroyInstance(instance);
      return 0;
    }
    case kInstanceLoad: {
      EffectInstance* instance = FindInstance(effectId);
      if (instance == nullptr) return 1;
      LoadSceneData(instance, FX(fxFormatGet)(handle, kSceneFormatName));
      return 0;
    }
    case kInstanceSave: {
      EffectInstance* instance = FindInstance(effectId);
      if (instance == nullptr) return 1;
      SaveSceneData(instance, FX(fxFormatNew)(handle, kSceneFormatName, 0));
      return 0;
    }
    case kInstanceExists:
      return FindInstance(effectId) == nullptr ? 1 : 0;
    case kInstancePrepare: {
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
