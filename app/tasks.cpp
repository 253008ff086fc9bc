// Starting background tasks and their workers, and the bookkeeping when a worker returns.
//
// Only one worker runs at a time. A cancelled worker may go on until its next check of the
// cancel flag while the main window is usable again; until it has returned, Compare stays
// disabled, a task asked for meanwhile waits behind its progress window (TaskGate), and the
// commands that would free or change what the worker reads wait for it (waitForWorker). The
// cancel flag is cleared on the window thread just before a worker starts: a Cancel raised
// from then on stays raised until that worker has returned.
#include "app/tasks.h"

#include <utility>

#include "app/app_state.h"
#include "app/logic/project_model.h"
#include "app/logic/task_flow.h"
#include "app/main_window.h"
#include "app/progress_window.h"
#include "app/resources/resource_ids.h"

namespace fw {
namespace {

// The worker's one argument: the task id, plus this bit when a progress window waits for it.
constexpr uintptr_t kReportsToProgressWindow = 0x10000;

DWORD WINAPI workerMain(void* argument) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(argument);
  const TaskId id = static_cast<TaskId>(value & 0xFFFF);
  App& a = app();
  const Rc rc = runTask(id, a.ws->task);
  const bool stateSave = id == TaskId::SaveSourceState || id == TaskId::SaveTargetState;
  if (stateSave && rc != Rc::Ok) {
    if (HWND tree = a.fileTreeWindow.load())
      PostMessageW(tree, WM_STATE_SAVE_FAILED, static_cast<WPARAM>(id), rcValue(rc));
  }
  if (!stateSave || (value & kReportsToProgressWindow)) {
    // Dropped when the progress window was cancelled meanwhile.
    if (HWND progress = a.progressWindow.load())
      PostMessageW(progress, WM_COMMAND, MAKEWPARAM(static_cast<int>(id), 0), rcValue(rc));
  }
  PostMessageW(a.mainWindow, WM_WORKER_DONE, static_cast<WPARAM>(id), rcValue(rc));
  return 0;
}

void launchWorker(TaskId id, bool withProgressWindow) {
  App& a = app();
  publishSides(*a.ws);
  a.ws->task.cancelRequested.store(0, std::memory_order_relaxed);
  uintptr_t argument = static_cast<uintptr_t>(id);
  if (withProgressWindow) argument |= kReportsToProgressWindow;
  a.workerThread = CreateThread(nullptr, 0, workerMain, reinterpret_cast<void*>(argument), 0,
                                nullptr);
  if (!a.workerThread) {
    // No thread: report like a worker that failed at once.
    if (HWND progress = a.progressWindow.load())
      PostMessageW(progress, WM_COMMAND, MAKEWPARAM(static_cast<int>(id), 0),
                   rcValue(Rc::OutOfMemory));
    PostMessageW(a.mainWindow, WM_WORKER_DONE, static_cast<WPARAM>(id), 0);
  }
}

HWND createProgressWindow(TaskId id) {
  App& a = app();
  HWND window = CreateDialogParamW(a.instance, MAKEINTRESOURCEW(progressTemplateFor(id)),
                                   a.mainWindow, progressDialogProc, static_cast<LPARAM>(id));
  if (window && showsCounts(id)) {
    SetWindowTextW(window, reinterpret_cast<const wchar_t*>(progressCaptionFor(id)));
    SetDlgItemTextW(window, IDOK, L"Cancel");
    SetTimer(window, IDT_PROGRESS_TIMER, 1000, nullptr);
  }
  return window;
}

}  // namespace

bool workerRunning() { return app().gate.running(); }

void startTask(TaskId id) {
  App& a = app();
  EnableWindow(a.mainWindow, FALSE);
  // The counts restart at zero for the new window, also while it waits for an earlier worker.
  if (showsCounts(id) && !a.gate.running()) {
    a.ws->task.okStats.reset();
    a.ws->task.failedStats.reset();
  }
  HWND window = createProgressWindow(id);
  if (!window) {
    EnableWindow(a.mainWindow, TRUE);  // nothing runs: the main window stays usable
    return;
  }
  a.progressTask = id;
  a.progressWindow = window;
  ShowWindow(window, SW_RESTORE);
  if (a.gate.request(id)) launchWorker(id, true);
}

void startStateSave(TaskId id) {
  App& a = app();
  if (a.gate.request(id)) launchWorker(id, false);
}

void cancelRunningTask() {
  App& a = app();
  a.ws->task.cancelRequested.store(1, std::memory_order_relaxed);
  if (a.gate.pending()) {
    a.gate.dropPending();  // it never started; the worker that runs is an earlier one
  }
}

void onWorkerDone() {
  App& a = app();
  if (a.workerThread) {
    WaitForSingleObject(a.workerThread, INFINITE);  // it has posted its last message
    CloseHandle(a.workerThread);
    a.workerThread = nullptr;
  }
  const bool cancelledSync = std::exchange(a.syncCancelled, false);
  std::optional<TaskId> next = a.gate.workerReturned();
  if (next) {
    const bool stateSave = *next == TaskId::SaveSourceState || *next == TaskId::SaveTargetState;
    launchWorker(*next, !stateSave || (a.progressWindow.load() && a.progressTask == *next));
  }
  // Also while a modal dialog (the summary, the File Tree window) has the main window disabled:
  // Compare must be usable again once that closes.
  updateButtons(nullptr);
  // The counts are final now; a task started meanwhile has taken them over.
  if (cancelledSync && !next) showSyncCancelled();
}

void waitForWorker() {
  App& a = app();
  if (!a.workerThread) return;
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  WaitForSingleObject(a.workerThread, INFINITE);
  SetCursor(previous);
}

}  // namespace fw
