// The Save diff dialog (121): whether a saved difference is split into volumes, and their size.
#ifndef FERRYWICK_APP_SAVE_DIFF_DIALOG_H
#define FERRYWICK_APP_SAVE_DIFF_DIALOG_H

#include <windows.h>

namespace fw {

// Modal over the owner: true after OK, with the split settings stored in the live settings.
bool runSaveDiffDialog(HWND owner);

}  // namespace fw

#endif  // FERRYWICK_APP_SAVE_DIFF_DIALOG_H
