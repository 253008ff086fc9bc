#include "app/settings_registry.h"

#include <cstring>

#include "app/app_state.h"
#include "app/logic/settings_store.h"

namespace fw {
namespace {

const wchar_t* gKey = L"SOFTWARE\\Ferrywick";

static_assert(sizeof(WINDOWPLACEMENT) == kPlacementBytes, "the registry holds the record as it is");

class Win32Registry final : public RegistryAccess {
 public:
  ~Win32Registry() override { close(); }

  bool openForQuery(Hive hive) override {
    close();
    return RegOpenKeyExW(root(hive), gKey, 0, KEY_QUERY_VALUE, &key_) == ERROR_SUCCESS;
  }
  bool openForWrite(Hive hive) override {
    close();
    return RegCreateKeyExW(root(hive), gKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                           nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  void close() override {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }
  bool query(const char16_t* name, std::vector<uint8_t>* data) override {
    DWORD size = 0;
    const wchar_t* value = reinterpret_cast<const wchar_t*>(name);
    if (RegQueryValueExW(key_, value, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
      return false;
    data->assign(size, 0);
    if (size == 0) return true;
    if (RegQueryValueExW(key_, value, nullptr, nullptr, data->data(), &size) != ERROR_SUCCESS) {
      data->clear();  // it exists, but cannot be read: an empty text
      return true;
    }
    data->resize(size);
    return true;
  }
  void writeBinary(const char16_t* name, const uint8_t* data, size_t size) override {
    RegSetValueExW(key_, reinterpret_cast<const wchar_t*>(name), 0, REG_BINARY, data,
                   static_cast<DWORD>(size));
  }
  void writeDword(const char16_t* name, uint32_t value) override {
    RegSetValueExW(key_, reinterpret_cast<const wchar_t*>(name), 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  void writeString(const char16_t* name, const std::u16string& text) override {
    RegSetValueExW(key_, reinterpret_cast<const wchar_t*>(name), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
  }

 private:
  static HKEY root(Hive hive) {
    return hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  }
  HKEY key_ = nullptr;
};

}  // namespace

void loadSettings() {
  Workspace& ws = workspace();
  Win32Registry registry;
  loadSettingsFrom(registry, ws.settings(), ws.shell);
}

void saveSettings(HWND mainWindow) {
  Workspace& ws = workspace();
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(mainWindow, &placement);
  std::memcpy(ws.shell.mainPlacement.data(), &placement, kPlacementBytes);
  Win32Registry registry;
  saveSettingsTo(registry, ws.settings(), ws.shell);
}

const wchar_t* settingsKey() { return gKey; }
void useSettingsKey(const wchar_t* key) { gKey = key; }

}  // namespace fw
