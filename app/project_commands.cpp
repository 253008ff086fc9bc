// The main window's commands: the project list, loading and saving, swapping, Options, the
// menu's other items; background tasks are handed to tasks.cpp.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "app/app_state.h"
#include "app/file_dialogs.h"
#include "app/logic/options_edit.h"
#include "app/logic/project_model.h"
#include "app/logic/project_session.h"
#include "app/main_window.h"
#include "app/resources/product.h"
#include "app/resources/resource_ids.h"
#include "app/safety_net.h"
#include "app/shell_dialogs.h"
#include "app/tasks.h"
#include "formats/project_file.h"
#include "formats/volume_set.h"
#include "platform/text.h"

namespace fw {
namespace {

constexpr wchar_t kWriteFailed[] = L"Failed to write file!";

LRESULT listSelection(HWND list) { return SendMessageW(list, LB_GETCURSEL, 0, 0); }

void addRows(HWND list, const std::vector<std::u16string>& rows) {
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const auto& row : rows) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(row)));
}

// Each list scrolls on its own to show a new selection, and keeps its top row when rows are
// deleted below it, even where that leaves room below its last row; LB_SETTOPINDEX stops at
// the last full page. Both lists take the leader's top row, cut to that page.
void alignTops(HWND leader) {
  const MainControls& c = app().controls;
  LRESULT top = SendMessageW(leader, LB_GETTOPINDEX, 0, 0);
  RECT r{};
  GetClientRect(leader, &r);
  const LRESULT itemHeight = SendMessageW(leader, LB_GETITEMHEIGHT, 0, 0);
  const LRESULT rows = SendMessageW(leader, LB_GETCOUNT, 0, 0);
  if (itemHeight > 0) top = std::min(top, std::max<LRESULT>(0, rows - r.bottom / itemHeight));
  for (HWND list : {leader, leader == c.list[0] ? c.list[1] : c.list[0]})
    if (SendMessageW(list, LB_GETTOPINDEX, 0, 0) != top)
      SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
}

void selectInBoth(LRESULT row) {
  for (HWND list : app().controls.list) SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
  alignTops(app().controls.list[0]);
}

void onListNotification(int side, int code) {
  const MainControls& c = app().controls;
  if (code == LBN_SELCHANGE) {
    const int row = updateButtons(c.list[side]);
    HWND other = c.list[1 - side];
    SendMessageW(other, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    alignTops(c.list[side]);
  } else if (code == LBN_DBLCLK) {
    editRow(false);
  }
}

}  // namespace

int updateButtons(HWND list) {
  const MainControls& c = app().controls;
  const int selection = static_cast<int>(listSelection(list ? list : c.list[0]));
  const ButtonStates b = buttonStates(workspace(), selection, workerRunning());
  EnableWindow(c.add, b.add);
  EnableWindow(c.edit, b.edit);
  EnableWindow(c.remove, b.remove);
  EnableWindow(c.compare, b.compare);
  return selection;
}

void refreshLists() {
  Workspace& ws = workspace();
  padSelectedRows(ws);
  for (int side = 0; side < 2; ++side) addRows(app().controls.list[side], ws.sides[side].selected().roots);
  updateButtons(nullptr);
  showProjectFile();
}

void showProjectFile() {
  HWND main = app().mainWindow;
  const std::u16string title = projectTitle(workspace());
  if (windowText(main) != title) SetWindowTextW(main, wide(title));

  HMENU bar = GetMenu(main);
  if (!bar) return;
  for (UINT id = IDM_RECENT_FIRST; id <= IDM_RECENT_LAST; ++id) DeleteMenu(bar, id, MF_BYCOMMAND);
  DeleteMenu(bar, IDM_RECENT_SEPARATOR, MF_BYCOMMAND);
  const std::vector<std::u16string>& recent = workspace().shell.recentProjects;
  if (recent.empty()) return;
  HMENU file = GetSubMenu(bar, 0);
  const int items = GetMenuItemCount(file);
  int exitAt = 0;
  while (exitAt < items && GetMenuItemID(file, exitAt) != IDM_EXIT) ++exitAt;
  UINT at = static_cast<UINT>(exitAt);
  for (size_t i = 0; i < recent.size() && i <= IDM_RECENT_LAST - IDM_RECENT_FIRST; ++i)
    InsertMenuW(file, at++, MF_BYPOSITION | MF_STRING, IDM_RECENT_FIRST + i,
                wide(recentMenuText(i, recent[i])));
  InsertMenuW(file, at, MF_BYPOSITION | MF_SEPARATOR, IDM_RECENT_SEPARATOR, nullptr);
}

bool askToSaveChanges() {
  Workspace& ws = workspace();
  if (!projectChanged(ws)) return true;
  const std::u16string text = u"Save changes to " + projectName(ws) + u"?";
  switch (MessageBoxW(app().mainWindow, wide(text), L"Ferrywick",
                      MB_YESNOCANCEL | MB_ICONWARNING)) {
    case IDYES: return saveProjectCommand();
    case IDNO: return true;
    default: return false;
  }
}

void newProjectCommand() {
  if (!askToSaveChanges()) return;
  waitForWorker();  // a cancelled comparison may still be filling the pool
  newProject(workspace());
  fitKindBoxes();  // moved first, then filled: no old text is left beside a moved box
  showKindBox(0);
  showKindBox(1);
  refreshLists();
}

Rc loadSideFileCommand(const wchar_t* path, int side, SideKind kind) {
  if (kind == SideKind::FileSystem) waitForWorker();
  const Rc rc = loadSideFile(workspace(), reinterpret_cast<const char16_t*>(path), side, kind);
  fitKindBoxes();
  showKindBox(0);
  showKindBox(1);
  refreshLists();
  return rc;
}

Rc chooseSideFile(int side, SideKind kind) {
  if (kind == SideKind::FileSystem && !askToSaveChanges()) return Rc::Ok;
  const std::optional<std::u16string> path = askOpenPath(app().mainWindow, fileFilterFor(kind));
  if (!path) return Rc::Ok;
  const Rc rc = loadSideFileCommand(wide(*path), side, kind);
  if (rc == Rc::Ok) return rc;
  // Names the file and what is wrong with it: for a saved state or difference the sentence
  // the command line gives.
  Fs& fs = *workspace().task.fs;
  showError(wide(kind == SideKind::FileSystem ? projectRefusalText(fs, *path, rc)
                                              : toUtf16(refusedFileText(fs, *path))));
  return rc;
}

void openRecentProject(size_t index) {
  Workspace& ws = workspace();
  if (index >= ws.shell.recentProjects.size() || !askToSaveChanges()) return;
  const std::u16string path = ws.shell.recentProjects[index];
  const Rc rc = loadSideFileCommand(wide(path), kSourceSide, SideKind::FileSystem);
  if (rc == Rc::Ok) return;
  FileHandle file;
  const bool missing = ws.task.fs->openRead(path.c_str(), &file) != FsStatus::Ok;
  if (!missing) ws.task.fs->close(file);
  std::u16string text = projectRefusalText(*ws.task.fs, path, rc);
  if (missing) {
    // A project that is gone leaves the list.
    forgetRecent(ws.shell.recentProjects, path);
    showProjectFile();
    text += u"; it is taken off the list of recent projects";
  }
  showError(wide(text));
}

namespace {

// The kind the side's box shows now, or none.
std::optional<SideKind> kindInBox(int side) {
  const LRESULT selection = SendMessageW(app().controls.kindBox[side], CB_GETCURSEL, 0, 0);
  if (selection < 0 || selection >= static_cast<LRESULT>(kSideKinds)) return std::nullopt;
  return static_cast<SideKind>(selection);
}

// What a kind box's notification means: a choice made with the mouse or confirmed with Enter
// takes effect; one that a key makes while the list is closed waits. Leaving the box keeps a
// waiting choice only when it needs no file to be picked, and otherwise shows the kind in force.
void onKindBoxNotification(int side, int code) {
  const MainControls& c = app().controls;
  Workspace& ws = workspace();
  switch (code) {
    case CBN_SELCHANGE:
      if (!c.kindByKey[side] && !SendMessageW(c.kindBox[side], CB_GETDROPPEDSTATE, 0, 0))
        onKindChanged(side);
      break;
    case CBN_CLOSEUP:
      onKindChanged(side);
      break;
    case CBN_KILLFOCUS: {
      const std::optional<SideKind> shown = kindInBox(side);
      if (!shown || *shown == ws.sides[side].kind) break;
      const bool needsNoFile = *shown == SideKind::FileSystem ||
                               ws.sides[side].inputs[static_cast<int>(*shown)].hasSavedFile();
      if (needsNoFile)
        onKindChanged(side);
      else
        SendMessageW(c.kindBox[side], CB_SETCURSEL, static_cast<WPARAM>(ws.sides[side].kind), 0);
      break;
    }
    default:
      break;
  }
}

}  // namespace

void onKindChanged(int side) {
  Workspace& ws = workspace();
  const std::optional<SideKind> shown = kindInBox(side);
  if (!shown || *shown == ws.sides[side].kind) return;
  const SideKind kind = *shown;
  ws.sides[side].kind = kind;
  if (kind != SideKind::FileSystem && !ws.sides[side].selected().hasSavedFile()) {
    chooseSideFile(side, kind);
  }
  refreshLists();
}

void editRow(bool addMode) {
  Workspace& ws = workspace();
  const MainControls& c = app().controls;
  ws.addMode = addMode;
  ws.currentRow = addMode ? static_cast<int>(ws.sides[0].selected().roots.size())
                          : static_cast<int>(listSelection(c.list[0]));
  if (ws.currentRow < 0) return;  // a double click beside the rows
  FolderPairRecord pair = folderPairFor(ws);
  if (!runFolderPairDialog(app().mainWindow, pair)) return;
  storeFolderPair(ws, pair);
  const WPARAM row = static_cast<WPARAM>(ws.currentRow);
  for (int side = 0; side < 2; ++side) {
    if (!addMode) SendMessageW(c.list[side], LB_DELETESTRING, row, 0);
    const auto& roots = ws.sides[side].selected().roots;
    SendMessageW(c.list[side], LB_INSERTSTRING, row, reinterpret_cast<LPARAM>(wide(roots[row])));
  }
  selectInBoth(static_cast<LRESULT>(row));
  updateButtons(nullptr);
}

void deleteRow() {
  const MainControls& c = app().controls;
  const LRESULT row = listSelection(c.list[0]);
  if (row >= 0) {
    workspace().currentRow = static_cast<int>(row);
    for (HWND list : c.list) SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
    selectInBoth(removeRow(workspace(), static_cast<int>(row)));
  }
  updateButtons(nullptr);
}

void swapSidesCommand() {
  swapSides(workspace());
  fitKindBoxes();
  showKindBox(0);
  showKindBox(1);
  refreshLists();
}

namespace {

// Writes the folder columns to path; on success the project has that file and no changes.
bool saveProjectTo(const std::u16string& path) {
  Workspace& ws = workspace();
  const Rc rc = saveProject(*ws.task.fs, ws.sides[0].inputs[0].roots, ws.sides[1].inputs[0].roots,
                            path.c_str());
  if (rc != Rc::Ok) {
    showError(kWriteFailed);
    return false;
  }
  std::u16string full;
  if (ws.task.fs->fullPath(path.c_str(), &full) != FsStatus::Ok) full = path;
  markProjectSaved(ws, full);
  rememberRecent(ws.shell.recentProjects, full);
  fitKindBoxes();
  showKindBox(0);
  showKindBox(1);
  showProjectFile();
  return true;
}

}  // namespace

bool saveProjectAs() {
  const std::optional<std::u16string> path =
      askSavePath(app().mainWindow, fileFilterFor(SideKind::FileSystem));
  return path && saveProjectTo(*path);
}

bool saveProjectCommand() {
  const std::u16string path = workspace().project.path;
  return path.empty() ? saveProjectAs() : saveProjectTo(path);
}

void optionsCommand() {
  Workspace& ws = workspace();
  OptionsWorkingCopy copy = beginOptionsEdit(ws.settings(), ws.shell);
  if (runOptionsDialog(app().mainWindow, copy) != 1) return;
  waitForWorker();  // a cancelled comparison may still read the ignore list
  commitOptionsEdit(ws.settings(), ws.shell, std::move(copy));
}

void openWebPage() {
  ShellExecuteW(app().mainWindow, L"open", L"" FW_WEB_ADDRESS, nullptr, nullptr, SW_SHOWNORMAL);
}

bool onMainCommand(int id, int code, HWND) {
  if (id == IDC_KIND_SOURCE || id == IDC_KIND_TARGET) {
    onKindBoxNotification(id - IDC_KIND_SOURCE, code);
    return true;
  }
  if (id == IDC_LIST_SOURCE || id == IDC_LIST_TARGET) {
    onListNotification(id - IDC_LIST_SOURCE, code);
    return true;
  }
  if (code != 0 && code != 1) return false;  // a menu (0) or a key of the accelerators (1)
  switch (id) {
    case IDOK:  // Enter: confirms a kind chosen with the keys
      for (int side = 0; side < 2; ++side)
        if (GetFocus() == app().controls.kindBox[side]) onKindChanged(side);
      return true;
    case IDM_NEW: newProjectCommand(); return true;
    case IDM_OPEN:
      chooseSideFile(0, SideKind::FileSystem);
      return true;
    case IDM_SAVE: saveProjectCommand(); return true;
    case IDM_SAVE_AS: saveProjectAs(); return true;
    case IDM_SWAP: swapSidesCommand(); return true;
    case IDM_OPTIONS: optionsCommand(); return true;
    case IDM_EXIT: SendMessageW(app().mainWindow, WM_CLOSE, 0, 0); return true;
    case IDM_ABOUT: runAboutBox(app().mainWindow); return true;
    case IDM_WEB: openWebPage(); return true;
    case IDC_ADD: editRow(true); return true;
    case IDC_EDIT: editRow(false); return true;
    case IDC_DELETE: deleteRow(); return true;
    case IDC_BROWSE_SOURCE:
    case IDC_BROWSE_TARGET: {
      const int side = id - IDC_BROWSE_SOURCE;
      chooseSideFile(side, workspace().sides[side].kind);
      return true;
    }
    default: break;
  }
  if (id >= IDM_RECENT_FIRST && id <= IDM_RECENT_LAST) {
    openRecentProject(static_cast<size_t>(id - IDM_RECENT_FIRST));
    return true;
  }
  // F5 does what a click on Compare does, and nothing while the button is disabled.
  if (id == IDC_COMPARE && code == 1 && !IsWindowEnabled(app().controls.compare)) return true;
  if (onSafetyCommand(app().mainWindow, id)) return true;
  if (std::optional<TaskId> task = taskFromCommand(id)) {
    if (*task == TaskId::Sync) {
      // The File Tree window asks before it closes; a Sync from anywhere else asks here.
      const bool asked = std::exchange(app().syncConfirmed, false);
      if (!asked && !confirmSync(app().mainWindow)) return true;
    }
    if (*task == TaskId::Compare && !confirmRootsApart(app().mainWindow)) return true;
    startTask(*task);
    return true;
  }
  return false;
}

}  // namespace fw
