// The Options dialog (119) on a working copy of the settings.
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/logic/options_matrix.h"
#include "app/resources/resource_ids.h"
#include "app/shell_dialogs.h"

namespace fw {
namespace {

// The swatch colours of the rows, top down.
const int kSwatchBitmaps[kCategoryRows] = {IDB_FILE_GREEN, IDB_FILE_RED, IDB_FILE_CYAN,
                                           IDB_FILE_PINK, IDB_FILE_YELLOW};

int radioId(int row, int column) { return IDC_OPT_FIRST_RADIO + row * 4 + column; }
int colorizeId(int row) { return radioId(row, 3); }
int swatchId(int row) { return IDC_OPT_FIRST_SWATCH + row; }

void setSwatch(int checkId, HWND dialog, int swatch, int colourBitmap) {
  const bool checked = IsDlgButtonChecked(dialog, checkId) == BST_CHECKED;
  HBITMAP bitmap = LoadBitmapW(app().instance,
                               MAKEINTRESOURCEW(checked ? colourBitmap : IDB_FILE_PLAIN));
  auto old = reinterpret_cast<HBITMAP>(SendDlgItemMessageW(
      dialog, swatch, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  if (old) DeleteObject(old);
}

void setRowSwatch(HWND dialog, int row) {
  setSwatch(colorizeId(row), dialog, swatchId(row), kSwatchBitmaps[row]);
}

SyncAction rowAction(HWND dialog, int row) {
  if (IsDlgButtonChecked(dialog, radioId(row, 0)) == BST_CHECKED) return SyncAction::SourceWins;
  if (IsDlgButtonChecked(dialog, radioId(row, 1)) == BST_CHECKED) return SyncAction::TargetWins;
  return SyncAction::NoChange;
}

// The words beside a row: what a sync does with its radio choice as it stands.
void showRowEffect(HWND dialog, int row) {
  SetDlgItemTextW(dialog, IDC_OPT_FIRST_EFFECT + row,
                  reinterpret_cast<const wchar_t*>(rowEffectText(row, rowAction(dialog, row))));
}

void setRowAction(HWND dialog, int row, SyncAction action) {
  CheckRadioButton(dialog, radioId(row, 0), radioId(row, 2),
                   radioId(row, static_cast<int>(action)));
  showRowEffect(dialog, row);
}

std::optional<OptionsPreset> presetOf(int id) {
  switch (id) {
    case IDC_OPT_PRESET_MIRROR: return OptionsPreset::Mirror;
    case IDC_OPT_PRESET_TWO_WAY: return OptionsPreset::TwoWay;
    case IDC_OPT_PRESET_UPDATE: return OptionsPreset::Update;
    default: return std::nullopt;
  }
}

INT_PTR CALLBACK optionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* copy = reinterpret_cast<OptionsWorkingCopy*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      centreOnOwner(dialog);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      copy = reinterpret_cast<OptionsWorkingCopy*>(lParam);
      const OptionsMatrix m = matrixFromMasks(copy->flagsSrc, copy->flagsTrg, copy->flagsColorize);
      for (int r = 0; r < kCategoryRows; ++r) {
        setRowAction(dialog, r, m.action[r]);
        CheckDlgButton(dialog, colorizeId(r), m.colorize[r] ? BST_CHECKED : BST_UNCHECKED);
        setRowSwatch(dialog, r);
      }
      if (copy->hasIgnore) SetDlgItemTextW(dialog, IDC_OPT_IGNORE, wide(copy->ignore));
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      for (int r = 0; r < kCategoryRows; ++r) {
        if (id == colorizeId(r)) {
          setRowSwatch(dialog, r);
          return TRUE;
        }
        if (id >= radioId(r, 0) && id <= radioId(r, 2)) {  // by mouse or arrow key
          showRowEffect(dialog, r);
          return TRUE;
        }
      }
      if (const std::optional<OptionsPreset> preset = presetOf(id)) {
        const PresetMasks p = presetMasks(*preset);
        const OptionsMatrix m = matrixFromMasks(p.flagsSrc, p.flagsTrg, 0);
        for (int r = 0; r < kCategoryRows; ++r) setRowAction(dialog, r, m.action[r]);
        return TRUE;
      }
      if (id == IDOK) {
        OptionsMatrix m{};
        for (int r = 0; r < kCategoryRows; ++r) {
          m.action[r] = rowAction(dialog, r);
          m.colorize[r] = IsDlgButtonChecked(dialog, colorizeId(r)) == BST_CHECKED;
        }
        masksFromMatrix(m, copy->flagsSrc, copy->flagsTrg, copy->flagsColorize);
        storeIgnoreText(*copy, windowText(GetDlgItem(dialog, IDC_OPT_IGNORE)));
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    }
    case WM_DESTROY:
      for (int r = 0; r < kCategoryRows; ++r) {
        auto old = reinterpret_cast<HBITMAP>(
            SendDlgItemMessageW(dialog, swatchId(r), STM_SETIMAGE, IMAGE_BITMAP, 0));
        if (old) DeleteObject(old);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

INT_PTR runOptionsDialog(HWND owner, OptionsWorkingCopy& copy) {
  return DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_OPTIONS), owner, optionsProc,
                         reinterpret_cast<LPARAM>(&copy));
}

}  // namespace fw
