// The GUI tests' entry. Under Wine, the windows go into a virtual desktop of their own: without
// a window manager on the X server, Wine waits for one on every window that is hidden or
// destroyed (two seconds each time), and the tests would spend most of their time waiting.
// On Windows the setting is not read, and the tests run on the user's desktop.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

// True when the setting was there already; a process sees it only from its start on.
bool useVirtualDesktop() {
  wchar_t current[32] = L"";
  DWORD currentSize = sizeof current;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer", L"Desktop", RRF_RT_REG_SZ,
                   nullptr, current, &currentSize) == ERROR_SUCCESS)
    return true;
  const wchar_t name[] = L"Default";
  const wchar_t size[] = L"1024x768";
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer", L"Desktop", REG_SZ, name,
                  sizeof name);
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", L"Default", REG_SZ,
                  size, sizeof size);
  return false;
}

// Runs this program again with the same command line and returns its exit code.
int runAgain() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, GetCommandLineW(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return 1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
  if (!useVirtualDesktop() && GetEnvironmentVariableW(L"WINELOADER", nullptr, 0) != 0)
    return runAgain();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
