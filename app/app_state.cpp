#include "app/app_state.h"

#include <vector>

#include "app/logic/summary_text.h"

namespace fw {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text goes to the wide calls as it is");

namespace {
App* gApp = new App;  // never destroyed: a late worker message must not meet a dead object
}  // namespace

App& app() { return *gApp; }
Workspace& workspace() { return *gApp->ws; }

void resetApp() {
  App& a = *gApp;
  a.instance = nullptr;
  a.mainWindow = nullptr;
  a.controls = MainControls{};
  a.fonts = Fonts{};
  a.ws.reset();
  a.decimalPoint = '.';
  a.progressWindow = nullptr;
  a.fileTreeWindow = nullptr;
  a.progressTask = TaskId::Compare;
  a.syncConfirmed = false;
  a.syncCancelled = false;
  a.gate = TaskGate{};
  a.workerThread = nullptr;
}

std::u16string windowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  GetWindowTextW(window, buffer.data(), length + 1);
  return fromWide(buffer.data());
}

void placeControls(HWND parent, const std::vector<ControlPlace>& places) {
  HDWP batch = BeginDeferWindowPos(static_cast<int>(places.size()));
  for (const ControlPlace& p : places) {
    if (!p.control) continue;
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;
    if (batch)
      batch = DeferWindowPos(batch, p.control, nullptr, p.x, p.y, p.width, p.height, flags);
    else
      SetWindowPos(p.control, nullptr, p.x, p.y, p.width, p.height, flags);
  }
  if (batch) EndDeferWindowPos(batch);
  RedrawWindow(parent, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void centreOver(HWND owner, HWND window) {
  RECT o, w;
  GetWindowRect(owner, &o);
  GetWindowRect(window, &w);
  const int width = w.right - w.left, height = w.bottom - w.top;
  const ScreenPoint c = centredOrigin({o.left, o.top, o.right, o.bottom},
                                      {w.left, w.top, w.right, w.bottom});
  // Centred over a small owner near an edge, the window would reach past it: it is kept in
  // the work area of the monitor it is centred on.
  RECT centred{c.x, c.y, c.x + width, c.y + height};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ScreenPoint p = c;
  if (GetMonitorInfoW(MonitorFromRect(&centred, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& a = monitor.rcWork;
    p = originInside({a.left, a.top, a.right, a.bottom}, {c.x, c.y, c.x + width, c.y + height});
  }
  MoveWindow(window, p.x, p.y, width, height, TRUE);
}

void centreOnOwner(HWND window) {
  if (HWND owner = GetWindow(window, GW_OWNER)) centreOver(owner, window);
}

void showError(const wchar_t* text) {
  MessageBoxW(app().mainWindow, text, L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace fw
