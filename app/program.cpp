#include "app/program.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <clocale>
#include <cstring>

#include "app/app_state.h"
#include "app/logic/command_line.h"
#include "app/logic/project_model.h"
#include "app/main_window.h"
#include "app/resources/resource_ids.h"
#include "app/settings_registry.h"
#include "app/tasks.h"

namespace fw {
namespace {

HFONT arial(int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Arial");
}

void createFonts() {
  Fonts& f = app().fonts;
  f.normal = arial(14, FW_NORMAL);
  f.label = arial(16, 600);
  f.heading = arial(15, FW_BOLD);
  f.small = arial(12, FW_NORMAL);
}

void deleteFonts() {
  Fonts& f = app().fonts;
  for (HFONT font : {f.normal, f.label, f.heading, f.small})
    if (font) DeleteObject(font);
  f = Fonts{};
}

void adoptUserLocale() {
  std::setlocale(LC_ALL, "");
  const lconv* conventions = std::localeconv();
  if (conventions && conventions->decimal_point && conventions->decimal_point[0])
    app().decimalPoint = conventions->decimal_point[0];
}

// Where the logs of the syncs go: Ferrywick\Logs in the user's local application data (not
// roamed: a log belongs to the machine whose folders it names). Empty, and no log, where the
// system names no such folder.
std::u16string syncLogFolder() {
  wchar_t folder[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return {};
  return reinterpret_cast<const char16_t*>(folder) + std::u16string(u"\\Ferrywick\\Logs");
}

void showMainWindow(HWND window, int showCommand) {
  const Workspace& ws = workspace();
  if (hasPlacement(ws.shell.mainPlacement)) {
    WINDOWPLACEMENT placement;
    std::memcpy(&placement, ws.shell.mainPlacement.data(), sizeof placement);
    placement.length = sizeof placement;
    SetWindowPlacement(window, &placement);
  } else {
    ShowWindow(window, showCommand);
  }
  UpdateWindow(window);
}

}  // namespace

bool startProgram(HINSTANCE instance, const wchar_t* commandLine, int showCommand) {
  const std::u16string token =
      firstCommandLineToken(reinterpret_cast<const char16_t*>(commandLine));
  adoptUserLocale();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{
      sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  resetApp();
  App& a = app();
  a.instance = instance;
  a.ws = std::make_unique<Workspace>();
  a.ws->task.pool.setBlockSize(kDefaultBlockSize);
  loadSettings();
  a.ws->task.logFolder = syncLogFolder();
  createFonts();
  a.accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));

  if (!registerMainWindowClass() || !createMainWindow()) {
    shutdownProgram();
    return false;
  }
  showMainWindow(a.mainWindow, showCommand);

  if (!token.empty() && loadStartupFile(*a.ws, token.c_str())) {
    fitKindBoxes();
    showKindBox(0);
    showKindBox(1);
    refreshLists();
  }
  return true;
}

int runMessageLoop() {
  MSG msg;
  int quitCode = 0;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      quitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) break;
    App& a = app();
    // The keys act only while the main window can be used (no modal window over it).
    if (a.accelerators && a.mainWindow && IsWindowEnabled(a.mainWindow) &&
        (msg.hwnd == a.mainWindow || IsChild(a.mainWindow, msg.hwnd)) &&
        TranslateAcceleratorW(a.mainWindow, a.accelerators, &msg))
      continue;
    if (a.mainWindow && IsDialogMessageW(a.mainWindow, &msg)) continue;
    HWND progress = a.progressWindow.load();
    if (progress && IsDialogMessageW(progress, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return quitCode;
}

void shutdownProgram() {
  App& a = app();
  if (a.ws) {
    a.ws->task.cancelRequested.store(1, std::memory_order_relaxed);
    waitForWorker();
    if (a.workerThread) CloseHandle(a.workerThread);
    a.workerThread = nullptr;
    clearInputs(*a.ws, static_cast<int>(kSideKinds));
  }
  if (a.mainWindow && IsWindow(a.mainWindow)) DestroyWindow(a.mainWindow);
  unregisterMainWindowClass();
  deleteFonts();
  a.ws.reset();
  a.mainWindow = nullptr;
  CoUninitialize();
}

}  // namespace fw
