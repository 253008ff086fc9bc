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

void showTotals(HWND dialog) {
  Workspace& ws = workspace();
  const SyncSettings& s = ws.settings();
  SideCounts totals[2] = {};
  markTree(ws.task.firstRoot, makeMarkMasks(s.flagsSrc, s.flagsTrg, s.flagsColorize), totals);
  std::string text;
  const char* names[2] = {"Source", "Target"};
  for (int side = 0; side < 2; ++side) {
    const SideCounts& c = totals[side];
    text += std::string(names[side]) + ": " + std::to_string(c.filesExisting) + " files, " +
            formatSize(c.bytesExisting) + "; add " + std::to_string(c.filesAdd) + ", modify " +
            std::to_string(c.filesModify) + ", delete " + std::to_string(c.filesDelete) + "\n";
  }
  SetDlgItemTextA(dialog, IDC_PLACEHOLDER_TOTALS, text.c_str());
}

void endFileTree(HWND dialog, INT_PTR result) {
  app().fileTreeWindow = nullptr;
  EndDialog(dialog, result);
}

INT_PTR CALLBACK fileTreeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      app().fileTreeWindow = dialog;
      const Workspace& ws = workspace();
      const SideKind source = ws.sides[0].kind, target = ws.sides[1].kind;
      EnableWindow(GetDlgItem(dialog, IDT_SYNC),
                   source != SideKind::SavedState && target == SideKind::FileSystem);
      EnableWindow(GetDlgItem(dialog, IDT_SAVE_SOURCE_STATE), source != SideKind::SavedState);
      EnableWindow(GetDlgItem(dialog, IDT_SAVE_TARGET_STATE), target != SideKind::SavedState);
      EnableWindow(GetDlgItem(dialog, IDT_SAVE_DIFF), source == SideKind::FileSystem);
      showTotals(dialog);
      return TRUE;
    }
    case WM_STATE_SAVE_FAILED:
      MessageBoxW(dialog, L"Failed to write file!", L"Error", MB_OK | MB_ICONERROR);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      HWND main = app().mainWindow;
      switch (id) {
        case IDOK:
        case IDCANCEL:
          endFileTree(dialog, id);
          return TRUE;
        case IDT_SYNC:
          PostMessageW(main, WM_COMMAND, IDT_SYNC, 0);
          endFileTree(dialog, IDT_SYNC);
          return TRUE;
        case IDT_SAVE_SOURCE_STATE:
        case IDT_SAVE_TARGET_STATE:
        case IDT_SAVE_DIFF: {
          const SideKind kind = id == IDT_SAVE_DIFF ? SideKind::SavedDifference : SideKind::SavedState;
          std::optional<std::u16string> path = askSavePath(dialog, fileFilterFor(kind));
          if (!path) return TRUE;
          workspace().task.saveFileName = *path;
          if (id != IDT_SAVE_DIFF) {
            startStateSave(static_cast<TaskId>(id));
            return TRUE;
          }
          PostMessageW(main, WM_COMMAND, IDT_SAVE_DIFF, 0);
          endFileTree(dialog, IDT_SAVE_DIFF);
          return TRUE;
        }
        default:
          return FALSE;
      }
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK optionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* copy = reinterpret_cast<OptionsWorkingCopy*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      copy = reinterpret_cast<OptionsWorkingCopy*>(lParam);
      if (copy->hasIgnore) SetDlgItemTextW(dialog, IDC_OPT_IGNORE, wide(copy->ignore));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        storeIgnoreText(*copy, editText(dialog, IDC_OPT_IGNORE));
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

INT_PTR runFileTreeWindow(HWND owner) {
  return DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_PLACEHOLDER_FILE_TREE), owner,
                         fileTreeProc, 0);
}

INT_PTR runOptionsDialog(HWND owner, OptionsWorkingCopy& copy) {
  return DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_PLACEHOLDER_OPTIONS), owner,
                         optionsProc, reinterpret_cast<LPARAM>(&copy));
}

void runAboutBox(HWND owner) {
  MessageBoxW(owner, L"" FW_PRODUCT_NAME L" " FW_VERSION_TEXT, L"Donate", MB_OK);
}

}  // namespace fw
