#include "sync/settings_table.h"

#include <cstdio>

namespace fw {
namespace {

// The largest mask the command line takes: a byte, of which the categories use kCategoryBits.
constexpr uint32_t kMostMask = 0xFF;

// The registry names are those the Windows program has always written; the order within each
// group is the usage text's.
constexpr SettingEntry kSettings[] = {
    {.registryName = u"flagsSrc",
     .option = "--flags-src",
     .optionValue = "MASK",
     .kind = SettingKind::Mask,
     .number = &SyncSettings::flagsSrc,
     .defaultNumber = kDefaultFlagsSrc,
     .most = kMostMask,
     .clampStored = false,
     .help = "categories the source wins (default {default})"},
    {.registryName = u"flagsTrg",
     .option = "--flags-trg",
     .optionValue = "MASK",
     .kind = SettingKind::Mask,
     .number = &SyncSettings::flagsTrg,
     .defaultNumber = kDefaultFlagsTrg,
     .most = kMostMask,
     .clampStored = false,
     .help = "categories the target wins (default {default})\n"
             "0x08 only in source, 0x04 only in target, 0x10 newer in source,\n"
             "0x20 newer in target, 0xC0 other difference"},
    {.registryName = u"flagsColorize",
     .kind = SettingKind::Mask,
     .number = &SyncSettings::flagsColorize,
     .defaultNumber = kDefaultFlagsColorize,
     .most = kMostMask,
     .clampStored = false},
    {.registryName = u"ignore",
     .option = "--ignore",
     .optionValue = "LIST",
     .kind = SettingKind::Text,
     .text = &SyncSettings::ignore,
     .defaultText = kDefaultIgnoreList,
     .help = "names to leave out, ';'-separated, '*' wildcard (default {default})"},
    // Taken whole as ever: the Save diff dialog shows only 1 as on, a task splits for anything
    // but 0.
    {.registryName = u"split",
     .number = &SyncSettings::split,
     .most = 1,
     .clampStored = false},
    {.registryName = u"splitSize",
     .option = "--split",
     .optionValue = "MIB",
     .kind = SettingKind::VolumeSize,
     .number = &SyncSettings::splitSize,
     .defaultNumber = kDefaultSplitSize,
     .least = 1,
     .most = kMaxSplitSize,
     .turnsOn = &SyncSettings::split,
     .help = "save-diff: volumes of MIB MiB"},
    {.registryName = u"ignoreTimeShift",
     .option = "--ignore-time-shift",
     .optionValue = "H",
     .number = &SyncSettings::timeShiftHours,
     .most = kMaxTimeShiftHours,
     .help = "files of equal size whose times differ by 1 to H whole hours\n"
             "({least} to {most}; FAT drives, daylight saving) count as unchanged"},
    {.registryName = u"backupDir",
     .option = "--backup-dir",
     .optionValue = "DIR",
     .kind = SettingKind::Text,
     .group = SettingGroup::SafetyNet,
     .text = &SyncSettings::backupDir,
     .help = "move every file the sync deletes or replaces into DIR, under its\n"
             "path below its root, as 'name YYYY-MM-DD HHMMSS.ext'"},
    {.registryName = u"massDeletePercent",
     .option = "--mass-delete-percent",
     .optionValue = "N",
     .group = SettingGroup::SafetyNet,
     .number = &SyncSettings::massDeletePercent,
     .defaultNumber = kDefaultMassDeletePercent,
     .most = kMostMassDeletePercent,
     .help = "a side of a row losing more than N% of its files needs\n"
             "--allow-mass-delete (default {default})"},
    {.registryName = u"massDeleteFiles",
     .option = "--mass-delete-files",
     .optionValue = "N",
     .group = SettingGroup::SafetyNet,
     .number = &SyncSettings::massDeleteFiles,
     .defaultNumber = kDefaultMassDeleteFiles,
     .help = "so do more than N deleted files in all (default {default})"},
    {.registryName = u"massDeleteShareFiles",
     .option = "--mass-delete-share-files",
     .optionValue = "N",
     .group = SettingGroup::SafetyNet,
     .number = &SyncSettings::massDeleteShareFiles,
     .defaultNumber = kDefaultMassDeleteShareFiles,
     .help = "the share counts only where at least N files would go on that\n"
             "side of the row (default {default})"},
    {.registryName = u"recycleBin",
     .group = SettingGroup::SafetyNet,
     .number = &SyncSettings::recycleBin,
     .most = 1},
};

}  // namespace

std::span<const SettingEntry> settingTable() { return kSettings; }

const SettingEntry* settingOf(uint32_t SyncSettings::*field) {
  for (const SettingEntry& e : kSettings)
    if (e.number == field) return &e;
  return nullptr;
}

const SettingEntry* settingOf(std::u16string SyncSettings::*field) {
  for (const SettingEntry& e : kSettings)
    if (e.text == field) return &e;
  return nullptr;
}

const SettingEntry* settingForOption(const std::string& option) {
  for (const SettingEntry& e : kSettings)
    if (e.option && option == e.option) return &e;
  return nullptr;
}

void setSettingDefaults(SyncSettings& settings) {
  for (const SettingEntry& e : kSettings) {
    if (e.text)
      settings.*e.text = e.defaultText;
    else
      settings.*e.number = e.defaultNumber;
  }
}

uint32_t clampStoredSetting(const SettingEntry& e, uint32_t stored) {
  if (!e.clampStored) return stored;
  if (e.kind == SettingKind::VolumeSize) {
    const int32_t v = static_cast<int32_t>(stored);
    if (v < static_cast<int32_t>(e.least)) return e.least;
    return v > static_cast<int32_t>(e.most) ? e.most : stored;
  }
  if (stored < e.least) return e.least;
  return stored > e.most ? e.most : stored;
}

std::string settingValueText(const SettingEntry& e, uint32_t value) {
  if (e.kind != SettingKind::Mask || value == 0) return std::to_string(value);
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
  return text;
}

std::string volumeSizeTooSmallText() {
  return "The split limit is too small, must be at least " +
         std::to_string(settingOf(&SyncSettings::splitSize)->least) + " MB!";
}

std::string volumeSizeTooLargeText() {
  return "The split limit is too big, must be at most " +
         std::to_string(settingOf(&SyncSettings::splitSize)->most) + " MB!";
}

}  // namespace fw
