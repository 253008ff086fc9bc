// The GUI tests' entry. Under Wine the tests run on a desktop of their own, which Wine shows as
// a virtual desktop: without a window manager on the X server, Wine waits for one on every
// window that is hidden or destroyed (two seconds each time), and the tests would spend most of
// their time waiting. So the process starts itself again on that desktop and passes on the
// exit code. On Windows the tests run where they are started.
// A shard of the tests (GTEST_SHARD_INDEX, run beside the other shards through one Wine server)
// takes a desktop and a settings key of its own, so that the shards neither share the windows
// of one X server nor read each other's settings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/settings_registry.h"

namespace {

// "" outside a shard, else the shard's number.
std::wstring shard() {
  wchar_t index[16] = L"";
  if (GetEnvironmentVariableW(L"GTEST_SHARD_INDEX", index, 16) >= 16) return L"";
  return index;
}
const std::wstring kDesktop = L"FerrywickTests" + shard();
const std::wstring kSettingsKey =
    shard().empty() ? std::wstring(L"SOFTWARE\\Ferrywick") : L"SOFTWARE\\FerrywickTests" + shard();

bool underWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"); }

std::wstring currentDesktop() {
  wchar_t name[128] = L"";
  DWORD needed = 0;
  GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, name, sizeof name,
                            &needed);
  return name;
}

int runOnOwnDesktop() {
  const wchar_t size[] = L"1024x768";
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", kDesktop.c_str(), REG_SZ,
                  size, sizeof size);
  std::wstring desktop = kDesktop;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop.data();
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, GetCommandLineW(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
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
  if (underWine() && currentDesktop() != kDesktop) return runOnOwnDesktop();
  fw::useSettingsKey(kSettingsKey.c_str());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
