// The About box (122) with its link to the donation page.
#include <windows.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "app/resources/product.h"
#include "app/resources/resource_ids.h"
#include "app/shell_dialogs.h"

namespace fw {
namespace {

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
      centreOnOwner(dialog);
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

void runAboutBox(HWND owner) {
  DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, aboutProc, 0);
}

}  // namespace fw
