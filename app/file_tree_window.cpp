// The File Tree window. Tree items are inserted lazily: a folder's entries when it is first
// expanded, so that opening a large comparison costs only its top levels.
#include "app/file_tree_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <optional>
#include <unordered_set>
#include <vector>

#include "app/app_state.h"
#include "app/file_dialogs.h"
#include "app/logic/file_tree_model.h"
#include "app/logic/task_flow.h"
#include "app/resources/resource_ids.h"
#include "app/safety_net.h"
#include "app/save_diff_dialog.h"
#include "app/shell_dialogs.h"
#include "app/tasks.h"
#include "core/comparison.h"

namespace fw {
namespace {

FileNode gRootNode;
const char16_t kRootName[] = u"Root";

struct FileTreeState {
  HWND tree = nullptr;
  HIMAGELIST icons = nullptr;
  std::unordered_set<HTREEITEM> filled;  // items whose entries have been inserted
};
FileTreeState* gState = nullptr;

MarkMasks liveMasks() {
  const SyncSettings& s = workspace().settings();
  return makeMarkMasks(s.flagsSrc, s.flagsTrg, s.flagsColorize);
}

HIMAGELIST buildFileTreeIcons() {
  static const int kBitmaps[] = {IDB_FOLDER_PLAIN, IDB_FOLDER_RED, IDB_FOLDER_GREEN,
                                 IDB_FOLDER_BLUE,  IDB_FILE_PLAIN, IDB_FILE_RED,
                                 IDB_FILE_GREEN,   IDB_FILE_CYAN,  IDB_FILE_PINK,
                                 IDB_FILE_YELLOW};
  HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR24, 10, 0);
  for (int id : kBitmaps) {
    HBITMAP bitmap = LoadBitmapW(app().instance, MAKEINTRESOURCEW(id));
    ImageList_Add(list, bitmap, nullptr);
    DeleteObject(bitmap);
  }
  return list;
}

// The item's box as the marks say; set only when it shows something else.
void showTick(HWND tree, HTREEITEM item, const TickStates& states) {
  TVITEMW it{};
  it.mask = TVIF_PARAM | TVIF_STATE | TVIF_HANDLE;
  it.hItem = item;
  it.stateMask = TVIS_STATEIMAGEMASK;
  if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it)) || !it.lParam) return;
  const UINT wanted =
      INDEXTOSTATEIMAGEMASK(static_cast<UINT>(states.of(reinterpret_cast<FileNode*>(it.lParam))));
  if ((it.state & TVIS_STATEIMAGEMASK) == wanted) return;
  it.mask = TVIF_STATE | TVIF_HANDLE;
  it.state = wanted;
  SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
}

// Many items changed at once: the tree draws nothing until the batch ends and then all of it
// once, instead of laying out and drawing itself for every change; the wait cursor shows
// meanwhile. A batch runs to its end without handling other messages (nothing can change the
// tree or the marks under it): each is one pass over the items the tree holds.
class TreeBatch {
 public:
  explicit TreeBatch(HWND tree)
      : tree_(tree), cursor_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {
    SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
  }
  ~TreeBatch() {
    SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree_, nullptr, TRUE);
    SetCursor(cursor_);
  }
  TreeBatch(const TreeBatch&) = delete;
  TreeBatch& operator=(const TreeBatch&) = delete;

 private:
  HWND tree_;
  HCURSOR cursor_;
};

// A tree with check boxes may make their images only when it is first painted, and untick
// every item it holds then; that paint comes whenever the window is first shown, and a
// click before it finds no box to hit. Painting the empty tree into a memory context makes
// the images now, before any item is inserted.
void prepareCheckBoxes(HWND tree) {
  HDC screen = GetDC(tree);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 1, 1);
  HGDIOBJ old = SelectObject(memory, bitmap);
  SendMessageW(tree, WM_PAINT, reinterpret_cast<WPARAM>(memory), 0);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(tree, screen);
}

// Adds the partly ticked box to the boxes the tree made (blank, unticked, ticked): the
// unticked box with a square inside, drawn on the window colour.
void addPartlyTickedImage(HWND tree) {
  auto boxes = reinterpret_cast<HIMAGELIST>(SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_STATE, 0));
  int cx = 0, cy = 0;
  if (!boxes || ImageList_GetImageCount(boxes) != 3 || !ImageList_GetIconSize(boxes, &cx, &cy))
    return;
  HDC screen = GetDC(tree);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, cx, cy);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RECT all{0, 0, cx, cy};
  FillRect(memory, &all, GetSysColorBrush(COLOR_WINDOW));
  ImageList_Draw(boxes, 1, memory, 0, 0, ILD_NORMAL);
  // The square sits in the middle of the box, a third of its side from each edge.
  const int side = (cx < cy ? cx : cy) / 3;
  RECT inner{(cx - side) / 2, (cy - side) / 2, (cx - side) / 2 + side, (cy - side) / 2 + side};
  FillRect(memory, &inner, GetSysColorBrush(COLOR_WINDOWTEXT));
  SelectObject(memory, old);
  ImageList_Add(boxes, bitmap, nullptr);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(tree, screen);
}

// One item for the node, after the item `after` below the parent.
HTREEITEM insertItem(HWND tree, HTREEITEM parent, HTREEITEM after, FileNode* node,
                     uint32_t colorize, TickState tick) {
  TVINSERTSTRUCTW ins{};
  ins.hParent = parent;
  ins.hInsertAfter = after;
  ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
  ins.item.pszText = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(node->name));
  ins.item.iImage = ins.item.iSelectedImage = iconFor(node, colorize);
  ins.item.cChildren = node->children ? 1 : 0;
  ins.item.lParam = reinterpret_cast<LPARAM>(node);
  // The box is set with the insertion itself: unticked when the node is Excluded, partly
  // ticked when something below it is.
  ins.item.mask |= TVIF_STATE;
  ins.item.stateMask = TVIS_STATEIMAGEMASK;
  ins.item.state = INDEXTOSTATEIMAGEMASK(static_cast<UINT>(tick));
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

void insertChildren(HWND tree, HTREEITEM parent, FileNode* siblings) {
  const uint32_t colorize = workspace().settings().flagsColorize;
  SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
  // Each item goes in after the one before it: the same as appending, without a walk to the
  // end of the list for every item.
  HTREEITEM previous = TVI_LAST;
  for (FileNode* node : childrenInOrder(siblings)) {
    HTREEITEM item = insertItem(tree, parent, previous, node, colorize, tickStateOf(node));
    if (item) previous = item;
  }
  SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
}

void setText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextA(dialog, id, text.c_str());
}

// The file time in local time with the offset in force now, whatever the season of the date.
LocalTimeParts localTimeOf(uint64_t fileTime) {
  FILETIME utc{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  FILETIME local{};
  TIME_ZONE_INFORMATION zone{};
  const DWORD mode = GetTimeZoneInformation(&zone);
  if (mode == TIME_ZONE_ID_STANDARD || mode == TIME_ZONE_ID_DAYLIGHT) {
    const LONG bias = zone.Bias + (mode == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                                 : zone.DaylightBias);
    const int64_t ticks = static_cast<int64_t>(fileTime) - static_cast<int64_t>(bias) * 600000000LL;
    local.dwLowDateTime = static_cast<DWORD>(ticks);
    local.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  } else {
    FileTimeToLocalFileTime(&utc, &local);
  }
  SYSTEMTIME st{};
  FileTimeToSystemTime(&local, &st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute};
}

void showDetails(HWND dialog, const FileNode* node) {
  const char decimal = app().decimalPoint;
  static const int kIds[2][4] = {
      {IDC_TREE_SOURCE_FILES, IDC_TREE_SOURCE_BYTES, IDC_TREE_SOURCE_FILE_CAPTION,
       IDC_TREE_SOURCE_FILE_DETAIL},
      {IDC_TREE_TARGET_FILES, IDC_TREE_TARGET_BYTES, IDC_TREE_TARGET_FILE_CAPTION,
       IDC_TREE_TARGET_FILE_DETAIL}};
  for (int i = 0; i < 2; ++i) {
    setText(dialog, kIds[i][0], fileCountsText(node->counts[i]));
    setText(dialog, kIds[i][1], byteCountsText(node->counts[i], decimal));
    const bool shown = node->side[i].modified != 0;
    ShowWindow(GetDlgItem(dialog, kIds[i][2]), shown ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(dialog, kIds[i][3]), shown ? SW_SHOW : SW_HIDE);
    if (shown)
      setText(dialog, kIds[i][3],
              fileDetailText(localTimeOf(node->side[i].modified), node->side[i].attributes));
  }
}

void showSelected(HWND dialog) {
  auto item = reinterpret_cast<HTREEITEM>(
      SendMessageW(gState->tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (item) showDetails(dialog, nodeOfItem(gState->tree, item));
}

void fillTree(HWND dialog) {
  HWND tree = gState->tree;
  markTree(&gRootNode, liveMasks(), nullptr);
  insertChildren(tree, TVI_ROOT, &gRootNode);
  auto top = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  if (!top) return;
  SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(top));
  SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
  showSelected(dialog);
}

HTREEITEM nextItem(HWND tree, HTREEITEM item, UINT how) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

// After a toggle: the boxes of the item, of every item inserted below it and of its
// ancestors (each may turn from or to partly ticked), in one batch.
void showTicksAround(HWND tree, HTREEITEM item, const std::vector<HTREEITEM>& ancestorItems) {
  const TickStates states(&gRootNode);
  TreeBatch batch(tree);
  // A box changed on an item the tree shows makes it update its scroll bars and draw, even
  // with redraw off (under Wine); below a collapsed item it only records the box. So the item
  // is collapsed meanwhile and expanded again, laid out once, with the same first item shown
  // and the same selection.
  const bool expanded =
      SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) != 0;
  HTREEITEM firstShown = nextItem(tree, nullptr, TVGN_FIRSTVISIBLE);
  HTREEITEM selected = nextItem(tree, nullptr, TVGN_CARET);
  if (expanded) SendMessageW(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(item));
  std::vector<HTREEITEM> pending{item};
  while (!pending.empty()) {
    HTREEITEM i = pending.back();
    pending.pop_back();
    showTick(tree, i, states);
    for (HTREEITEM c = nextItem(tree, i, TVGN_CHILD); c; c = nextItem(tree, c, TVGN_NEXT))
      pending.push_back(c);
  }
  for (HTREEITEM a : ancestorItems) showTick(tree, a, states);
  if (!expanded) return;
  SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
  if (selected && nextItem(tree, nullptr, TVGN_CARET) != selected)
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(selected));
  if (firstShown)
    SendMessageW(tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, reinterpret_cast<LPARAM>(firstShown));
}

// Keypad "*": every folder below the item inserted and expanded. The folders are expanded
// deepest first while the item itself is collapsed, so that the tree lays out the items it
// shows once, when the item is expanded last, instead of once for every folder.
void expandAllBelow(HTREEITEM top) {
  HWND tree = gState->tree;
  FileNode* topNode = nodeOfItem(tree, top);
  if (!topNode || !topNode->children) return;
  const uint32_t colorize = workspace().settings().flagsColorize;
  const TickStates states(topNode);
  TreeBatch batch(tree);
  if (SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(top), TVIS_EXPANDED))
    SendMessageW(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(top));
  std::vector<HTREEITEM> folders;  // each before the folders below it
  std::vector<std::pair<HTREEITEM, FileNode*>> pending{{top, topNode}};
  while (!pending.empty()) {
    const auto [item, node] = pending.back();
    pending.pop_back();
    folders.push_back(item);
    if (gState->filled.insert(item).second) {
      HTREEITEM previous = TVI_LAST;
      for (FileNode* child : childrenInOrder(node->children)) {
        HTREEITEM c = insertItem(tree, item, previous, child, colorize, states.of(child));
        if (!c) continue;
        previous = c;
        if (child->children) pending.push_back({c, child});
      }
    } else {
      for (HTREEITEM c = nextItem(tree, item, TVGN_CHILD); c; c = nextItem(tree, c, TVGN_NEXT)) {
        FileNode* child = nodeOfItem(tree, c);
        if (child && child->children) pending.push_back({c, child});
      }
    }
  }
  for (auto f = folders.rbegin(); f != folders.rend(); ++f)
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(*f));
  SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(top));
}

constexpr UINT_PTR kTreeKeysSubclassId = 1;

// The tree's keys before the tree sees them: keypad "*" expands everything below the selected
// item here, in one batch, and not in the tree, which would expand folder by folder, laying
// out and drawing itself after each.
LRESULT CALLBACK treeKeysProc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR) {
  if (message == WM_KEYDOWN && wParam == VK_MULTIPLY && gState) {
    if (HTREEITEM item = nextItem(tree, nullptr, TVGN_CARET)) expandAllBelow(item);
    return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(tree, treeKeysProc, kTreeKeysSubclassId);
  return DefSubclassProc(tree, message, wParam, lParam);
}

// A box was toggled, by a click or the space bar. The tree has turned the box to its next
// image already; what it becomes follows from the marks instead: a ticked entry is unticked,
// an unticked or partly ticked one is ticked with everything below it.
void onCheckToggled(HWND dialog, HTREEITEM item) {
  HWND tree = gState->tree;
  FileNode* node = nodeOfItem(tree, item);
  if (!node) return;
  const bool ticked = tickStateOf(node) != TickState::Ticked;
  std::vector<FileNode*> ancestors;
  std::vector<HTREEITEM> ancestorItems;
  for (HTREEITEM p = nextItem(tree, item, TVGN_PARENT); p; p = nextItem(tree, p, TVGN_PARENT)) {
    ancestors.push_back(nodeOfItem(tree, p));
    ancestorItems.push_back(p);
  }
  const SyncSettings& s = workspace().settings();
  applyCheck(node, ancestors, ticked, s.flagsSrc, s.flagsTrg);
  showTicksAround(tree, item, ancestorItems);
  markTree(&gRootNode, liveMasks(), nullptr);
  showSelected(dialog);
}

// The item's names from its pair root down; empty for the Root item.
std::vector<const char16_t*> namesOf(HWND tree, HTREEITEM item, FileNode** pairRoot) {
  std::vector<const char16_t*> names;
  for (HTREEITEM i = item; i; i = nextItem(tree, i, TVGN_PARENT)) {
    FileNode* n = nodeOfItem(tree, i);
    if (n == &gRootNode) break;
    names.insert(names.begin(), n->name);
    *pairRoot = n;
  }
  return names;
}

std::u16string entryPathOf(HWND tree, HTREEITEM item) {
  FileNode* pairRoot = nullptr;
  const std::vector<const char16_t*> names = namesOf(tree, item, &pairRoot);
  if (names.empty()) return u"";
  std::u16string path = entryPath(names);
  uint32_t attributes = 0;
  if (workspace().task.fs->getAttributes(path.c_str(), &attributes) == FsStatus::Ok) return path;
  const int row = pairRowOf(gRootNode.children, pairRoot);
  const std::vector<std::u16string>& roots = workspace().sides[0].selected().roots;
  if (row < 0 || static_cast<size_t>(row) >= roots.size()) return path;
  return entryPath(names, &roots[row]);
}

HTREEITEM hitItem(HWND tree, UINT* flags) {
  const DWORD pos = GetMessagePos();
  TVHITTESTINFO hit{};
  hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(tree, &hit.pt);
  SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  *flags = hit.flags;
  return hit.hItem;
}

void showContextMenu(HWND dialog, const std::u16string& path, POINT at) {
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (FAILED(SHParseDisplayName(wide(path), nullptr, &pidl, 0, nullptr))) return;
  IShellFolder* parent = nullptr;
  PCUITEMID_CHILD child = nullptr;
  IContextMenu* menuObject = nullptr;
  if (SUCCEEDED(SHBindToParent(pidl, IID_IShellFolder, reinterpret_cast<void**>(&parent),
                               &child))) {
    parent->GetUIObjectOf(dialog, 1, &child, IID_IContextMenu, nullptr,
                          reinterpret_cast<void**>(&menuObject));
    parent->Release();
  }
  CoTaskMemFree(pidl);
  if (!menuObject) return;
  HMENU menu = CreatePopupMenu();
  if (menu && SUCCEEDED(menuObject->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL))) {
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0,
                                      dialog, nullptr);
    if (chosen > 0) {
      CMINVOKECOMMANDINFOEX info{};
      info.cbSize = sizeof info;
      info.fMask = CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE;
      if (GetKeyState(VK_CONTROL) < 0) info.fMask |= CMIC_MASK_CONTROL_DOWN;
      if (GetKeyState(VK_SHIFT) < 0) info.fMask |= CMIC_MASK_SHIFT_DOWN;
      info.hwnd = dialog;
      info.lpVerb = MAKEINTRESOURCEA(chosen - 1);
      info.lpVerbW = MAKEINTRESOURCEW(chosen - 1);
      info.nShow = SW_SHOWNORMAL;
      info.ptInvoke = at;
      menuObject->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
    }
  }
  if (menu) DestroyMenu(menu);
  menuObject->Release();
}

LRESULT onTreeNotify(HWND dialog, NMHDR* header) {
  HWND tree = gState->tree;
  switch (header->code) {
    case TVN_ITEMEXPANDINGW: {
      auto* nm = reinterpret_cast<NMTREEVIEWW*>(header);
      HTREEITEM item = nm->itemNew.hItem;
      if (gState->filled.insert(item).second) {
        FileNode* node = nodeOfItem(tree, item);
        if (node) insertChildren(tree, item, node->children);
      }
      return 0;
    }
    case TVN_SELCHANGEDW: {
      auto* nm = reinterpret_cast<NMTREEVIEWW*>(header);
      if (nm->itemNew.hItem) showDetails(dialog, nodeOfItem(tree, nm->itemNew.hItem));
      return 0;
    }
    case TVN_KEYDOWN: {
      // The space bar toggles the selected box: handled as a click on it.
      auto* nm = reinterpret_cast<NMTVKEYDOWN*>(header);
      if (nm->wVKey == VK_SPACE) {
        auto item = nextItem(tree, nullptr, TVGN_CARET);
        if (item) PostMessageW(dialog, WM_TREE_CHECK_TOGGLED, 0, reinterpret_cast<LPARAM>(item));
      }
      return 0;
    }
    case NM_CLICK: {
      UINT flags = 0;
      HTREEITEM item = hitItem(tree, &flags);
      if (item && (flags & TVHT_ONITEMSTATEICON))
        PostMessageW(dialog, WM_TREE_CHECK_TOGGLED, 0, reinterpret_cast<LPARAM>(item));
      return 0;
    }
    case NM_DBLCLK: {
      UINT flags = 0;
      HTREEITEM item = hitItem(tree, &flags);
      if (!item || !(flags & (TVHT_ONITEMICON | TVHT_ONITEMLABEL))) return 0;
      FileNode* node = nodeOfItem(tree, item);
      if (!node || isFolder(node)) return 0;
      const std::u16string path = entryPathOf(tree, item);
      const std::u16string folder = folderPart(path);
      ShellExecuteW(dialog, nullptr, wide(path), nullptr, wide(folder), SW_SHOWNORMAL);
      return 0;
    }
    case NM_RCLICK: {
      UINT flags = 0;
      HTREEITEM item = hitItem(tree, &flags);
      if (!item || !(flags & (TVHT_ONITEMICON | TVHT_ONITEMLABEL))) return 0;
      // The menu acts on this entry: it is selected first, so that the panel and the
      // selection show which one.
      SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
      const DWORD pos = GetMessagePos();
      showContextMenu(dialog, entryPathOf(tree, item),
                      {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))});
      return 0;
    }
    default:
      return 0;
  }
}

void closeFileTree(HWND dialog, INT_PTR result) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(dialog, &placement);
  static_assert(sizeof placement == kPlacementBytes);
  std::memcpy(workspace().shell.fileTreePlacement.data(), &placement, kPlacementBytes);
  app().fileTreeWindow = nullptr;
  EndDialog(dialog, result);
}

// The placement the window had when it was last closed; a minimised window comes back as it
// was before it was minimised.
WINDOWPLACEMENT storedPlacement() {
  WINDOWPLACEMENT placement;
  std::memcpy(&placement, workspace().shell.fileTreePlacement.data(), sizeof placement);
  placement.length = sizeof placement;
  if (placement.showCmd == SW_SHOWMINIMIZED || placement.showCmd == SW_MINIMIZE ||
      placement.showCmd == SW_SHOWMINNOACTIVE)
    placement.showCmd =
        (placement.flags & WPF_RESTORETOMAXIMIZED) ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  return placement;
}

void onInit(HWND dialog) {
  App& a = app();
  Workspace& ws = workspace();
  a.fileTreeWindow = dialog;
  gRootNode = FileNode{};
  gRootNode.name = const_cast<char16_t*>(kRootName);
  gRootNode.flags = Folder;
  gRootNode.children = ws.task.firstRoot;

  for (int id : {IDC_TREE_SOURCE_HEADING, IDC_TREE_TARGET_HEADING})
    SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(a.fonts.heading), TRUE);
  for (int id : {IDC_TREE_SOURCE_FILES_TAG, IDC_TREE_SOURCE_DATA_TAG, IDC_TREE_TARGET_FILES_TAG,
                 IDC_TREE_TARGET_DATA_TAG})
    SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(a.fonts.small), TRUE);

  if (hasPlacement(ws.shell.fileTreePlacement)) {
    // The dialog box shows the window itself, restored, after this: here only the restored
    // rectangle is placed, without showing it, and the whole placement (maximised or not)
    // once the window is shown.
    WINDOWPLACEMENT placement = storedPlacement();
    placement.showCmd = SW_HIDE;
    SetWindowPlacement(dialog, &placement);
    PostMessageW(dialog, WM_TREE_PLACE, 0, 0);
  } else {
    centreOnOwner(dialog);
  }

  const SideKind source = ws.sides[0].kind, target = ws.sides[1].kind;
  // The buttons' ids are the ids of the tasks they start.
  for (TaskId id : {TaskId::Sync, TaskId::SaveSourceState, TaskId::SaveTargetState,
                    TaskId::SaveDifference})
    EnableWindow(GetDlgItem(dialog, static_cast<int>(id)), taskAllowed(id, source, target));

  layoutFileTree(dialog);
  SetWindowSubclass(gState->tree, treeKeysProc, kTreeKeysSubclassId, 0);
  prepareCheckBoxes(gState->tree);
  addPartlyTickedImage(gState->tree);
  gState->icons = buildFileTreeIcons();
  SendMessageW(gState->tree, TVM_SETIMAGELIST, TVSIL_NORMAL,
               reinterpret_cast<LPARAM>(gState->icons));
  fillTree(dialog);
  // The keys go to the tree (Space ticks, letters search), not to the default button Sync.
  SetFocus(gState->tree);
}

void onOptions(HWND dialog) {
  Workspace& ws = workspace();
  OptionsWorkingCopy copy = beginOptionsEdit(ws.settings(), ws.shell);
  if (runOptionsDialog(dialog, copy) != 1) return;
  waitForWorker();  // a state save may still read the tree; the new comparison frees it
  if (commitOptionsEdit(ws.settings(), ws.shell, std::move(copy))) {
    closeFileTree(dialog, IDCANCEL);
    if (confirmRootsApart(app().mainWindow)) startTask(TaskId::Compare);
    return;
  }
  SendMessageW(gState->tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  gState->filled.clear();
  for (int id : {IDC_TREE_SOURCE_FILES, IDC_TREE_SOURCE_BYTES, IDC_TREE_TARGET_FILES,
                 IDC_TREE_TARGET_BYTES})
    SetDlgItemTextW(dialog, id, L"");
  fillTree(dialog);
}

bool onCommand(HWND dialog, int id) {
  HWND main = app().mainWindow;
  switch (id) {
    case IDOK:
    case IDCANCEL:
      closeFileTree(dialog, id);
      return true;
    case IDT_SYNC:
      // Asked while the tree and its ticks are still here: No returns to them as they were.
      waitForWorker();  // a state save of this window may still read the tree
      if (!confirmSync(dialog)) return true;
      app().syncConfirmed = true;
      PostMessageW(main, WM_COMMAND, IDT_SYNC, 0);
      closeFileTree(dialog, IDT_SYNC);
      return true;
    case IDT_SAVE_SOURCE_STATE:
    case IDT_SAVE_TARGET_STATE: {
      std::optional<std::u16string> path = askSavePath(dialog, fileFilterFor(SideKind::SavedState));
      if (!path) return true;
      // An earlier save of this window may still be writing; the gate makes this one wait,
      // but the name it reads must not change under it.
      waitForWorker();
      workspace().task.saveFileName = *path;
      startStateSave(static_cast<TaskId>(id));
      return true;
    }
    case IDT_SAVE_DIFF: {
      std::optional<std::u16string> path =
          askSavePath(dialog, fileFilterFor(SideKind::SavedDifference));
      if (!path) return true;
      // Owned by this window, which it disables while it runs: the main window stays disabled
      // and nothing here can start meanwhile.
      if (!runSaveDiffDialog(dialog)) return true;
      waitForWorker();  // a state save of this window still writing: let it finish first
      workspace().task.saveFileName = *path;
      PostMessageW(main, WM_COMMAND, IDT_SAVE_DIFF, 0);
      closeFileTree(dialog, IDT_SAVE_DIFF);
      return true;
    }
    case IDC_TREE_OPTIONS:
      onOptions(dialog);
      return true;
    default:
      return false;
  }
}

INT_PTR CALLBACK fileTreeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      gState->tree = GetDlgItem(dialog, IDC_TREE);
      onInit(dialog);
      return FALSE;  // the focus is set
    case WM_SIZE:
      if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) layoutFileTree(dialog);
      return TRUE;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {450, 380};
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom != IDC_TREE || !gState->tree) return FALSE;
      // An answer of 0 is what the dialog box gives when this returns FALSE: no
      // SetWindowLongPtr, a trip to the Wine server, for each of the many notifications a
      // batch of changes to the tree sends.
      const LRESULT result = onTreeNotify(dialog, header);
      if (!result) return FALSE;
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case WM_TREE_PLACE: {
      const WINDOWPLACEMENT placement = storedPlacement();
      SetWindowPlacement(dialog, &placement);
      return TRUE;
    }
    case WM_TREE_CHECK_TOGGLED: {
      auto item = reinterpret_cast<HTREEITEM>(lParam);
      onCheckToggled(dialog, item);
      return TRUE;
    }
    case WM_STATE_SAVE_FAILED: {
      // The worker has returned: what it left in the task state is for this thread to read.
      waitForWorker();
      std::u16string text = u"Failed to write file!";
      const std::u16string cause = failedTaskCause(static_cast<TaskId>(wParam),
                                                   static_cast<Rc>(lParam), workspace().task);
      if (!cause.empty()) text += u"\n\n" + cause;
      MessageBoxW(dialog, wide(text), L"Error", MB_OK | MB_ICONERROR);
      return TRUE;
    }
    case WM_COMMAND:
      return onCommand(dialog, LOWORD(wParam)) ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

FileNode& fileTreeRootNode() { return gRootNode; }

FileNode* nodeOfItem(HWND tree, HTREEITEM item) {
  TVITEMW it{};
  it.mask = TVIF_PARAM | TVIF_HANDLE;
  it.hItem = item;
  if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return nullptr;
  return reinterpret_cast<FileNode*>(it.lParam);
}

void layoutFileTree(HWND dialog) {
  RECT r{};
  GetClientRect(dialog, &r);
  const int w = r.right, h = r.bottom;
  std::vector<ControlPlace> places = {{GetDlgItem(dialog, IDC_TREE), 111, 11, w - 211, h - 23}};
  const int x = w - 86;
  const int buttons[][2] = {{IDT_SYNC, 11},          {IDT_SAVE_SOURCE_STATE, 49},
                            {IDT_SAVE_TARGET_STATE, 77}, {IDT_SAVE_DIFF, 105},
                            {IDC_TREE_OPTIONS, 143}, {IDCANCEL, 181}};
  for (const auto& b : buttons) places.push_back({GetDlgItem(dialog, b[0]), x, b[1], 75, 23});
  placeControls(dialog, places);
}

INT_PTR runFileTreeWindow(HWND owner) {
  FileTreeState state;
  FileTreeState* outer = gState;
  gState = &state;
  const INT_PTR result = DialogBoxParamW(app().instance, MAKEINTRESOURCEW(IDD_FILE_TREE), owner,
                                         fileTreeProc, 0);
  if (state.icons) ImageList_Destroy(state.icons);
  gState = outer;
  app().fileTreeWindow = nullptr;
  return result;
}

}  // namespace fw
