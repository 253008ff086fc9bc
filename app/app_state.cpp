#include "app/app_state.h"

#include <vector>

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
  a.gate = TaskGate{};
  a.workerThread = nullptr;
  a.workerCancelled = false;
}

std::u16string windowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  GetWindowTextW(window, buffer.data(), length + 1);
  return fromWide(buffer.data());
}

void showError(const wchar_t* text) {
  MessageBoxW(app().mainWindow, text, L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace fw
