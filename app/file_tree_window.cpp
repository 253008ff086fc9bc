// The File Tree window. Tree items are inserted lazily: a folder's entries when it is first
// expanded, so that opening a large comparison costs only its top levels.
#include "app/file_tree_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/app_state.h"
#include "app/file_dialogs.h"
#include "app/logic/file_tree_model.h"
#include "app/logic/shell_entry.h"
#include "app/logic/task_flow.h"
#include "app/resources/resource_ids.h"
#include "app/safety_net.h"
#include "app/save_diff_dialog.h"
#include "app/shell_dialogs.h"
#include "app/tasks.h"
#include "core/comparison.h"
#include "core/root_overlap.h"

namespace fw {
namespace {

FileNode gRootNode;
const char16_t kRootName[] = u"Root";

// The entries the shell was handed, to be looked at on disk again, and those found gone or
// changed there with the text their rows show.
struct ShellMarks {
  std::vector<std::vector<FileNode*>> actedOn;  // each from its pair root down
  std::unordered_map<const FileNode*, std::u16string> changed;
};

struct FileTreeState {
  HWND tree = nullptr;
  HIMAGELIST icons = nullptr;
  std::unordered_set<HTREEITEM> filled;  // items whose entries have been inserted
  // The boxes as the Excluded marks say; worked out when first asked for after a change.
  std::optional<TickStates> ticks;
  ShellMarks shell;
};
FileTreeState* gState = nullptr;
// The tree view's own window procedure, below treeProc (the same for every tree view).
WNDPROC gTreeViewProc = nullptr;

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

// The boxes of every entry as the marks say.
const TickStates& currentTicks() {
  if (!gState->ticks) gState->ticks.emplace(&gRootNode);
  return *gState->ticks;
}

// The marks are the truth about the boxes. The tree's own box images are set when items are
// inserted and then left alone: the box drawn over each row as it is painted, and the box
// read by anyone asking the tree for an item's state, come from the marks (see drawTrueBox
// and treeProc). So a change of the marks costs one pass over the entries and one redraw,
// however many items the tree holds, rather than a message per item: under Wine every
// message naming an item looks it up in a list of all items, and a box set on an item the
// tree shows makes it recount its scroll bars.
void marksChanged(HWND tree) {
  gState->ticks.reset();
  InvalidateRect(tree, nullptr, TRUE);
}

// The tree's own procedure, bypassing treeProc.
LRESULT callTree(HWND tree, UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcW(gTreeViewProc, tree, message, wParam, lParam);
}

// The state image the marks give the item's box; 0 for an item without a node.
UINT trueBox(HWND tree, HTREEITEM item) {
  TVITEMW it{};
  it.mask = TVIF_PARAM | TVIF_HANDLE;
  it.hItem = item;
  if (!callTree(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it)) || !it.lParam) return 0;
  return INDEXTOSTATEIMAGEMASK(
      static_cast<UINT>(currentTicks().of(reinterpret_cast<FileNode*>(it.lParam))));
}

// After the tree has painted a row: where its own image of the box is out of date, the box
// the marks give, drawn over it. The box lies left of the item's icon, which lies left of
// its text.
void drawTrueBox(HWND tree, const NMTVCUSTOMDRAW& draw) {
  auto item = reinterpret_cast<HTREEITEM>(draw.nmcd.dwItemSpec);
  const UINT wanted = trueBox(tree, item);
  const auto shown = static_cast<UINT>(
      callTree(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_STATEIMAGEMASK));
  if (!wanted || shown == wanted) return;
  auto boxes = reinterpret_cast<HIMAGELIST>(callTree(tree, TVM_GETIMAGELIST, TVSIL_STATE, 0));
  auto icons = reinterpret_cast<HIMAGELIST>(callTree(tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
  int boxW = 0, boxH = 0, iconW = 0, iconH = 0;
  RECT text{};
  std::memcpy(&text, &item, sizeof item);  // the message takes the item in the rectangle
  if (!boxes || !ImageList_GetIconSize(boxes, &boxW, &boxH) ||
      (icons && !ImageList_GetIconSize(icons, &iconW, &iconH)) ||
      !callTree(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&text)))
    return;
  const int x = text.left - iconW - boxW;
  const int y = (draw.nmcd.rc.top + draw.nmcd.rc.bottom) / 2 - boxH / 2;
  // The images are drawn through a mask: the old box is wiped out first.
  const auto background = static_cast<COLORREF>(callTree(tree, TVM_GETBKCOLOR, 0, 0));
  HBRUSH brush = background == CLR_NONE ? GetSysColorBrush(COLOR_WINDOW)
                                        : CreateSolidBrush(background);
  const RECT box{x, y, x + boxW, y + boxH};
  FillRect(draw.nmcd.hdc, &box, brush);
  if (background != CLR_NONE) DeleteObject(brush);
  ImageList_Draw(boxes, static_cast<int>(wanted >> 12), draw.nmcd.hdc, x, y, ILD_NORMAL);
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

// One item for the node, the last below the parent. TVI_LAST rather than the item before it:
// the tree keeps its parent's last item, while an item named in a message is looked up in a
// list of all items under Wine.
HTREEITEM insertItem(HWND tree, HTREEITEM parent, FileNode* node, uint32_t colorize,
                     TickState tick) {
  TVINSERTSTRUCTW ins{};
  ins.hParent = parent;
  ins.hInsertAfter = TVI_LAST;
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
  const TickStates& ticks = currentTicks();
  SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
  for (FileNode* node : childrenInOrder(siblings))
    insertItem(tree, parent, node, colorize, ticks.of(node));
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
  gState->ticks.reset();
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

// Keypad "*": every folder below the item inserted and expanded. The items go in a level at
// a time, so that the folders, which the tree looks up for each item inserted below them, come
// early in its list of all items. The folders are expanded deepest first while the item
// itself is collapsed, so that the tree lays out the items it shows once, when the item is
// expanded last, instead of once for every folder.
void expandAllBelow(HTREEITEM top) {
  HWND tree = gState->tree;
  FileNode* topNode = nodeOfItem(tree, top);
  if (!topNode || !topNode->children) return;
  const uint32_t colorize = workspace().settings().flagsColorize;
  const TickStates& ticks = currentTicks();
  TreeBatch batch(tree);
  if (SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(top), TVIS_EXPANDED))
    SendMessageW(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(top));
  std::vector<HTREEITEM> folders;  // a level at a time, from the item down
  std::vector<std::pair<HTREEITEM, FileNode*>> level{{top, topNode}}, below;
  while (!level.empty()) {
    for (const auto& [item, node] : level) {
      folders.push_back(item);
      if (gState->filled.insert(item).second) {
        for (FileNode* child : childrenInOrder(node->children)) {
          HTREEITEM c = insertItem(tree, item, child, colorize, ticks.of(child));
          if (c && child->children) below.push_back({c, child});
        }
      } else {
        for (HTREEITEM c = nextItem(tree, item, TVGN_CHILD); c;
             c = nextItem(tree, c, TVGN_NEXT)) {
          FileNode* child = nodeOfItem(tree, c);
          if (child && child->children) below.push_back({c, child});
        }
      }
    }
    level.swap(below);
    below.clear();
  }
  for (auto f = folders.rbegin(); f != folders.rend(); ++f)
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(*f));
  SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(top));
}

// The tree's messages before the tree sees them. Keypad "*" expands everything below the
// selected item here, in one batch, and not in the tree, which would expand folder by folder,
// laying out and drawing itself after each. A question for an item's state is answered with
// the box the marks give (see marksChanged). A plain window procedure rather than
// SetWindowSubclass: under Wine that looks the subclass up in a window property, a trip to
// the Wine server, for every message the tree gets.
LRESULT CALLBACK treeProc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam) {
  if (gState && tree == gState->tree) {
    switch (message) {
      case WM_KEYDOWN:
        if (wParam != VK_MULTIPLY) break;
        if (HTREEITEM item = nextItem(tree, nullptr, TVGN_CARET)) expandAllBelow(item);
        return 0;
      case TVM_GETITEMSTATE: {
        const LRESULT state = callTree(tree, message, wParam, lParam);
        const UINT box = trueBox(tree, reinterpret_cast<HTREEITEM>(wParam));
        if (!box || !(lParam & TVIS_STATEIMAGEMASK)) return state;
        return (state & ~TVIS_STATEIMAGEMASK) | (box & lParam);
      }
      case TVM_GETITEMW:
      case TVM_GETITEMA: {
        const LRESULT found = callTree(tree, message, wParam, lParam);
        // The A and W forms share the fields used here.
        auto* it = reinterpret_cast<TVITEMW*>(lParam);
        if (!found || !(it->mask & TVIF_STATE)) return found;
        if (const UINT box = trueBox(tree, it->hItem))
          it->state = (it->state & ~TVIS_STATEIMAGEMASK) | box;
        return found;
      }
      default:
        break;
    }
  }
  return callTree(tree, message, wParam, lParam);
}

// A box was toggled, by a click or the space bar. The tree has turned the box to its next
// image already; what it becomes follows from the marks instead: a ticked entry is unticked,
// an unticked or partly ticked one is ticked with everything below it.
void onCheckToggled(HWND dialog, HTREEITEM item) {
  HWND tree = gState->tree;
  FileNode* node = nodeOfItem(tree, item);
  if (!node) return;
  const bool ticked = currentTicks().of(node) != TickState::Ticked;
  std::vector<FileNode*> ancestors;
  for (HTREEITEM p = nextItem(tree, item, TVGN_PARENT); p; p = nextItem(tree, p, TVGN_PARENT))
    ancestors.push_back(nodeOfItem(tree, p));
  const SyncSettings& s = workspace().settings();
  applyCheck(node, ancestors, ticked, s.flagsSrc, s.flagsTrg);
  marksChanged(tree);
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

// The nodes from the item's pair root down to its own; empty for the Root item.
std::vector<FileNode*> chainOf(HWND tree, HTREEITEM item) {
  std::vector<FileNode*> chain;
  for (HTREEITEM i = item; i; i = nextItem(tree, i, TVGN_PARENT)) {
    FileNode* n = nodeOfItem(tree, i);
    if (!n || n == &gRootNode) break;
    chain.insert(chain.begin(), n);
  }
  return chain;
}

// The entry's path on each side (all = false: only where the side is a folder on disk and the
// comparison saw the entry there).
SidePaths pathsOf(const std::vector<FileNode*>& chain, bool all, bool onDisk[2]) {
  const Workspace& ws = workspace();
  const int row = chain.empty() ? -1 : pairRowOf(gRootNode.children, chain[0]);
  std::u16string roots[2];
  for (int s = 0; s < 2; ++s) {
    onDisk[s] = ws.sides[s].kind == SideKind::FileSystem;
    const std::vector<std::u16string>& r = ws.sides[s].selected().roots;
    if (row >= 0 && static_cast<size_t>(row) < r.size()) roots[s] = r[row];
  }
  const std::vector<const FileNode*> nodes(chain.begin(), chain.end());
  return all ? sidePaths(nodes, roots) : copiesOnDisk(nodes, roots, onDisk);
}

// The copy the shell acts on: that of side, or (side -1) the one a double click opens. With
// no copy on disk on either side, the path the tree names the entry by.
std::u16string pathToOpen(HWND tree, HTREEITEM item, const SidePaths& copies, int side) {
  if (side < 0) side = sideToOpen(copies);
  return side >= 0 ? copies.path[side] : entryPathOf(tree, item);
}

// The path in a form the shell takes; empty when it has none (see shellFormOf).
std::u16string shellPathOf(const std::u16string& path) {
  return shellFormOf(path, [](const std::u16string& longPath) -> std::u16string {
    DWORD n = GetShortPathNameW(wide(longPath), nullptr, 0);
    if (n == 0) return {};
    std::wstring buffer(n, L'\0');
    n = GetShortPathNameW(wide(longPath), buffer.data(), n);
    if (n == 0 || n >= buffer.size()) return {};
    return fromWide(buffer.c_str());
  });
}

void noteActedOn(std::vector<FileNode*> chain) {
  std::vector<std::vector<FileNode*>>& acted = gState->shell.actedOn;
  for (const std::vector<FileNode*>& c : acted)
    if (c.back() == chain.back()) return;
  acted.push_back(std::move(chain));
}

// Opens side's copy of the entry (-1: the one a double click opens) with the shell's default
// verb, working folder its folder. A path the shell cannot take is named in a message instead.
void openEntry(HWND dialog, HTREEITEM item, int side) {
  HWND tree = gState->tree;
  std::vector<FileNode*> chain = chainOf(tree, item);
  if (chain.empty()) return;
  bool onDisk[2];
  const std::u16string path = pathToOpen(tree, item, pathsOf(chain, false, onDisk), side);
  const std::u16string shellPath = shellPathOf(path);
  if (shellPath.empty()) {
    const std::u16string text =
        u"The shell cannot open this path: it is longer than the shell takes, and the disk "
        u"gives no short form of it (short names are off on that drive, or the entry is "
        u"gone):\n\n" + path;
    MessageBoxW(dialog, wide(text), L"Error", MB_OK | MB_ICONERROR);
    return;
  }
  noteActedOn(std::move(chain));
  ShellExecuteW(dialog, nullptr, wide(shellPath), nullptr, wide(folderPart(shellPath)),
                SW_SHOWNORMAL);
}

// The shell's context menu object for a path (owned by the dialog); null on any failure. A
// short form the shell cannot parse (one shell looks a file up by its long form, which passes
// the limit) is taken as a plain list of its names instead: it is there, since the disk gave
// that form for it.
IContextMenu* shellMenuOf(HWND dialog, const std::u16string& path, bool shortForm) {
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (FAILED(SHParseDisplayName(wide(path), nullptr, &pidl, 0, nullptr)) &&
      !(shortForm && (pidl = SHSimpleIDListFromPath(wide(path)))))
    return nullptr;
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
  return menuObject;
}

void invokeShellCommand(HWND dialog, IContextMenu* menuObject, int chosen, POINT at) {
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

// The entry's context menu: "Open source's" and "Open target's" (each greyed where that side
// holds no copy on disk), then the shell's own menu for the copy a double click opens, with
// command ids 1 to 32767. After a shell command the entry is looked at on disk again: a
// Delete or Rename leaves it gone.
void showEntryMenu(HWND dialog, HTREEITEM item, POINT at) {
  HWND tree = gState->tree;
  std::vector<FileNode*> chain = chainOf(tree, item);
  if (chain.empty()) return;  // "Root" is no entry on disk
  bool onDisk[2];
  const SidePaths copies = pathsOf(chain, false, onDisk);
  const std::u16string path = pathToOpen(tree, item, copies, -1);
  const std::u16string shellPath = shellPathOf(path);
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  AppendMenuW(menu, copies.path[0].empty() ? MF_GRAYED : MF_ENABLED, IDM_TREE_OPEN_SOURCE,
              L"Open source's");
  AppendMenuW(menu, copies.path[1].empty() ? MF_GRAYED : MF_ENABLED, IDM_TREE_OPEN_TARGET,
              L"Open target's");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  IContextMenu* menuObject = nullptr;
  if (shellPath.empty()) {
    AppendMenuW(menu, MF_GRAYED, IDM_TREE_SHELL_TOO_LONG, L"Path too long for the shell");
  } else if ((menuObject = shellMenuOf(dialog, shellPath, shellPath != path)) &&
             FAILED(menuObject->QueryContextMenu(menu, GetMenuItemCount(menu), 1, 0x7FFF,
                                                 CMF_NORMAL))) {
    menuObject->Release();
    menuObject = nullptr;
  }
  if (GetMenuItemCount(menu) == 3) DeleteMenu(menu, 2, MF_BYPOSITION);  // the separator
  const int chosen =
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, dialog, nullptr);
  if (chosen == IDM_TREE_OPEN_SOURCE || chosen == IDM_TREE_OPEN_TARGET) {
    openEntry(dialog, item, chosen - IDM_TREE_OPEN_SOURCE);
  } else if (menuObject && chosen > 0 && chosen <= 0x7FFF) {
    invokeShellCommand(dialog, menuObject, chosen, at);
    noteActedOn(std::move(chain));
    PostMessageW(dialog, WM_TREE_RECHECK, 0, 0);
  }
  DestroyMenu(menu);
  if (menuObject) menuObject->Release();
}

// The item that shows the chain's entry, null when it is not inserted.
HTREEITEM findItem(HWND tree, const std::vector<FileNode*>& chain) {
  HTREEITEM at = nextItem(tree, nullptr, TVGN_ROOT);
  for (FileNode* n : chain) {
    if (!at) return nullptr;
    HTREEITEM c = nextItem(tree, at, TVGN_CHILD);
    while (c && nodeOfItem(tree, c) != n) c = nextItem(tree, c, TVGN_NEXT);
    at = c;
  }
  return at;
}

// A row whose entry is gone or changed on disk: greyed, with the label saying so.
void showChangedMark(HWND tree, HTREEITEM item, const std::u16string& label) {
  TVITEMW it{};
  it.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
  it.hItem = item;
  it.pszText = const_cast<wchar_t*>(wide(label));
  it.stateMask = it.state = TVIS_CUT;
  SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
}

// Marked entries keep their marks when their rows are made again (Options rebuilds the tree).
void showChangedMarksBelow(HWND tree, HTREEITEM parent) {
  const auto& changed = gState->shell.changed;
  if (changed.empty()) return;
  for (HTREEITEM c = nextItem(tree, parent, TVGN_CHILD); c; c = nextItem(tree, c, TVGN_NEXT)) {
    const auto found = changed.find(nodeOfItem(tree, c));
    if (found != changed.end()) showChangedMark(tree, c, found->second);
  }
}

// Looks at the entries the shell was handed, and the selected one, on disk again. One that is
// gone or changed since the comparison is unticked as a click on its box would untick it, so
// that a sync leaves it alone rather than finding it changed, and its row says what became of
// it. A pair root is not looked at: a missing root is the run's own case.
void recheckEntries(HWND dialog) {
  HWND tree = gState->tree;
  ShellMarks& marks = gState->shell;
  std::vector<std::vector<FileNode*>> chains = marks.actedOn;
  if (HTREEITEM selected = nextItem(tree, nullptr, TVGN_CARET))
    chains.push_back(chainOf(tree, selected));
  Fs& fs = *workspace().task.fs;
  const SyncSettings& settings = workspace().settings();
  bool marked = false;
  for (const std::vector<FileNode*>& chain : chains) {
    if (chain.size() < 2 || marks.changed.count(chain.back())) continue;
    FileNode* node = chain.back();
    bool onDisk[2];
    const SidePaths paths = pathsOf(chain, true, onDisk);
    DiskState states[2] = {DiskState::NotLooked, DiskState::NotLooked};
    for (int s = 0; s < 2; ++s)
      if (onDisk[s] && !paths.path[s].empty())
        states[s] = recheckSide(fs, longForm(fs, paths.path[s]), node, s);
    if (!changedOnDisk(states)) continue;
    std::vector<FileNode*> ancestors(chain.rbegin() + 1, chain.rend());
    ancestors.push_back(&gRootNode);
    applyCheck(node, ancestors, false, settings.flagsSrc, settings.flagsTrg);
    std::u16string label = changedLabel(node->name, states);
    if (HTREEITEM item = findItem(tree, chain)) showChangedMark(tree, item, label);
    marks.changed.emplace(node, std::move(label));
    marked = true;
  }
  std::erase_if(marks.actedOn, [&](const std::vector<FileNode*>& c) {
    return marks.changed.count(c.back()) != 0;
  });
  if (!marked) return;
  marksChanged(tree);
  markTree(&gRootNode, liveMasks(), nullptr);
  showSelected(dialog);
}

LRESULT onTreeNotify(HWND dialog, NMHDR* header) {
  HWND tree = gState->tree;
  switch (header->code) {
    case NM_CUSTOMDRAW: {
      auto* draw = reinterpret_cast<NMTVCUSTOMDRAW*>(header);
      switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
          return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
          return CDRF_NOTIFYPOSTPAINT;
        case CDDS_ITEMPOSTPAINT:
          drawTrueBox(tree, *draw);
          return CDRF_DODEFAULT;
        default:
          return CDRF_DODEFAULT;
      }
    }
    case TVN_ITEMEXPANDINGW: {
      auto* nm = reinterpret_cast<NMTREEVIEWW*>(header);
      HTREEITEM item = nm->itemNew.hItem;
      if (gState->filled.insert(item).second) {
        FileNode* node = nodeOfItem(tree, item);
        if (node) insertChildren(tree, item, node->children);
      }
      return 0;
    }
    case TVN_ITEMEXPANDEDW:
      showChangedMarksBelow(tree, reinterpret_cast<NMTREEVIEWW*>(header)->itemNew.hItem);
      return 0;
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
      // The second click of a double click on a box turns it again, as the tree does.
      if (item && (flags & TVHT_ONITEMSTATEICON)) {
        PostMessageW(dialog, WM_TREE_CHECK_TOGGLED, 0, reinterpret_cast<LPARAM>(item));
        return 0;
      }
      if (!item || !(flags & (TVHT_ONITEMICON | TVHT_ONITEMLABEL))) return 0;
      FileNode* node = nodeOfItem(tree, item);
      if (!node || isFolder(node)) return 0;
      openEntry(dialog, item, -1);
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
      showEntryMenu(dialog, item,
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
  gTreeViewProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
      gState->tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(treeProc)));
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
    case WM_ACTIVATE:
      // Back from another program (the one an entry was opened with, a file manager): the
      // entries the shell was handed, and the selected one, may have changed meanwhile.
      if (LOWORD(wParam) != WA_INACTIVE && gState->tree)
        PostMessageW(dialog, WM_TREE_RECHECK, 0, 0);
      return FALSE;
    case WM_TREE_RECHECK:
      recheckEntries(dialog);
      return TRUE;
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
