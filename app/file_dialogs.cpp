#include "app/file_dialogs.h"

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include "app/app_state.h"

namespace fw {
namespace {

std::optional<std::u16string> ask(HWND owner, const FileFilter& filter, bool save) {
  wchar_t path[260] = L"";
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = wide(filter.filter);
  ofn.lpstrFile = path;
  ofn.nMaxFile = 260;
  ofn.lpstrDefExt = reinterpret_cast<const wchar_t*>(filter.defaultExtension);
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY |
              (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
  const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!chosen) return std::nullopt;
  return fromWide(path);
}

}  // namespace

std::optional<std::u16string> askOpenPath(HWND owner, const FileFilter& filter) {
  return ask(owner, filter, false);
}

std::optional<std::u16string> askSavePath(HWND owner, const FileFilter& filter) {
  return ask(owner, filter, true);
}

namespace {

// Opens the browser at the folder whose path lParam gives, when it exists.
int CALLBACK browserProc(HWND browser, UINT message, LPARAM, LPARAM start) {
  if (message == BFFM_INITIALIZED && start && *reinterpret_cast<const wchar_t*>(start))
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, start);
  return 0;
}

}  // namespace

void browseFolderInto(HWND dialog, int editId, const wchar_t* title) {
  const std::u16string typed = windowText(GetDlgItem(dialog, editId));
  BROWSEINFOW info{};
  info.hwndOwner = dialog;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = browserProc;
  info.lParam = reinterpret_cast<LPARAM>(wide(typed));
  PIDLIST_ABSOLUTE picked = SHBrowseForFolderW(&info);
  if (!picked) return;
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(picked, path)) SetDlgItemTextW(dialog, editId, path);
  CoTaskMemFree(picked);
}

}  // namespace fw
