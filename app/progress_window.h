// The progress window of a task (modeless) and the Sync finished summary (modal), which share
// one dialog procedure.
#ifndef FERRYWICK_APP_PROGRESS_WINDOW_H
#define FERRYWICK_APP_PROGRESS_WINDOW_H

#include <windows.h>

namespace fw {

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Puts the task's counts into the summary's two columns.
void fillSummary(HWND dialog);
// The summary, captioned "Sync cancelled", after the worker of a cancelled sync has returned:
// what it had done before it stopped.
void showSyncCancelled();
// Before the main window closes: while a task's progress window is open, asks whether to stop
// it (No, the default: false, nothing changes); Yes stops it and waits for its worker.
bool stopTaskBeforeClosing();

}  // namespace fw

#endif  // FERRYWICK_APP_PROGRESS_WINDOW_H
