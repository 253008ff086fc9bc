// The progress window (modeless, dialog 118 or 120) and the Sync finished dialog (modal,
// dialog 118): one dialog procedure, the counts and the centring.
#include "app/app_state.h"
#include "app/logic/summary_text.h"
#include "app/logic/task_flow.h"
#include "app/main_window.h"
#include "app/resources/resource_ids.h"
#include "app/shell_dialogs.h"
#include "app/tasks.h"

namespace fw {
namespace {

void showOutcome(TaskOutcome outcome) {
  HWND main = app().mainWindow;
  switch (outcome) {
    case TaskOutcome::ErrorBox:
      MessageBoxW(main, L"Operation failed!", L"Error", MB_OK);
      break;
    case TaskOutcome::SyncFinished:
      DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_SYNC_FINISHED), main,
                      progressDialogProc, 0);
      break;
    case TaskOutcome::FileTree:
      runFileTreeWindow(main);
      break;
    case TaskOutcome::Nothing:
      break;
  }
}

// A command in the progress window: Cancel, closing it, or the worker's result.
void closeProgressWindow(HWND window, int id, LPARAM lParam) {
  App& a = app();
  const bool isResult = id != IDOK && id != IDCANCEL;
  // A result that reaches a window whose own worker has not started yet is an earlier,
  // cancelled worker's.
  if (isResult && a.gate.pending()) return;
  a.ws->task.cancelRequested.store(1, std::memory_order_relaxed);
  if (!isResult) cancelRunningTask();
  EnableWindow(a.mainWindow, TRUE);
  DestroyWindow(window);
  a.progressWindow = nullptr;
  SetForegroundWindow(a.mainWindow);
  updateButtons(nullptr);
  showOutcome(outcomeOf(id, isResult ? static_cast<int>(lParam) : 0));
}

bool isProgressCommand(int id) {
  return id == IDOK || id == IDCANCEL || taskFromCommand(id).has_value();
}

}  // namespace

void fillSummary(HWND dialog) {
  const TaskState& task = workspace().task;
  const char point = app().decimalPoint;
  SetDlgItemTextW(dialog, IDC_SUMMARY_OK, wide(okColumnText(task.okStats, point)));
  SetDlgItemTextW(dialog, IDC_SUMMARY_FAILED, wide(failedColumnText(task.failedStats, point)));
}

void centreOver(HWND owner, HWND window) {
  RECT o, w;
  GetWindowRect(owner, &o);
  GetWindowRect(window, &w);
  const ScreenPoint p = centredOrigin({o.left, o.top, o.right, o.bottom},
                                      {w.left, w.top, w.right, w.bottom});
  MoveWindow(window, p.x, p.y, w.right - w.left, w.bottom - w.top, TRUE);
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      centreOver(app().mainWindow, dialog);
      fillSummary(dialog);
      return TRUE;
    case WM_TIMER:
      if (wParam != IDT_PROGRESS_TIMER) return FALSE;
      fillSummary(dialog);
      SetTimer(dialog, IDT_PROGRESS_TIMER, 1000, nullptr);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (!isProgressCommand(id)) return FALSE;
      if (dialog == app().progressWindow.load())
        closeProgressWindow(dialog, id, lParam);
      else
        EndDialog(dialog, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace fw
