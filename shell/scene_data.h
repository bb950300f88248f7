// Saving an instance's settings with the host's scene and loading them back.
#pragma once

#include "ostrand/protocol.h"
#include "ostrand/types.h"

namespace ostrand {

// Writes the eleven named values into the format, the item's format named
// kSceneFormatName (null: nothing is written).
void SaveSceneData(EffectInstance* instance, void* format);
// Reads them back, re-reads the cage and, when a weights file is named, the weights.
void LoadSceneData(EffectInstance* instance, void* format);

}  // namespace ostrand
