#include "instance/scene_data.h"

namespace ostrand {

void SaveSceneData(EffectInstance*, void*) {}

void LoadSceneData(EffectInstance*, void*) {}

}  // namespace ostrand
