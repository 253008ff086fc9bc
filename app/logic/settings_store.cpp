#include "app/logic/settings_store.h"

#include <cstring>

#include "sync/settings_table.h"

namespace fw {
namespace {

// The window placements, which only the shell keeps.
struct PlacementValue {
  const char16_t* name;
  PlacementBytes ShellSettings::*field;
};
constexpr PlacementValue kPlacements[] = {
    {u"WindowPos", &ShellSettings::mainPlacement},
    {u"WindowPosFileTree", &ShellSettings::fileTreePlacement},
};

// The switches only the shell keeps, REG_DWORD 0 or 1 (any other number reads as 1).
struct SwitchValue {
  const char16_t* name;
  uint32_t ShellSettings::*field;
};
constexpr SwitchValue kSwitches[] = {
    {u"askBeforeSync", &ShellSettings::askBeforeSync},
};

// The recently used projects: "Recent1" (the most recent) to "Recent8", REG_SZ, an empty text
// where the list is shorter.
constexpr size_t kRecentValues = 8;
std::u16string recentValueName(size_t index) {
  return u"Recent" + std::u16string(1, static_cast<char16_t>(u'1' + index));
}

// Copies a value over a fixed-size field the way a registry query into that field does: a
// missing value, or one larger than the field, leaves the field as it was; a smaller one
// overwrites its first bytes only.
void readInto(RegistryAccess& registry, const char16_t* name, void* field, size_t size) {
  std::vector<uint8_t> data;
  if (!registry.query(name, &data) || data.size() > size) return;
  std::memcpy(field, data.data(), data.size());
}

// The ignore list is a text of the table that the shell also keeps a capacity and a presence
// for (ShellSettings); it is read and written beside the others.
bool isIgnoreList(const SettingEntry& e) { return e.text == &SyncSettings::ignore; }

}  // namespace

void setDefaultSettings(SyncSettings& settings, ShellSettings& shell) {
  setSettingDefaults(settings);
  shell.hasIgnore = true;
  shell.ignoreCapacity = kDefaultIgnoreCapacity;
  shell.mainPlacement.fill(0);
  shell.fileTreePlacement.fill(0);
  shell.askBeforeSync = 1;
  shell.recentProjects.clear();
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

  for (const PlacementValue& p : kPlacements)
    readInto(registry, p.name, (shell.*p.field).data(), kPlacementBytes);
  for (const SwitchValue& v : kSwitches) {
    uint32_t& field = shell.*v.field;
    readInto(registry, v.name, &field, sizeof field);
    field = field != 0 ? 1 : 0;
  }
  for (const SettingEntry& e : settingTable()) {
    if (e.text) {
      std::vector<uint8_t> data;
      if (!isIgnoreList(e) && registry.query(e.registryName, &data))
        settings.*e.text = decodeStoredText(data).text;
      continue;
    }
    uint32_t& field = settings.*e.number;
    readInto(registry, e.registryName, &field, sizeof field);
    field = clampStoredSetting(e, field);
  }

  for (size_t i = 0; i < kRecentValues; ++i) {
    std::vector<uint8_t> data;
    if (!registry.query(recentValueName(i).c_str(), &data)) continue;
    std::u16string path = decodeStoredText(data).text;
    if (!path.empty()) shell.recentProjects.push_back(std::move(path));
  }

  // With the key present, a missing (or empty) "ignore" means no ignore list at all.
  settings.ignore.clear();
  shell.hasIgnore = false;
  shell.ignoreCapacity = 0;
  std::vector<uint8_t> data;
  if (registry.query(settingOf(&SyncSettings::ignore)->registryName, &data) &&
      data.size() >= 2) {
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
    for (const PlacementValue& p : kPlacements)
      registry.writeBinary(p.name, (shell.*p.field).data(), kPlacementBytes);
    for (const SwitchValue& v : kSwitches) registry.writeDword(v.name, shell.*v.field);
    for (const SettingEntry& e : settingTable()) {
      if (!e.text)
        registry.writeDword(e.registryName, settings.*e.number);
      else if (isIgnoreList(e) && !shell.hasIgnore)
        registry.writeString(e.registryName, std::u16string());
      else
        registry.writeString(e.registryName, settings.*e.text);
    }
    for (size_t i = 0; i < kRecentValues; ++i)
      registry.writeString(recentValueName(i).c_str(), i < shell.recentProjects.size()
                                                           ? shell.recentProjects[i]
                                                           : std::u16string());
    registry.close();
  }
}

}  // namespace fw
