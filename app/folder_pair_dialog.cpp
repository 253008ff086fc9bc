// The folder pair dialog (102), which adds or edits one row's two folders.
#include <windows.h>
#include <shlobj.h>

#include "app/app_state.h"
#include "app/resources/resource_ids.h"
#include "app/shell_dialogs.h"

namespace fw {
namespace {

constexpr size_t kMaxPathChars = 259;

std::u16string editText(HWND dialog, int id) {
  std::u16string text = windowText(GetDlgItem(dialog, id));
  if (text.size() > kMaxPathChars) text.resize(kMaxPathChars);
  return text;
}

void browseInto(HWND dialog, int editId) {
  BROWSEINFOW info{};
  info.hwndOwner = dialog;
  PIDLIST_ABSOLUTE picked = SHBrowseForFolderW(&info);
  if (!picked) return;
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(picked, path)) SetDlgItemTextW(dialog, editId, path);
  CoTaskMemFree(picked);
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
      if (IsWindowEnabled(GetDlgItem(dialog, first))) SetFocus(GetDlgItem(dialog, first));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
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
          browseInto(dialog, IDC_PAIR_SOURCE_EDIT);
          return TRUE;
        case IDC_PAIR_TARGET_BROWSE:
          browseInto(dialog, IDC_PAIR_TARGET_EDIT);
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
