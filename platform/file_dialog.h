// The platform's file dialogs: the common save and open dialogs on Windows,
// elsewhere functions of the same names supplied by the program that hosts
// the module.
#pragma once

#include <cstdint>

#include "ostrand/file_dialog.h"

namespace ostrand {

// Shows the save (or open) dialog for the request, which follows the Windows
// OPENFILENAMEA contract (the caller fills it and owns its buffers). Returns
// the dialog's result: non-zero when a file was chosen and its path written to
// request->lpstrFile, 0 when the user cancelled or the dialog failed. Where the
// platform has no common dialog library, GetSaveFileNameA / GetOpenFileNameA are
// looked up in the process at each call; when the hosting program does not
// export them the result is 0 and the request is not touched.
int32_t ShowSaveDialog(OstrandOpenFileName* request);
int32_t ShowOpenDialog(OstrandOpenFileName* request);

// Test seam: while set (non-null), these are called instead of the platform's
// dialogs, so that a test can see the raw request and answer as a faulty
// dialog would. Null restores the platform's.
void SetFileDialogsForTesting(FileDialogFn save, FileDialogFn open);

}  // namespace ostrand
