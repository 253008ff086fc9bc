// The Safety dialog (142) on a working copy of the safety-net settings.
#include <windows.h>

#include "app/app_state.h"
#include "app/file_dialogs.h"
#include "app/logic/safety_edit.h"
#include "app/resources/resource_ids.h"
#include "app/safety_net.h"
#include "app/tasks.h"

namespace fw {
namespace {

// The number boxes, in the order of safetyNumbers().
constexpr int kNumberIds[] = {IDC_SAFETY_PERCENT, IDC_SAFETY_SHARE_FILES, IDC_SAFETY_FILES,
                              IDC_SAFETY_TIME_SHIFT};

// Says why the box's value is refused and puts the focus on it, its text selected.
bool refuse(HWND dialog, int id, const std::u16string& text) {
  MessageBoxW(dialog, wide(text), L"Error", MB_OK | MB_ICONERROR);
  HWND box = GetDlgItem(dialog, id);
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
  SendMessageW(box, EM_SETSEL, 0, -1);
  return false;
}

// The boxes into the copy, all or nothing: false, with nothing changed, on a value refused.
bool readBoxes(HWND dialog, SafetyWorkingCopy& copy) {
  SafetyWorkingCopy read = copy;
  std::u16string error;
  const auto numbers = safetyNumbers();
  for (size_t i = 0; i < numbers.size(); ++i) {
    const std::u16string text = windowText(GetDlgItem(dialog, kNumberIds[i]));
    if (!readSafetyNumber(numbers[i], text, &(read.*numbers[i].field), &error))
      return refuse(dialog, kNumberIds[i], error);
  }
  // Judged against the folders of the project as it stands; a sync checks again.
  Workspace& ws = workspace();
  const std::u16string folder = windowText(GetDlgItem(dialog, IDC_SAFETY_BACKUP));
  if (!ws.task.fs)
    read.backupDir = folder;
  else if (!readBackupFolder(*ws.task.fs, folder, ws.sides[kSourceSide].selected(),
                             ws.sides[kTargetSide].selected(), &read.backupDir, &error))
    return refuse(dialog, IDC_SAFETY_BACKUP, error);
  read.recycleBin = IsDlgButtonChecked(dialog, IDC_SAFETY_RECYCLE) == BST_CHECKED;
  read.askBeforeSync = IsDlgButtonChecked(dialog, IDC_SAFETY_ASK) == BST_CHECKED;
  copy = std::move(read);
  return true;
}

INT_PTR CALLBACK safetyProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* copy = reinterpret_cast<SafetyWorkingCopy*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      centreOnOwner(dialog);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      copy = reinterpret_cast<SafetyWorkingCopy*>(lParam);
      SetDlgItemTextW(dialog, IDC_SAFETY_BACKUP, wide(copy->backupDir));
      CheckDlgButton(dialog, IDC_SAFETY_RECYCLE, copy->recycleBin ? BST_CHECKED : BST_UNCHECKED);
      const auto numbers = safetyNumbers();
      for (size_t i = 0; i < numbers.size(); ++i)
        SetDlgItemTextW(dialog, kNumberIds[i], wide(safetyNumberText(copy->*numbers[i].field)));
      CheckDlgButton(dialog, IDC_SAFETY_ASK, copy->askBeforeSync ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_SAFETY_BROWSE:
          browseFolderInto(dialog, IDC_SAFETY_BACKUP,
                           L"The folder that keeps the files a sync deletes or replaces:");
          return TRUE;
        case IDOK:
          if (readBoxes(dialog, *copy)) EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

void runSafetyDialog(HWND owner) {
  Workspace& ws = workspace();
  SafetyWorkingCopy copy = beginSafetyEdit(ws.settings(), ws.shell);
  if (DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_SAFETY), owner, safetyProc,
                      reinterpret_cast<LPARAM>(&copy)) != IDOK)
    return;
  waitForWorker();  // a cancelled comparison may still read the hour shift
  commitSafetyEdit(ws.settings(), ws.shell, copy);
  showSafetyChecks(owner);
}

}  // namespace fw
