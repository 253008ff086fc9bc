// fw-gui-drive: starts Ferrywick.exe and moves it from a script, one step per call, by window
// captions and command ids, for the screenshots. Exit code 0 on success, 1 on a timeout.
// Everything happens on the desktop "Ferrywick", which Wine shows as a virtual desktop of
// the size given to start (Wine draws the window frames; no window manager is needed).
//   fw-gui-drive start WIDTHxHEIGHT EXE [ARGS...]  starts EXE on that desktop
//   fw-gui-drive wait CAPTION [SECONDS]      a visible top-level window with that caption
//   fw-gui-drive gone CAPTION [SECONDS]      until there is none
//   fw-gui-drive command CAPTION ID          posts WM_COMMAND ID to it
//   fw-gui-drive text CAPTION ID             prints the text of its control ID
//   fw-gui-drive settext CAPTION ID TEXT     puts TEXT into its control ID, as typing does
//   fw-gui-drive rect CAPTION                prints its rectangle as WIDTHxHEIGHT+LEFT+TOP
//   fw-gui-drive menu CAPTION LETTER         opens its menu bar's menu of that access key, as
//                                            Alt and the letter do
//   fw-gui-drive endmenu CAPTION             closes an open menu of it (WM_CANCELMODE)
//   fw-gui-drive tree CAPTION ID PATH        in its tree view ID, follows PATH ("0/2/1": the
//                                            first top item, its third child, that one's second),
//                                            expanding each step, and selects the last item
//   fw-gui-drive key CAPTION ID VK           posts the key VK (a number) down and up to its
//                                            control ID
// The caption "main" stands for the main window (class Ferrywick_MainWnd).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK match(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);
  if (search->caption == text) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND find(const std::wstring& caption) {
  if (caption == L"main") return FindWindowW(L"Ferrywick_MainWnd", nullptr);
  Search search{caption};
  EnumWindows(match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool waitFor(const std::wstring& caption, double seconds, bool present) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
  while ((find(caption) != nullptr) != present) {
    if (GetTickCount() > end) return false;
    Sleep(50);
  }
  return true;
}

constexpr wchar_t kDesktop[] = L"Ferrywick";

int start(int argc, wchar_t** argv) {
  const std::wstring size = argv[2];
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", kDesktop, REG_SZ,
                  size.c_str(), static_cast<DWORD>((size.size() + 1) * sizeof(wchar_t)));
  std::wstring line;
  for (int i = 3; i < argc; ++i) {
    if (i > 3) line += L' ';
    line += L'"';
    line += argv[i];
    line += L'"';
  }
  std::wstring desktop = kDesktop;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop.data();
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

HTREEITEM treeItem(HWND tree, HTREEITEM item, UINT how) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

int selectInTree(HWND tree, const std::wstring& path) {
  HTREEITEM item = nullptr;
  size_t at = 0;
  while (at <= path.size()) {
    const size_t slash = std::min(path.find(L'/', at), path.size());
    long index = std::wcstol(path.substr(at, slash - at).c_str(), nullptr, 10);
    if (item) SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    item = item ? treeItem(tree, item, TVGN_CHILD) : treeItem(tree, nullptr, TVGN_ROOT);
    while (item && index-- > 0) item = treeItem(tree, item, TVGN_NEXT);
    if (!item) return 1;
    at = slash + 1;
  }
  SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 4 && std::wstring(argv[1]) == L"start") return start(argc, argv);
  if (HDESK desktop = OpenDesktopW(kDesktop, 0, FALSE, GENERIC_ALL)) SetThreadDesktop(desktop);
  if (argc < 3) {
    std::fprintf(stderr, "usage: fw-gui-drive wait|gone|command|text|rect|menu|endmenu|tree|key CAPTION [ARG]\n");
    return 2;
  }
  const std::wstring verb = argv[1], caption = argv[2];
  const double seconds = argc > 3 ? std::wcstod(argv[3], nullptr) : 10.0;
  if (verb == L"wait") return waitFor(caption, seconds, true) ? 0 : 1;
  if (verb == L"gone") return waitFor(caption, seconds, false) ? 0 : 1;
  HWND window = find(caption);
  if (window && verb == L"rect") {
    RECT r;
    GetWindowRect(window, &r);
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    return 0;
  }
  if (window && verb == L"endmenu") return PostMessageW(window, WM_CANCELMODE, 0, 0) ? 0 : 1;
  if (!window || argc < 4) return 1;
  if (verb == L"menu")
    return PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(argv[3][0])) ? 0 : 1;
  const int id = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
  if (verb == L"command") return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
  if (verb == L"tree" && argc > 4) return selectInTree(GetDlgItem(window, id), argv[4]);
  if (verb == L"key" && argc > 4) {
    HWND control = GetDlgItem(window, id);
    const auto key = static_cast<WPARAM>(std::wcstol(argv[4], nullptr, 10));
    return PostMessageW(control, WM_KEYDOWN, key, 0) && PostMessageW(control, WM_KEYUP, key, 0)
               ? 0
               : 1;
  }
  if (verb == L"settext" && argc > 4) return SetDlgItemTextW(window, id, argv[4]) ? 0 : 1;
  if (verb == L"text") {
    wchar_t text[1024] = L"";
    GetDlgItemTextW(window, id, text, 1024);
    std::fwprintf(stdout, L"%ls\n", text);
    return 0;
  }
  return 2;
}
