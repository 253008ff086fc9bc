// The folder pair dialog (102), which adds or edits one row's two folders.
#include <windows.h>

#include "app/app_state.h"
#include "app/file_dialogs.h"
#include "app/resources/resource_ids.h"
#include "app/shell_dialogs.h"

namespace fw {
namespace {

constexpr size_t kMaxPathChars = 259;
// The warning follows the typing after this pause, so that a fast typist does not wait for the
// file system at every key.
constexpr UINT_PTR kWarningTimer = 1;
constexpr UINT kWarningDelayMs = 300;

std::u16string editText(HWND dialog, int id) {
  std::u16string text = windowText(GetDlgItem(dialog, id));
  if (text.size() > kMaxPathChars) text.resize(kMaxPathChars);
  return text;
}

// Names the folders of the row as typed that overlap one another or another row's.
void showOverlapWarning(HWND dialog) {
  FolderPairRecord typed;
  typed.source = editText(dialog, IDC_PAIR_SOURCE_EDIT);
  typed.target = editText(dialog, IDC_PAIR_TARGET_EDIT);
  Workspace& ws = workspace();
  std::u16string text;
  if (ws.task.fs) text = folderPairOverlapText(*ws.task.fs, ws, typed);
  SetDlgItemTextW(dialog, IDC_PAIR_WARNING, wide(text));
}

INT_PTR CALLBACK folderPairProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* pair = reinterpret_cast<FolderPairRecord*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      centreOnOwner(dialog);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      pair = reinterpret_cast<FolderPairRecord*>(lParam);
      SetDlgItemTextW(dialog, IDC_PAIR_SOURCE_EDIT, wide(pair->source));
      SetDlgItemTextW(dialog, IDC_PAIR_TARGET_EDIT, wide(pair->target));
      for (int id : {IDC_PAIR_SOURCE_EDIT, IDC_PAIR_SOURCE_BROWSE})
        EnableWindow(GetDlgItem(dialog, id), pair->sourceEditable);
      for (int id : {IDC_PAIR_TARGET_EDIT, IDC_PAIR_TARGET_BROWSE})
        EnableWindow(GetDlgItem(dialog, id), pair->targetEditable);
      // The field to type into first: the source, or the target when the source is saved.
      const int first = pair->sourceEditable || !pair->targetEditable ? IDC_PAIR_SOURCE_EDIT
                                                                      : IDC_PAIR_TARGET_EDIT;
      if (IsWindowEnabled(GetDlgItem(dialog, first))) {
        // Selected whole, so that typing replaces the path shown: WM_NEXTDLGCTL moves the focus
        // as the dialog manager does, selecting an edit's text, once the dialog is up.
        SetFocus(GetDlgItem(dialog, first));
        PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, first)),
                     TRUE);
      }
      showOverlapWarning(dialog);
      return FALSE;  // the focus is set
    }
    case WM_TIMER:
      if (wParam != kWarningTimer) return FALSE;
      KillTimer(dialog, kWarningTimer);
      showOverlapWarning(dialog);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == EN_CHANGE) {
        SetTimer(dialog, kWarningTimer, kWarningDelayMs, nullptr);
        return TRUE;
      }
      switch (LOWORD(wParam)) {
        case IDOK:
          pair->source = editText(dialog, IDC_PAIR_SOURCE_EDIT);
          pair->target = editText(dialog, IDC_PAIR_TARGET_EDIT);
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDC_PAIR_SOURCE_BROWSE:
          browseFolderInto(dialog, IDC_PAIR_SOURCE_EDIT, L"Choose the source folder");
          return TRUE;
        case IDC_PAIR_TARGET_BROWSE:
          browseFolderInto(dialog, IDC_PAIR_TARGET_EDIT, L"Choose the target folder");
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

bool runFolderPairDialog(HWND owner, FolderPairRecord& pair) {
  return DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_FOLDER_PAIR), owner,
                         folderPairProc, reinterpret_cast<LPARAM>(&pair)) == IDOK;
}

}  // namespace fw
