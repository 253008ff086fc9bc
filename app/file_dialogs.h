// The common Open and Save dialogs as the program uses them: a 260-character path that starts
// empty, a filter and a default extension; and the folder browser.
#ifndef FERRYWICK_APP_FILE_DIALOGS_H
#define FERRYWICK_APP_FILE_DIALOGS_H

#include <windows.h>

#include <optional>
#include <string>

#include "app/logic/project_model.h"

namespace fw {

// The chosen path of an existing file; none when cancelled.
std::optional<std::u16string> askOpenPath(HWND owner, const FileFilter& filter);
// A path to write, asking before an existing file is replaced; none when cancelled.
std::optional<std::u16string> askSavePath(HWND owner, const FileFilter& filter);

// The folder browser for the edit field editId of a dialog: under the title, starting at the
// folder the field names (when there is one), with a button to make a new folder; OK puts the
// folder chosen into the field, Cancel leaves it as it was.
void browseFolderInto(HWND dialog, int editId, const wchar_t* title);

}  // namespace fw

#endif  // FERRYWICK_APP_FILE_DIALOGS_H
