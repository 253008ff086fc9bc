#include "sync/settings_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/text.h"

namespace fw {
namespace {

// What the readers of the table rely on: one name per setting in each world, one field per
// entry, a default inside its range, and the default a fresh SyncSettings has (the command line
// starts from that record, the registry from setSettingDefaults).
TEST(SettingsTableTest, EntriesAreWholeAndTheirDefaultsAgree) {
  std::set<std::u16string> registryNames;
  std::set<std::string> options;
  const SyncSettings fresh;
  SyncSettings defaults;
  defaults.flagsSrc = defaults.splitSize = defaults.massDeleteFiles = 12345;
  defaults.ignore = defaults.backupDir = u"changed";
  setSettingDefaults(defaults);
  for (const SettingEntry& e : settingTable()) {
    ASSERT_NE(e.registryName, nullptr);
    SCOPED_TRACE(toUtf8(e.registryName));
    EXPECT_TRUE(registryNames.insert(e.registryName).second);
    if (e.option) {
      EXPECT_TRUE(options.insert(e.option).second);
      EXPECT_NE(e.optionValue, nullptr);
      EXPECT_NE(e.help, nullptr);
    }
    EXPECT_NE(e.number == nullptr, e.text == nullptr);
    EXPECT_EQ(e.text != nullptr, e.kind == SettingKind::Text);
    if (e.text) {
      EXPECT_EQ(fresh.*e.text, e.defaultText);
      EXPECT_EQ(defaults.*e.text, e.defaultText);
    } else {
      EXPECT_LE(e.least, e.defaultNumber);
      EXPECT_LE(e.defaultNumber, e.most);
      EXPECT_EQ(fresh.*e.number, e.defaultNumber);
      EXPECT_EQ(defaults.*e.number, e.defaultNumber);
      EXPECT_EQ(settingOf(e.number), &e);
    }
  }
  EXPECT_EQ(settingForOption("--split"), settingOf(&SyncSettings::splitSize));
  EXPECT_EQ(settingForOption("--allow-mass-delete"), nullptr);  // the tool's own, no setting
}

TEST(SettingsTableTest, StoredNumbersComeIntoTheirRange) {
  const SettingEntry& hours = *settingOf(&SyncSettings::timeShiftHours);
  EXPECT_EQ(clampStoredSetting(hours, 25), kMaxTimeShiftHours);
  EXPECT_EQ(clampStoredSetting(hours, 0xFFFFFFFFu), kMaxTimeShiftHours);  // unsigned
  EXPECT_EQ(clampStoredSetting(hours, 3), 3u);
  // A volume size is a signed number: negative is below the least, not above the most.
  const SettingEntry& size = *settingOf(&SyncSettings::splitSize);
  EXPECT_EQ(clampStoredSetting(size, 0xFFFFFFFFu), 1u);
  EXPECT_EQ(clampStoredSetting(size, 0x7FFFFFFFu), kMaxSplitSize);
  // A mask is taken whole.
  EXPECT_EQ(clampStoredSetting(*settingOf(&SyncSettings::flagsSrc), 0x1D8), 0x1D8u);

  EXPECT_EQ(settingValueText(*settingOf(&SyncSettings::flagsTrg), 0x24), "0x24");
  EXPECT_EQ(settingValueText(*settingOf(&SyncSettings::flagsTrg), 0), "0");
  EXPECT_EQ(settingValueText(hours, 24), "24");
  EXPECT_EQ(volumeSizeTooLargeText(), "The split limit is too big, must be at most 2147483646 MB!");
}

}  // namespace
}  // namespace fw
