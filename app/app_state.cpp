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
  const ScreenPoint p = centredOrigin({o.left, o.top, o.right, o.bottom},
                                      {w.left, w.top, w.right, w.bottom});
  MoveWindow(window, p.x, p.y, w.right - w.left, w.bottom - w.top, TRUE);
}

void centreOnOwner(HWND window) {
  if (HWND owner = GetWindow(window, GW_OWNER)) centreOver(owner, window);
}

void showError(const wchar_t* text) {
  MessageBoxW(app().mainWindow, text, L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace fw
