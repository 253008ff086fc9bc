// The progress window of a task (modeless) and the Sync finished summary (modal), which share
// one dialog procedure.
#ifndef FERRYWICK_APP_PROGRESS_WINDOW_H
#define FERRYWICK_APP_PROGRESS_WINDOW_H

#include <windows.h>

namespace fw {

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Puts the task's counts into the summary's two columns.
void fillSummary(HWND dialog);

}  // namespace fw

#endif  // FERRYWICK_APP_PROGRESS_WINDOW_H
