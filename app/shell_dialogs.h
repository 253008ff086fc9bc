// The dialogs that the main window and the progress window open, one function each with a data
// record in and out.
#ifndef FERRYWICK_APP_SHELL_DIALOGS_H
#define FERRYWICK_APP_SHELL_DIALOGS_H

#include <windows.h>

#include "app/logic/options_edit.h"
#include "app/logic/project_model.h"

namespace fw {

// The folder pair dialog: true after OK, with the record's paths as typed.
bool runFolderPairDialog(HWND owner, FolderPairRecord& pair);

// The File Tree window over the last comparison, modal; returns the id that ended it (2 or 1
// for Close, 1008 after "Sync", 1007 after "Save diff"), having posted 1008 or 1007 to the
// main window where those ended it.
INT_PTR runFileTreeWindow(HWND owner);

// The Options dialog on a working copy: 1 after OK (copy filled), 2 after Cancel.
INT_PTR runOptionsDialog(HWND owner, OptionsWorkingCopy& copy);

// The About box.
void runAboutBox(HWND owner);

}  // namespace fw

#endif  // FERRYWICK_APP_SHELL_DIALOGS_H
