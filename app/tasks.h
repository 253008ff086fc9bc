// Background tasks seen from the window thread: starting one behind its progress window,
// starting a state save without one, and the bookkeeping when a worker returns.
#ifndef FERRYWICK_APP_TASKS_H
#define FERRYWICK_APP_TASKS_H

#include <windows.h>

#include "sync/task.h"

namespace fw {

// Disables the main window, opens the progress window and starts the worker (or, while an
// earlier worker still runs, lets the task wait for it behind the progress window).
void startTask(TaskId id);

// A state save (1005, 1006) started by the File Tree window: no progress window; a failure
// comes back to the File Tree window as WM_STATE_SAVE_FAILED.
void startStateSave(TaskId id);

// The user cancelled the progress window: raise the cancel flag (it stays raised until the
// next worker starts) and forget a task that had not started yet.
void cancelRunningTask();

// WM_WORKER_DONE on the main window.
void onWorkerDone();

bool workerRunning();
// Blocks until the running worker (if any) has returned; for what frees the state it reads.
void waitForWorker();

}  // namespace fw

#endif  // FERRYWICK_APP_TASKS_H
