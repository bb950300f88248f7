// The save and open dialogs behind the "Save" and "Load" buttons: they put the
// chosen weights file's full path into the instance.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

namespace ostrand {

// Size of the dialog's file-name buffer; the dialog may fill one byte less.
inline constexpr uint32_t kDialogFileBufferSize = 1024;

// Shows the save dialog for "*.cw" files (overwrite and create prompts, the
// extension "cw" added to a name typed without one), starting from the
// instance's WeightsPath (its first 1022 characters). Returns 1 with the chosen
// full path in WeightsPath; returns 0 and leaves WeightsPath unchanged when the
// user cancels, the dialog fails or its answer does not fit its buffer, after
// showing "Weird error with file dialog!".
int32_t ChooseSaveFile(EffectInstance* instance);

// The same with the open dialog: the path and the file must exist, and no
// extension is added.
int32_t ChooseOpenFile(EffectInstance* instance);

}  // namespace ostrand
