#include "app/logic/settings_store.h"

#include <cstring>

#include "core/ignore_list.h"

namespace fw {
namespace {

// Copies a value over a fixed-size field the way a registry query into that field does: a
// missing value, or one larger than the field, leaves the field as it was; a smaller one
// overwrites its first bytes only.
void readInto(RegistryAccess& registry, const char16_t* name, void* field, size_t size) {
  std::vector<uint8_t> data;
  if (!registry.query(name, &data) || data.size() > size) return;
  std::memcpy(field, data.data(), data.size());
}

}  // namespace

void setDefaultSettings(SyncSettings& settings, ShellSettings& shell) {
  settings.flagsSrc = kDefaultFlagsSrc;
  settings.flagsTrg = kDefaultFlagsTrg;
  settings.flagsColorize = kDefaultFlagsColorize;
  settings.split = 0;
  settings.splitSize = kDefaultSplitSize;
  settings.ignore = kDefaultIgnoreList;
  settings.massDeletePercent = kDefaultMassDeletePercent;
  settings.massDeleteFiles = kDefaultMassDeleteFiles;
  settings.timeShiftHours = 0;
  settings.backupDir.clear();
  settings.recycleBin = 0;
  shell.hasIgnore = true;
  shell.ignoreCapacity = kDefaultIgnoreCapacity;
  shell.mainPlacement.fill(0);
  shell.fileTreePlacement.fill(0);
}

uint32_t clampSplitSize(uint32_t stored) {
  if (static_cast<int32_t>(stored) < 1) return 1;
  return stored > kMaxSplitSize ? kMaxSplitSize : stored;
}

StoredText decodeStoredText(const std::vector<uint8_t>& data) {
  StoredText out;
  const size_t units = data.size() / 2;
  out.text.reserve(units);
  bool terminated = false;
  for (size_t i = 0; i < units; ++i) {
    char16_t unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (unit == 0) {
      terminated = true;
      break;
    }
    out.text.push_back(unit);
  }
  out.capacity = static_cast<uint32_t>(terminated ? units : units + 1);
  return out;
}

void loadSettingsFrom(RegistryAccess& registry, SyncSettings& settings, ShellSettings& shell) {
  setDefaultSettings(settings, shell);
  if (!registry.openForQuery(Hive::CurrentUser) && !registry.openForQuery(Hive::LocalMachine))
    return;

  readInto(registry, u"WindowPos", shell.mainPlacement.data(), kPlacementBytes);
  readInto(registry, u"WindowPosFileTree", shell.fileTreePlacement.data(), kPlacementBytes);
  readInto(registry, u"flagsSrc", &settings.flagsSrc, 4);
  readInto(registry, u"flagsTrg", &settings.flagsTrg, 4);
  readInto(registry, u"flagsColorize", &settings.flagsColorize, 4);
  readInto(registry, u"split", &settings.split, 4);
  readInto(registry, u"splitSize", &settings.splitSize, 4);
  settings.splitSize = clampSplitSize(settings.splitSize);
  readInto(registry, u"massDeletePercent", &settings.massDeletePercent, 4);
  readInto(registry, u"massDeleteFiles", &settings.massDeleteFiles, 4);
  readInto(registry, u"ignoreTimeShift", &settings.timeShiftHours, 4);
  readInto(registry, u"recycleBin", &settings.recycleBin, 4);
  if (settings.massDeletePercent > 100) settings.massDeletePercent = 100;
  if (settings.timeShiftHours > 24) settings.timeShiftHours = 24;
  settings.recycleBin = settings.recycleBin ? 1 : 0;
  std::vector<uint8_t> backup;
  if (registry.query(u"backupDir", &backup)) settings.backupDir = decodeStoredText(backup).text;

  // With the key present, a missing (or empty) "ignore" means no ignore list at all.
  settings.ignore.clear();
  shell.hasIgnore = false;
  shell.ignoreCapacity = 0;
  std::vector<uint8_t> data;
  if (registry.query(u"ignore", &data) && data.size() >= 2) {
    StoredText stored = decodeStoredText(data);
    settings.ignore = std::move(stored.text);
    shell.hasIgnore = true;
    shell.ignoreCapacity = stored.capacity;
  }
  registry.close();
}

void saveSettingsTo(RegistryAccess& registry, const SyncSettings& settings,
                    const ShellSettings& shell) {
  for (Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
    if (!registry.openForWrite(hive)) continue;
    registry.writeBinary(u"WindowPos", shell.mainPlacement.data(), kPlacementBytes);
    registry.writeBinary(u"WindowPosFileTree", shell.fileTreePlacement.data(), kPlacementBytes);
    registry.writeDword(u"flagsSrc", settings.flagsSrc);
    registry.writeDword(u"flagsTrg", settings.flagsTrg);
    registry.writeDword(u"flagsColorize", settings.flagsColorize);
    registry.writeDword(u"split", settings.split);
    registry.writeDword(u"splitSize", settings.splitSize);
    registry.writeString(u"ignore", shell.hasIgnore ? settings.ignore : std::u16string());
    registry.writeDword(u"massDeletePercent", settings.massDeletePercent);
    registry.writeDword(u"massDeleteFiles", settings.massDeleteFiles);
    registry.writeDword(u"ignoreTimeShift", settings.timeShiftHours);
    registry.writeDword(u"recycleBin", settings.recycleBin);
    registry.writeString(u"backupDir", settings.backupDir);
    registry.close();
  }
}

}  // namespace fw
