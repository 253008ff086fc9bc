// The folder pair dialog (102), which adds or edits one row's two folders, and the About box
// (122) with its link to the donation page.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/app_state.h"
#include "app/resources/product.h"
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

LRESULT CALLBACK linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam) {
  auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(link, GWLP_USERDATA));
  if (message == WM_SETCURSOR) {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
  }
  return CallWindowProcW(previous, link, message, wParam, lParam);
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND link = GetDlgItem(dialog, IDC_DONATE_LINK);
      const LONG_PTR previous =
          SetWindowLongPtrW(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkProc));
      SetWindowLongPtrW(link, GWLP_USERDATA, previous);
      return TRUE;
    }
    case WM_DRAWITEM: {
      auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      SetTextColor(draw->hDC, RGB(0, 0, 255));
      SetBkMode(draw->hDC, TRANSPARENT);
      TextOutW(draw->hDC, 0, 0, L"Click here to donate!", 21);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDC_DONATE_LINK:
          ShellExecuteW(dialog, L"open", L"" FW_WEB_ADDRESS L"donate", nullptr, nullptr,
                        SW_SHOWNORMAL);
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

void runAboutBox(HWND owner) {
  DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, aboutProc, 0);
}

}  // namespace fw
