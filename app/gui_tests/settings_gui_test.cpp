// The settings in the registry across program runs, through the real Win32 registry.
#include <cstring>

#include "app/gui_tests/gui_fixture.h"

namespace fw {
namespace {

class SettingsGuiTest : public GuiTest {
 protected:
  static bool readValue(HKEY hive, const wchar_t* name, DWORD* type, std::vector<uint8_t>* data) {
    HKEY key;
    if (RegOpenKeyExW(hive, settingsKey(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
      return false;
    DWORD size = 0;
    bool ok = RegQueryValueExW(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
    data->assign(size, 0);
    if (ok && size) ok = RegQueryValueExW(key, name, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
  }
  static uint32_t dword(HKEY hive, const wchar_t* name) {
    DWORD type = 0;
    std::vector<uint8_t> data;
    EXPECT_TRUE(readValue(hive, name, &type, &data)) << "no value";
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    uint32_t v = 0;
    if (data.size() == 4) std::memcpy(&v, data.data(), 4);
    return v;
  }
  static std::u16string text(HKEY hive, const wchar_t* name) {
    DWORD type = 0;
    std::vector<uint8_t> data;
    EXPECT_TRUE(readValue(hive, name, &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_GE(data.size(), 2u);
    EXPECT_EQ(data[data.size() - 2] | data[data.size() - 1], 0) << "not terminated";
    return std::u16string(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2 - 1);
  }
  static void store(HKEY hive, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(hive, settingsKey(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
  // The ignore list as the Options dialog shows it.
  std::u16string ignoreShown(ProgramRun& run) {
    command(run.main(), IDM_OPTIONS);
    HWND options = waitForWindow(run, u"Options");
    EXPECT_NE(options, nullptr);
    if (!options) return u"?";
    std::u16string shown = itemText(options, IDC_OPT_IGNORE);
    command(options, IDCANCEL);
    EXPECT_TRUE(waitGone(options)) << "the Options dialog did not close";
    return shown;
  }
};

TEST_F(SettingsGuiTest, FirstStartUsesDefaultsAndExitWritesThemToBothHives) {
  RECT first;
  {
    ProgramRun run;
    EXPECT_EQ(ignoreShown(run), u"thumbs.db");
    GetWindowRect(run.main(), &first);
    EXPECT_EQ(first.right - first.left, 600);
    EXPECT_EQ(first.bottom - first.top, 450);
    command(run.main(), IDM_EXIT);
    run.exit();
  }
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    EXPECT_EQ(dword(hive, L"flagsSrc"), 0xD8u);
    EXPECT_EQ(dword(hive, L"flagsTrg"), 0x24u);
    EXPECT_EQ(dword(hive, L"flagsColorize"), 0xFCu);
    EXPECT_EQ(dword(hive, L"split"), 0u);
    EXPECT_EQ(dword(hive, L"splitSize"), 2000u);
    EXPECT_EQ(text(hive, L"ignore"), u"thumbs.db");
    DWORD type = 0;
    std::vector<uint8_t> placement;
    ASSERT_TRUE(readValue(hive, L"WindowPos", &type, &placement));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(placement.size(), 44u);
    EXPECT_EQ(placement[0], 44);
    ASSERT_TRUE(readValue(hive, L"WindowPosFileTree", &type, &placement));
    EXPECT_EQ(placement, std::vector<uint8_t>(44, 0));  // the File Tree never opened
  }
}

TEST_F(SettingsGuiTest, SecondStartGetsWindowPositionAndIgnoreListBack) {
  {
    ProgramRun run;
    SetWindowPos(run.main(), nullptr, 40, 30, 700, 520, SWP_NOZORDER);
    command(run.main(), IDM_OPTIONS);
    HWND options = waitForWindow(run, u"Options");
    ASSERT_NE(options, nullptr);
    SetDlgItemTextW(options, IDC_OPT_IGNORE, L"*.tmp;Thumbs.db");
    command(options, IDOK);
    ASSERT_TRUE(waitGone(options));
  }
  EXPECT_EQ(text(HKEY_CURRENT_USER, L"ignore"), u"*.tmp;Thumbs.db");
  ProgramRun again;
  RECT r;
  GetWindowRect(again.main(), &r);
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 30);
  EXPECT_EQ(r.right - r.left, 700);
  EXPECT_EQ(r.bottom - r.top, 520);
  EXPECT_EQ(ignoreShown(again), u"*.tmp;Thumbs.db");
}

TEST_F(SettingsGuiTest, StoredOddValuesAreReadSoundlyAndWrittenBackClean) {
  // Only under the machine's hive; splitSize 0; "ignore" without its terminator.
  const DWORD zero = 0;
  store(HKEY_LOCAL_MACHINE, L"splitSize", REG_DWORD, &zero, 4);
  const wchar_t patterns[] = L"*.bak;~*";
  store(HKEY_LOCAL_MACHINE, L"ignore", REG_SZ, patterns, 8 * sizeof(wchar_t));
  {
    ProgramRun run;
    EXPECT_EQ(ignoreShown(run), u"*.bak;~*");
  }
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    EXPECT_EQ(dword(hive, L"splitSize"), 1u);
    EXPECT_EQ(text(hive, L"ignore"), u"*.bak;~*");
  }
}

TEST_F(SettingsGuiTest, KeyWithoutIgnoreValueMeansNoIgnoreListAndSavesAnEmptyOne) {
  const DWORD mask = 0x08;
  store(HKEY_CURRENT_USER, L"flagsSrc", REG_DWORD, &mask, 4);
  {
    ProgramRun run;
    EXPECT_EQ(ignoreShown(run), u"");
  }
  EXPECT_EQ(dword(HKEY_CURRENT_USER, L"flagsSrc"), 0x08u);
  EXPECT_EQ(text(HKEY_CURRENT_USER, L"ignore"), u"");
}

}  // namespace
}  // namespace fw
