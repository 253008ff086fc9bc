// The progress window (modeless, dialog 118 or 120) and the Sync finished dialog (modal,
// dialog 118): one dialog procedure and the counts; the list of failed entries
// (126) that the summary's "Details..." opens.
#include "app/progress_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cmath>

#include "app/app_state.h"
#include "app/logic/summary_text.h"
#include "app/logic/task_flow.h"
#include "app/main_window.h"
#include "app/resources/resource_ids.h"
#include "app/shell_dialogs.h"
#include "app/tasks.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/deletion_guard.h"
#include "sync/progress_estimate.h"

namespace fw {
namespace {

// lParam of the summary dialog when it is the modal Sync finished box, not a progress window,
// and when it is that box after a cancelled sync.
constexpr LPARAM kSummaryBox = 1;
constexpr LPARAM kCancelledSummaryBox = 2;

// What the one progress window shows beside the counts, kept between ticks of its timer.
struct ProgressDisplay {
  TaskId task = TaskId::Compare;
  ProgressFigures totals;  // what the task is to do, from the comparison
  RateWindow rates;
  uint64_t entrySeen = 0;  // the current entry's change count last shown
};
ProgressDisplay gDisplay;  // window thread only

constexpr int kBarRange = 1000;

// Moves the controls at or below top (dialog units: the row of buttons) down by height and
// makes the window that much taller, leaving a band of height at top for the new controls.
void openBand(HWND dialog, int top, int height) {
  RECT band{0, top, 0, top + height};
  MapDialogRect(dialog, &band);
  const int shift = band.bottom - band.top;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    if (r.top >= band.top)
      SetWindowPos(child, nullptr, r.left, r.top + shift, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT w;
  GetWindowRect(dialog, &w);
  SetWindowPos(dialog, nullptr, 0, 0, w.right - w.left, w.bottom - w.top + shift,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A control of the band, in dialog units, in the dialog's font.
HWND addControl(HWND dialog, const wchar_t* windowClass, DWORD style, int id, int x, int y,
                int width, int height) {
  RECT r{x, y, x + width, y + height};
  MapDialogRect(dialog, &r);
  HWND control = CreateWindowExW(0, windowClass, L"", WS_CHILD | WS_VISIBLE | style, r.left,
                                 r.top, r.right - r.left, r.bottom - r.top, dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 app().instance, nullptr);
  SendMessageW(control, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
  return control;
}

// The progress role of the dialog for task: under the counts of a sync or a difference save,
// the file being copied, a bar over the task's files and bytes, the share done and the
// estimates; under a comparison's "Working...", the entries read so far. The timer that
// refreshes them is started here for the comparison too (the counts' caller starts it for the
// others).
void addProgressBand(HWND dialog, TaskId task) {
  gDisplay = ProgressDisplay{};
  gDisplay.task = task;
  if (task == TaskId::Compare) {
    if (!app().gate.running()) workspace().task.entriesRead.store(0, std::memory_order_relaxed);
    openBand(dialog, 27, 10);
    addControl(dialog, L"STATIC", SS_CENTER | SS_NOPREFIX, IDC_PROGRESS_ENTRIES, 7, 28, 120, 8);
    SetTimer(dialog, IDT_PROGRESS_TIMER, 1000, nullptr);
    return;
  }
  if (!showsCounts(task)) return;
  gDisplay.totals = taskTotals(task, workspace().task);
  openBand(dialog, 93, 42);
  addControl(dialog, L"STATIC", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, IDC_PROGRESS_FILE, 7,
             93, 140, 8);
  HWND bar = addControl(dialog, PROGRESS_CLASSW, 0, IDC_PROGRESS_BAR, 7, 104, 140, 10);
  SendMessageW(bar, PBM_SETRANGE32, 0, kBarRange);
  addControl(dialog, L"STATIC", SS_LEFT | SS_NOPREFIX, IDC_PROGRESS_DONE, 7, 117, 140, 8);
  addControl(dialog, L"STATIC", SS_LEFT | SS_NOPREFIX, IDC_PROGRESS_RATE, 7, 126, 140, 8);
}

// A tick of the timer: the band's figures now, and a sample for the estimates.
void showProgress(HWND dialog) {
  const TaskState& task = workspace().task;
  ProgressDisplay& d = gDisplay;
  if (!showsCounts(d.task)) {
    const uint64_t n = valueOf(task.entriesRead);
    if (n > 0)  // nothing before the first entry of a side is read
      SetDlgItemTextW(dialog, IDC_PROGRESS_ENTRIES, wide(toUtf16(entriesReadText(n))));
    return;
  }
  std::u16string path;
  if (task.okStats.current.readIfChanged(&d.entrySeen, &path))
    SetDlgItemTextW(dialog, IDC_PROGRESS_FILE,
                    wide(path.empty() ? path : fromLongPath(path.c_str())));
  if (workOf(d.totals) == 0) return;  // nothing known to measure against
  const char point = app().decimalPoint;
  const ProgressFigures done = progressDone(task.okStats, task.failedStats);
  const double fraction = progressFraction(d.totals, done);
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETPOS,
                      static_cast<WPARAM>(std::lround(fraction * kBarRange)), 0);
  SetDlgItemTextW(dialog, IDC_PROGRESS_DONE,
                  wide(toUtf16(progressText(d.totals, fraction, point))));
  addSample(d.rates, static_cast<double>(GetTickCount64()) / 1000, done.bytes, workOf(done));
  SetDlgItemTextW(dialog, IDC_PROGRESS_RATE,
                  wide(toUtf16(estimateText(estimateRate(d.rates, workOf(d.totals)), point))));
}

INT_PTR CALLBACK failuresProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      centreOnOwner(dialog);
      SetDlgItemTextW(dialog, IDC_FAILURES_LIST,
                      wide(failureListText(workspace().task.failures)));
      SetFocus(GetDlgItem(dialog, IDOK));  // the list unselected, ready to be read or copied
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// A log that could not be written is told once, after the summary; the sync stands.
void tellLogProblem() {
  const std::string& problem = workspace().task.logProblem;
  if (problem.empty()) return;
  const std::u16string text = u"The log of this sync could not be written whole: " +
                              toUtf16Escaped(problem) + u".";
  MessageBoxW(app().mainWindow, wide(text), L"Warning", MB_OK | MB_ICONWARNING);
}

void showOutcome(TaskOutcome outcome, TaskId id, int resultCode) {
  HWND main = app().mainWindow;
  switch (outcome) {
    case TaskOutcome::ErrorBox: {
      const std::u16string text =
          failedTaskText(id, static_cast<Rc>(resultCode), workspace().task);
      MessageBoxW(main, wide(text), L"Error", MB_OK);
      break;
    }
    case TaskOutcome::SyncFinished:
      DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_SYNC_FINISHED), main,
                      progressDialogProc, kSummaryBox);
      tellLogProblem();
      break;
    case TaskOutcome::FileTree: {
      // A missing folder (an unmounted drive) looks like an emptied one: say so first.
      const std::u16string missing = missingRootsText(workspace().task);
      if (!missing.empty())
        MessageBoxW(main, wide(missing), L"Warning", MB_OK | MB_ICONWARNING);
      runFileTreeWindow(main);
      break;
    }
    case TaskOutcome::DifferenceSaved: {
      const TaskState& task = workspace().task;
      const std::u16string text =
          savedDifferenceText(*task.fs, task.saveFileName, app().decimalPoint);
      MessageBoxW(main, wide(text), L"Difference saved", MB_OK | MB_ICONINFORMATION);
      break;
    }
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
  // A sync stopped while it ran says what it had done once its worker has returned.
  if (!isResult && a.progressTask == TaskId::Sync && !a.gate.pending()) a.syncCancelled = true;
  a.ws->task.cancelRequested.store(1, std::memory_order_relaxed);
  if (!isResult) cancelRunningTask();
  EnableWindow(a.mainWindow, TRUE);
  DestroyWindow(window);
  a.progressWindow = nullptr;
  SetForegroundWindow(a.mainWindow);
  updateButtons(nullptr);
  const int resultCode = isResult ? static_cast<int>(lParam) : 0;
  showOutcome(outcomeOf(id, resultCode), static_cast<TaskId>(id), resultCode);
}

bool isProgressCommand(int id) {
  return id == IDOK || id == IDCANCEL || taskFromCommand(id).has_value();
}

}  // namespace

void showSyncCancelled() {
  DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_SYNC_FINISHED), app().mainWindow,
                  progressDialogProc, kCancelledSummaryBox);
  tellLogProblem();
}

bool stopTaskBeforeClosing() {
  App& a = app();
  HWND progress = a.progressWindow.load();
  if (!progress || a.gate.pending()) return true;  // nothing the user still waits for
  const wchar_t* text = a.progressTask == TaskId::Sync ? L"A sync is running. Stop it?"
                        : a.progressTask == TaskId::SaveDifference
                            ? L"A difference is being saved. Stop it?"
                            : L"A comparison is running. Stop it?";
  if (MessageBoxW(progress, text, L"Ferrywick", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) !=
      IDYES)
    return false;
  a.ws->task.cancelRequested.store(1, std::memory_order_relaxed);
  cancelRunningTask();
  DestroyWindow(progress);
  a.progressWindow = nullptr;
  EnableWindow(a.mainWindow, TRUE);
  // Stopped where it checks the flag next, so that nothing is left half written.
  waitForWorker();
  return true;
}

void fillSummary(HWND dialog) {
  const TaskState& task = workspace().task;
  const char point = app().decimalPoint;
  SetDlgItemTextW(dialog, IDC_SUMMARY_OK, wide(okColumnText(task.okStats, point)));
  SetDlgItemTextW(dialog, IDC_SUMMARY_FAILED, wide(failedColumnText(task.failedStats, point)));
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (std::optional<TaskId> task = taskFromCommand(static_cast<int>(lParam))) {
        addProgressBand(dialog, *task);
        showProgress(dialog);
      }
      centreOver(app().mainWindow, dialog);
      fillSummary(dialog);
      if (lParam == kCancelledSummaryBox) SetWindowTextW(dialog, L"Sync cancelled");
      if ((lParam == kSummaryBox || lParam == kCancelledSummaryBox) &&
          !workspace().task.failures.empty())
        ShowWindow(GetDlgItem(dialog, IDC_SUMMARY_DETAILS), SW_SHOW);
      if ((lParam == kSummaryBox || lParam == kCancelledSummaryBox) &&
          !workspace().task.logWritten.empty())
        ShowWindow(GetDlgItem(dialog, IDC_SUMMARY_LOG), SW_SHOW);
      return TRUE;
    case WM_TIMER:
      if (wParam != IDT_PROGRESS_TIMER) return FALSE;
      fillSummary(dialog);
      showProgress(dialog);
      SetTimer(dialog, IDT_PROGRESS_TIMER, 1000, nullptr);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDC_SUMMARY_DETAILS) {
        DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_FAILURES), dialog, failuresProc, 0);
        return TRUE;
      }
      if (id == IDC_SUMMARY_LOG) {
        ShellExecuteW(dialog, L"open", wide(workspace().task.logWritten), nullptr, nullptr,
                      SW_SHOWNORMAL);
        return TRUE;
      }
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
