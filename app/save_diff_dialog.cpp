// The Save diff dialog (121), which sets the live split settings.
#include "app/save_diff_dialog.h"

#include <string>

#include "app/app_state.h"
#include "app/logic/options_matrix.h"
#include "app/resources/resource_ids.h"
#include "platform/text.h"
#include "sync/settings_table.h"

namespace fw {
namespace {

void refuseSplitSize(HWND dialog, const std::string& text) {
  MessageBoxW(dialog, wide(toUtf16(text)), L"Error", MB_OK | MB_ICONERROR);
}

INT_PTR CALLBACK saveDiffProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  SyncSettings& s = workspace().settings();
  switch (message) {
    case WM_INITDIALOG:
      centreOnOwner(dialog);
      CheckDlgButton(dialog, IDC_SPLIT_CHECK, s.split == 1 ? BST_CHECKED : BST_UNCHECKED);
      EnableWindow(GetDlgItem(dialog, IDC_SPLIT_SIZE), s.split == 1);
      SetDlgItemTextW(dialog, IDC_SPLIT_SIZE, std::to_wstring(s.splitSize).c_str());
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_SPLIT_CHECK:
          EnableWindow(GetDlgItem(dialog, IDC_SPLIT_SIZE),
                       IsDlgButtonChecked(dialog, IDC_SPLIT_CHECK) == BST_CHECKED);
          return TRUE;
        case IDOK: {
          std::optional<uint32_t> size =
              splitSizeFromText(windowText(GetDlgItem(dialog, IDC_SPLIT_SIZE)));
          if (!size) {
            refuseSplitSize(dialog, volumeSizeTooSmallText());
            return TRUE;
          }
          if (*size > settingOf(&SyncSettings::splitSize)->most) {
            refuseSplitSize(dialog, volumeSizeTooLargeText());
            return TRUE;
          }
          s.splitSize = *size;
          s.split = IsDlgButtonChecked(dialog, IDC_SPLIT_CHECK) == BST_CHECKED ? 1 : 0;
          EndDialog(dialog, IDOK);
          return TRUE;
        }
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

bool runSaveDiffDialog(HWND owner) {
  return DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_SAVE_DIFF), owner, saveDiffProc,
                         0) == IDOK;
}

}  // namespace fw
