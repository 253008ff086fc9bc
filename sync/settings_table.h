// The settings of SyncSettings as the outside world knows them: for each, its value under the
// Windows program's registry key, its option of ferrywick-cli, its field, its default, its
// range and its line in the tool's usage text. The registry store (app/logic/settings_store.h),
// the command line (cli/cli_options.h) and the clamps of the task runner all read this one
// table, so that a setting's names and numbers exist once; a new setting is a field in
// SyncSettings and an entry here.
#ifndef FERRYWICK_SYNC_SETTINGS_TABLE_H
#define FERRYWICK_SYNC_SETTINGS_TABLE_H

#include <cstdint>
#include <span>
#include <string>

#include "sync/task.h"

namespace fw {

enum class SettingKind : uint8_t {
  // Category bits (core/comparison.h): hexadecimal with 0x or decimal on the command line,
  // shown in hexadecimal.
  Mask,
  // A whole number, decimal.
  Count,
  // The volume size of a saved difference in MiB: a Count that the writer takes as a signed
  // 32-bit number, so that a stored value is compared as one (a negative one is the least).
  // The command line refuses one out of range in the Save diff dialog's words.
  VolumeSize,
  // UTF-16 text; the command line's UTF-8 is converted.
  Text,
};

// Where the tool's usage text lists the option.
enum class SettingGroup : uint8_t { Options, SafetyNet };

struct SettingEntry {
  const char16_t* registryName = nullptr;  // the value under the key; exactly as ever stored
  const char* option = nullptr;            // the command-line option; nullptr: none
  const char* optionValue = nullptr;       // what the usage text calls its value ("MASK")
  SettingKind kind = SettingKind::Count;
  SettingGroup group = SettingGroup::Options;
  uint32_t SyncSettings::*number = nullptr;       // the field of every kind but Text
  std::u16string SyncSettings::*text = nullptr;   // the field of a Text
  uint32_t defaultNumber = 0;
  const char16_t* defaultText = u"";
  // The range of a number. The command line refuses a value outside it; a registry value
  // outside it is brought into it when clampStored, else taken whole (the masks and the split
  // switch always were).
  uint32_t least = 0;
  uint32_t most = UINT32_MAX;
  bool clampStored = true;
  // Given on the command line, the option also sets this field to 1 (--split turns splitting on).
  uint32_t SyncSettings::*turnsOn = nullptr;
  // The option's line in the usage text, '\n' between its lines; "{default}", "{least}" and
  // "{most}" stand for those values as the command line writes them (settingValueText).
  const char* help = nullptr;
};

// Every setting, in the order of the usage text within each group.
std::span<const SettingEntry> settingTable();

// The entry of a field of SyncSettings, or nullptr when the table has none for it.
const SettingEntry* settingOf(uint32_t SyncSettings::*field);
const SettingEntry* settingOf(std::u16string SyncSettings::*field);
// The entry whose option is that word, or nullptr.
const SettingEntry* settingForOption(const std::string& option);

// Every field of the table at its default.
void setSettingDefaults(SyncSettings& settings);

// A number of the entry as read from the registry: in least..most when clampStored (as a
// signed number for a VolumeSize), else as stored.
uint32_t clampStoredSetting(const SettingEntry& entry, uint32_t stored);

// A number of the entry as the command line and its usage text write it: a Mask as 0xD8 (0 as
// 0), anything else in decimal.
std::string settingValueText(const SettingEntry& entry, uint32_t value);

// The Save diff dialog's words for a volume size below or above the range, which the command
// line uses for the first too: "The split limit is too small, must be at least 1 MB!".
std::string volumeSizeTooSmallText();
std::string volumeSizeTooLargeText();

}  // namespace fw

#endif  // FERRYWICK_SYNC_SETTINGS_TABLE_H
