// The main window's class, controls, layout and window procedure. What its commands do is in
// project_commands.cpp; background tasks in tasks.cpp.
#include "app/main_window.h"

#include <windows.h>
#include <commctrl.h>

#include "app/app_state.h"
#include "app/logic/main_layout.h"
#include "app/logic/project_model.h"
#include "app/progress_window.h"
#include "app/resources/resource_ids.h"
#include "app/safety_net.h"
#include "app/settings_registry.h"
#include "app/tasks.h"

namespace fw {
namespace {

constexpr UINT_PTR kListSubclassId = 1;
constexpr UINT_PTR kKindBoxSubclassId = 2;

HWND makeChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id,
               HFONT font) {
  HWND child = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 100, 100,
                               parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               app().instance, nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

// Keeps the other list's top row equal to this one's after anything that may scroll it: the
// scroll bar, the wheel and the keyboard.
LRESULT CALLBACK listProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                          DWORD_PTR) {
  LRESULT result = DefSubclassProc(list, message, wParam, lParam);
  if (message == WM_VSCROLL || message == WM_MOUSEWHEEL || message == WM_KEYDOWN) {
    const MainControls& c = app().controls;
    HWND other = list == c.list[0] ? c.list[1] : c.list[0];
    const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    if (other && SendMessageW(other, LB_GETTOPINDEX, 0, 0) != top)
      SendMessageW(other, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  }
  return result;
}

// Marks a selection change that a key makes while the list is closed, so that the command
// handler waits for Enter before it acts on it.
LRESULT CALLBACK kindBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR side) {
  MainControls& c = app().controls;
  const bool byKey = (message == WM_KEYDOWN || message == WM_CHAR) &&
                     !SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0);
  if (!byKey) return DefSubclassProc(box, message, wParam, lParam);
  const bool before = c.kindByKey[side];
  c.kindByKey[side] = true;
  const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
  c.kindByKey[side] = before;
  return result;
}

void createControls(HWND window) {
  App& a = app();
  MainControls& c = a.controls;
  const wchar_t* labels[2] = {L"Source", L"Target"};
  for (int side = 0; side < 2; ++side) {
    c.label[side] = makeChild(window, L"STATIC", labels[side], SS_RIGHT, IDC_LABEL_SOURCE + side,
                              a.fonts.label);
    c.kindBox[side] =
        makeChild(window, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                  IDC_KIND_SOURCE + side, a.fonts.normal);
    c.browse[side] = makeChild(window, L"BUTTON", L"...", BS_PUSHBUTTON | WS_TABSTOP,
                               IDC_BROWSE_SOURCE + side, a.fonts.normal);
    c.list[side] = makeChild(window, L"LISTBOX", L"",
                             WS_BORDER | WS_VSCROLL | LBS_DISABLENOSCROLL | LBS_NOTIFY |
                                 LBS_NOINTEGRALHEIGHT | WS_TABSTOP,
                             IDC_LIST_SOURCE + side, a.fonts.normal);
    SetWindowSubclass(c.list[side], listProc, kListSubclassId, 0);
    SetWindowSubclass(c.kindBox[side], kindBoxProc, kKindBoxSubclassId,
                      static_cast<DWORD_PTR>(side));
  }
  c.add = makeChild(window, L"BUTTON", L"Add", BS_PUSHBUTTON | WS_TABSTOP, IDC_ADD,
                    a.fonts.normal);
  c.edit = makeChild(window, L"BUTTON", L"Edit", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED,
                     IDC_EDIT, a.fonts.normal);
  c.remove = makeChild(window, L"BUTTON", L"Delete", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED,
                       IDC_DELETE, a.fonts.normal);
  c.compare = makeChild(window, L"BUTTON", L"Compare", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED,
                        IDC_COMPARE, a.fonts.label);
}

ControlPlace at(HWND control, const ControlBox& box) {
  return {control, box.x, box.y, box.width, box.height};
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      app().mainWindow = window;
      createControls(window);
      addSafetyMenuItems(window);
      showKindBox(0);
      showKindBox(1);
      refreshLists();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SIZE:
      if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) layoutMainWindow(window);
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = kMainMinWidth;
      info->ptMinTrackSize.y = kMainMinHeight;
      return 0;
    }
    case WM_CLOSE:
      if (!askToSaveChanges()) return 0;        // Cancel: the project stays open
      if (!stopTaskBeforeClosing()) return 0;  // No: the task goes on
      break;
    case WM_DESTROY:
      saveSettings(window);
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      if (onMainCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)))
        return 0;
      break;
    case WM_WORKER_DONE:
      onWorkerDone();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool registerMainWindowClass() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = mainWindowProc;
  wc.hInstance = app().instance;
  wc.hIcon = LoadIconW(app().instance, MAKEINTRESOURCEW(IDI_APP));
  wc.hIconSm = static_cast<HICON>(LoadImageW(app().instance, MAKEINTRESOURCEW(IDI_APP),
                                             IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
  wc.lpszClassName = kMainWindowClass;
  return RegisterClassExW(&wc) != 0;
}

void unregisterMainWindowClass() { UnregisterClassW(kMainWindowClass, app().instance); }

HWND createMainWindow() {
  return CreateWindowExW(0, kMainWindowClass, L"Ferrywick",
                         WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                         600, 450, nullptr, nullptr, app().instance, nullptr);
}

void layoutMainWindow(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  const MainLayout m = layoutMainWindow(client.right, client.bottom, workspace().kindBoxChars);
  const MainControls& c = app().controls;
  std::vector<ControlPlace> places;
  for (int side = 0; side < 2; ++side) {
    places.push_back(at(c.label[side], m.side[side].label));
    places.push_back(at(c.kindBox[side], m.side[side].kindBox));
    places.push_back(at(c.browse[side], m.side[side].browse));
    places.push_back(at(c.list[side], m.side[side].list));
  }
  for (auto [control, box] : {std::pair{c.add, m.add}, std::pair{c.edit, m.edit},
                              std::pair{c.remove, m.remove}, std::pair{c.compare, m.compare}})
    places.push_back(at(control, box));
  placeControls(window, places);
}

void fitKindBoxes() {
  fitKindBoxChars(workspace());
  layoutMainWindow(app().mainWindow);
}

void showKindBox(int side) {
  HWND box = app().controls.kindBox[side];
  const Workspace& ws = workspace();
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const auto& label : ws.kindLabels[side])
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(label)));
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(ws.sides[side].kind), 0);
}

}  // namespace fw
