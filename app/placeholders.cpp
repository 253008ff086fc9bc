// Simple stand-ins for the folder pair dialog, the File Tree window, the Options dialog and the
// About box, so that every path of the main window and of the tasks can be used and tested
// before the real ones exist. Templates in resources/placeholders.rc.
#include "app/app_state.h"
#include "app/file_dialogs.h"
#include "app/resources/product.h"
#include "app/resources/resource_ids.h"
#include "app/shell_dialogs.h"
#include "app/tasks.h"
#include "core/comparison.h"
#include "core/format_size.h"

namespace fw {
namespace {

std::u16string editText(HWND dialog, int id) { return windowText(GetDlgItem(dialog, id)); }

INT_PTR CALLBACK folderPairProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* pair = reinterpret_cast<FolderPairRecord*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      pair = reinterpret_cast<FolderPairRecord*>(lParam);
      SetDlgItemTextW(dialog, IDC_PAIR_SOURCE_EDIT, wide(pair->source));
      SetDlgItemTextW(dialog, IDC_PAIR_TARGET_EDIT, wide(pair->target));
      EnableWindow(GetDlgItem(dialog, IDC_PAIR_SOURCE_EDIT), pair->sourceEditable);
      EnableWindow(GetDlgItem(dialog, IDC_PAIR_TARGET_EDIT), pair->targetEditable);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        pair->source = editText(dialog, IDC_PAIR_SOURCE_EDIT);
        pair->target = editText(dialog, IDC_PAIR_TARGET_EDIT);
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool runFolderPairDialog(HWND owner, FolderPairRecord& pair) {
  return DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_PLACEHOLDER_FOLDER_PAIR), owner,
                         folderPairProc, reinterpret_cast<LPARAM>(&pair)) == IDOK;
}

void runAboutBox(HWND owner) {
  MessageBoxW(owner, L"" FW_PRODUCT_NAME L" " FW_VERSION_TEXT, L"Donate", MB_OK);
}

}  // namespace fw
