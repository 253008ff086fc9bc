#include "app/file_dialogs.h"

#include <windows.h>
#include <commdlg.h>

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

}  // namespace fw
