#include "app/logic/settings_store.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/text.h"
#include "sync/settings_table.h"

namespace fw {
namespace {

// Two hives of values in memory; a hive is present once it has a key.
class FakeRegistry : public RegistryAccess {
 public:
  using Values = std::map<std::u16string, std::vector<uint8_t>>;
  std::map<Hive, Values> keys;
  std::map<Hive, bool> writable{{Hive::CurrentUser, true}, {Hive::LocalMachine, true}};

  bool openForQuery(Hive hive) override {
    if (!keys.count(hive)) return false;
    open_ = &keys[hive];
    return true;
  }
  bool openForWrite(Hive hive) override {
    if (!writable[hive]) return false;
    open_ = &keys[hive];
    return true;
  }
  void close() override { open_ = nullptr; }
  bool query(const char16_t* name, std::vector<uint8_t>* data) override {
    auto it = open_->find(name);
    if (it == open_->end()) return false;
    *data = it->second;
    return true;
  }
  void writeBinary(const char16_t* name, const uint8_t* data, size_t size) override {
    (*open_)[name].assign(data, data + size);
  }
  void writeDword(const char16_t* name, uint32_t v) override {
    (*open_)[name] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  }
  void writeString(const char16_t* name, const std::u16string& text) override {
    (*open_)[name] = textBytes(text, true);
  }

  static std::vector<uint8_t> textBytes(const std::u16string& text, bool terminated) {
    std::vector<uint8_t> out;
    for (char16_t c : text) out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8)});
    if (terminated) out.insert(out.end(), {0, 0});
    return out;
  }
  static std::vector<uint8_t> dword(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  }

 private:
  Values* open_ = nullptr;
};

class SettingsStoreTest : public ::testing::Test {
 protected:
  FakeRegistry registry;
  SyncSettings settings;
  ShellSettings shell;
};

TEST_F(SettingsStoreTest, FirstStartWithoutKeyKeepsDefaults) {
  settings.flagsSrc = 1;
  settings.ignore = u"x";
  shell.mainPlacement[0] = 44;
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.flagsSrc, 0xD8u);
  EXPECT_EQ(settings.flagsTrg, 0x24u);
  EXPECT_EQ(settings.flagsColorize, 0xFCu);
  EXPECT_EQ(settings.split, 0u);
  EXPECT_EQ(settings.splitSize, 2000u);
  EXPECT_EQ(settings.ignore, u"thumbs.db");
  EXPECT_TRUE(shell.hasIgnore);
  EXPECT_EQ(shell.ignoreCapacity, 32u);
  EXPECT_FALSE(hasPlacement(shell.mainPlacement));
}

TEST_F(SettingsStoreTest, MachineKeyIsUsedOnlyWithoutUserKeyAndSaveWritesBoth) {
  registry.keys[Hive::LocalMachine][u"flagsSrc"] = FakeRegistry::dword(0x08);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.flagsSrc, 0x08u);
  // The machine's key has no "ignore": there is no ignore list, not the default one.
  EXPECT_FALSE(shell.hasIgnore);
  EXPECT_TRUE(settings.ignore.empty());

  saveSettingsTo(registry, settings, shell);
  for (Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
    auto& values = registry.keys[hive];
    EXPECT_EQ(values[u"flagsSrc"], FakeRegistry::dword(0x08));
    EXPECT_EQ(values[u"splitSize"], FakeRegistry::dword(2000));
    EXPECT_EQ(values[u"ignore"], (std::vector<uint8_t>{0, 0}));  // the terminator alone
    EXPECT_EQ(values[u"WindowPos"].size(), 44u);
  }

  // Now the user's key exists and wins.
  registry.keys[Hive::LocalMachine][u"flagsSrc"] = FakeRegistry::dword(0x10);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.flagsSrc, 0x08u);
  EXPECT_TRUE(shell.hasIgnore);  // an empty "ignore" is an empty list...
  EXPECT_TRUE(settings.ignore.empty());
}

TEST_F(SettingsStoreTest, SaveSkipsAHiveThatCannotBeWritten) {
  registry.writable[Hive::LocalMachine] = false;
  saveSettingsTo(registry, settings, shell);
  EXPECT_TRUE(registry.keys.count(Hive::CurrentUser));
  EXPECT_FALSE(registry.keys.count(Hive::LocalMachine));
  EXPECT_EQ(registry.keys[Hive::CurrentUser][u"ignore"],
            FakeRegistry::textBytes(u"thumbs.db", true));
}

TEST_F(SettingsStoreTest, SplitSizeLoadsInsideTheRangeTheDialogAccepts) {
  auto& key = registry.keys[Hive::CurrentUser];
  key[u"splitSize"] = FakeRegistry::dword(0);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.splitSize, 1u);
  key[u"splitSize"] = FakeRegistry::dword(0xFFFFFFF0u);  // negative as stored
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.splitSize, 1u);
  key[u"splitSize"] = FakeRegistry::dword(0x7FFFFFFFu);  // the writer's "no splitting"
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.splitSize, kMaxSplitSize);
  key[u"splitSize"] = FakeRegistry::dword(7);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.splitSize, 7u);
}

TEST_F(SettingsStoreTest, IgnoreValueLoadsUnchangedAndIsAlwaysTerminated) {
  auto& key = registry.keys[Hive::CurrentUser];
  key[u"ignore"] = FakeRegistry::textBytes(u"*.tmp;Thumbs.db", true);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.ignore, u"*.tmp;Thumbs.db");
  EXPECT_EQ(shell.ignoreCapacity, 16u);

  // Stored without its terminator: the same text, with room for one.
  key[u"ignore"] = FakeRegistry::textBytes(u"*.bak", false);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.ignore, u"*.bak");
  EXPECT_EQ(shell.ignoreCapacity, 6u);

  // An odd byte count is cut to whole units.
  std::vector<uint8_t> odd = FakeRegistry::textBytes(u"ab", false);
  odd.push_back('c');
  EXPECT_EQ(decodeStoredText(odd).text, u"ab");
}

TEST_F(SettingsStoreTest, ValuesOfWrongSizeAreReadAsARegistryQueryWould) {
  auto& key = registry.keys[Hive::CurrentUser];
  key[u"flagsTrg"] = {1, 2, 3, 4, 5};  // too large for the field: left as it was
  key[u"split"] = {1};                 // smaller: its bytes only
  std::vector<uint8_t> placement(44, 0);
  placement[0] = 44;
  placement[40] = 0x7F;
  key[u"WindowPosFileTree"] = placement;
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.flagsTrg, 0x24u);
  EXPECT_EQ(settings.split, 1u);
  EXPECT_TRUE(hasPlacement(shell.fileTreePlacement));
  EXPECT_EQ(shell.fileTreePlacement[40], 0x7F);
  EXPECT_FALSE(hasPlacement(shell.mainPlacement));
}

TEST_F(SettingsStoreTest, SafetyNetValuesDefaultToOffAndRoundTripClamped) {
  auto& key = registry.keys[Hive::CurrentUser];
  key[u"flagsSrc"] = FakeRegistry::dword(0xD8);  // a key from before the values existed
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.massDeletePercent, 50u);
  EXPECT_EQ(settings.massDeleteFiles, 1000u);
  EXPECT_EQ(settings.timeShiftHours, 0u);
  EXPECT_EQ(settings.recycleBin, 0u);
  EXPECT_TRUE(settings.backupDir.empty());

  key[u"massDeletePercent"] = FakeRegistry::dword(250);
  key[u"massDeleteFiles"] = FakeRegistry::dword(20);
  key[u"ignoreTimeShift"] = FakeRegistry::dword(99);
  key[u"recycleBin"] = FakeRegistry::dword(7);
  key[u"backupDir"] = FakeRegistry::textBytes(u"D:\\Versions", false);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(settings.massDeletePercent, 100u);
  EXPECT_EQ(settings.massDeleteFiles, 20u);
  EXPECT_EQ(settings.timeShiftHours, 24u);
  EXPECT_EQ(settings.recycleBin, 1u);
  EXPECT_EQ(settings.backupDir, u"D:\\Versions");

  registry.keys.clear();
  saveSettingsTo(registry, settings, shell);
  auto& saved = registry.keys[Hive::LocalMachine];
  EXPECT_EQ(saved[u"massDeletePercent"], FakeRegistry::dword(100));
  EXPECT_EQ(saved[u"ignoreTimeShift"], FakeRegistry::dword(24));
  EXPECT_EQ(saved[u"recycleBin"], FakeRegistry::dword(1));
  EXPECT_EQ(saved[u"backupDir"], FakeRegistry::textBytes(u"D:\\Versions", true));
}

// Every setting of the table under its registry name: saved, and loaded back into its range
// (or whole, where the table says so) from a value just outside it.
TEST_F(SettingsStoreTest, EverySettingOfTheTableIsStoredAndLoadedWithinItsRange) {
  saveSettingsTo(registry, settings, shell);
  auto& key = registry.keys[Hive::CurrentUser];
  const size_t placements = 2, shellSwitches = 1, recentProjects = 8;  // askBeforeSync
  EXPECT_EQ(key.size(), settingTable().size() + placements + shellSwitches + recentProjects);
  for (const SettingEntry& e : settingTable()) {
    SCOPED_TRACE(toUtf8(e.registryName));
    ASSERT_TRUE(key.count(e.registryName));
    if (e.text) {
      key[e.registryName] = FakeRegistry::textBytes(u"C:\\x", true);
      loadSettingsFrom(registry, settings, shell);
      EXPECT_EQ(settings.*e.text, u"C:\\x");
      continue;
    }
    EXPECT_EQ(key[e.registryName], FakeRegistry::dword(e.defaultNumber));
    if (e.most < UINT32_MAX) {
      key[e.registryName] = FakeRegistry::dword(e.most + 1);
      loadSettingsFrom(registry, settings, shell);
      EXPECT_EQ(settings.*e.number, e.clampStored ? e.most : e.most + 1);
    }
    if (e.least > 0) {
      key[e.registryName] = FakeRegistry::dword(e.least - 1);
      loadSettingsFrom(registry, settings, shell);
      EXPECT_EQ(settings.*e.number, e.least);
    }
    key[e.registryName] = FakeRegistry::dword(e.most);
    loadSettingsFrom(registry, settings, shell);
    EXPECT_EQ(settings.*e.number, e.most);
  }
}

TEST_F(SettingsStoreTest, TheQuestionBeforeASyncIsOnUntilTurnedOffAndStaysOff) {
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(shell.askBeforeSync, 1u);  // no key: ask
  registry.keys[Hive::CurrentUser][u"flagsSrc"] = FakeRegistry::dword(0xD8);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(shell.askBeforeSync, 1u);  // a key of an older version, without the value: ask

  shell.askBeforeSync = 0;
  saveSettingsTo(registry, settings, shell);
  EXPECT_EQ(registry.keys[Hive::CurrentUser][u"askBeforeSync"], FakeRegistry::dword(0));
  shell.askBeforeSync = 1;
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(shell.askBeforeSync, 0u);

  registry.keys[Hive::CurrentUser][u"askBeforeSync"] = FakeRegistry::dword(7);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(shell.askBeforeSync, 1u);
}

TEST_F(SettingsStoreTest, RecentProjectsRoundTripInOrderAndEmptyValuesAreSkipped) {
  shell.recentProjects = {u"C:\\b.fwp", u"C:\\a.fwp"};
  saveSettingsTo(registry, settings, shell);
  EXPECT_EQ(registry.keys[Hive::CurrentUser][u"Recent1"], FakeRegistry::textBytes(u"C:\\b.fwp", true));
  EXPECT_EQ(registry.keys[Hive::CurrentUser][u"Recent8"], FakeRegistry::textBytes(u"", true));
  shell.recentProjects.clear();
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(shell.recentProjects, (std::vector<std::u16string>{u"C:\\b.fwp", u"C:\\a.fwp"}));

  // A gap left by hand is closed up; a key without the values has no recent projects.
  registry.keys[Hive::CurrentUser][u"Recent1"] = FakeRegistry::textBytes(u"", true);
  registry.keys[Hive::CurrentUser][u"Recent5"] = FakeRegistry::textBytes(u"D:\\c.fwp", false);
  loadSettingsFrom(registry, settings, shell);
  EXPECT_EQ(shell.recentProjects, (std::vector<std::u16string>{u"C:\\a.fwp", u"D:\\c.fwp"}));
  registry.keys.erase(Hive::CurrentUser);
  registry.keys[Hive::LocalMachine] = {};
  loadSettingsFrom(registry, settings, shell);
  EXPECT_TRUE(shell.recentProjects.empty());
}

}  // namespace
}  // namespace fw
