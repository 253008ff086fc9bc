// Loading and saving the settings: the algorithm over an abstract registry, so that the rules
// (which hive is read, which values are missing, a number out of its range, an "ignore" value
// that is absent, empty or stored without its terminator) are tested without Windows. The Win32
// registry behind it is app/settings_registry.cpp.
#ifndef FERRYWICK_APP_LOGIC_SETTINGS_STORE_H
#define FERRYWICK_APP_LOGIC_SETTINGS_STORE_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/logic/workspace.h"
#include "sync/task.h"

namespace fw {

enum class Hive : int { CurrentUser = 0, LocalMachine = 1 };

// The key "SOFTWARE\Ferrywick" of one hive at a time.
class RegistryAccess {
 public:
  virtual ~RegistryAccess() = default;
  // Opens the key for reading its values; false when it does not exist or cannot be opened.
  virtual bool openForQuery(Hive hive) = 0;
  // Creates or opens the key for writing; false when that fails.
  virtual bool openForWrite(Hive hive) = 0;
  // Closes what the last successful open opened.
  virtual void close() = 0;
  // The stored bytes of a value, whatever its type; false when it does not exist.
  virtual bool query(const char16_t* name, std::vector<uint8_t>* data) = 0;
  virtual void writeBinary(const char16_t* name, const uint8_t* data, size_t size) = 0;
  virtual void writeDword(const char16_t* name, uint32_t value) = 0;
  // A REG_SZ of the text and its terminator.
  virtual void writeString(const char16_t* name, const std::u16string& text) = 0;
};

// The defaults of a first start: every setting of the table in sync/settings_table.h at its
// default, the ignore list in a buffer of kDefaultIgnoreCapacity units, no placements.
void setDefaultSettings(SyncSettings& settings, ShellSettings& shell);

// The values are those of the setting table, under its registry names: a number as REG_DWORD,
// read back into its range (clampStoredSetting), a text as REG_SZ. Missing values keep their
// defaults: the program then behaves as it did before they existed. Beside them the two window
// placements, as REG_BINARY.

// The text of a REG_SZ's bytes: whole UTF-16 units up to the first terminator, and terminated
// even when the stored value lacks one. The capacity is the value's size in units, or one more
// unit when the terminator was missing.
struct StoredText {
  std::u16string text;
  uint32_t capacity = 0;
};
StoredText decodeStoredText(const std::vector<uint8_t>& data);

// Defaults, then the first hive whose key opens (the current user's, else the machine's).
void loadSettingsFrom(RegistryAccess& registry, SyncSettings& settings, ShellSettings& shell);

// Writes every value into both hives, skipping one whose key cannot be created. The caller has
// put the main window's current placement into shell.mainPlacement.
void saveSettingsTo(RegistryAccess& registry, const SyncSettings& settings,
                    const ShellSettings& shell);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_SETTINGS_STORE_H
