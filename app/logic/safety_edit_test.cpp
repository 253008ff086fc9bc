#include "app/logic/safety_edit.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"
#include "platform/text.h"
#include "sync/deletion_guard.h"

namespace fw {
namespace {

const SafetyNumber& numberOf(uint32_t SyncSettings::*setting) {
  for (const SafetyNumber& n : safetyNumbers())
    if (n.setting == setting) return n;
  ADD_FAILURE() << "no box for the setting";
  return safetyNumbers()[0];
}

TEST(SafetyEditTest, TheWorkingCopyTakesTheLiveValuesAndOnlyItsOwnBecomeLive) {
  SyncSettings settings;
  ShellSettings shell;
  settings.backupDir = u"D:\\Old";
  settings.massDeleteShareFiles = 7;
  settings.timeShiftHours = 1;
  SafetyWorkingCopy copy = beginSafetyEdit(settings, shell);
  EXPECT_EQ(copy.backupDir, u"D:\\Old");
  EXPECT_FALSE(copy.recycleBin);
  EXPECT_EQ(copy.massDeletePercent, kDefaultMassDeletePercent);
  EXPECT_EQ(copy.massDeleteShareFiles, 7u);
  EXPECT_EQ(copy.massDeleteFiles, kDefaultMassDeleteFiles);
  EXPECT_EQ(copy.timeShiftHours, 1u);
  EXPECT_TRUE(copy.askBeforeSync);

  copy.backupDir.clear();
  copy.recycleBin = true;
  copy.massDeletePercent = 100;
  copy.massDeleteShareFiles = 0;
  copy.massDeleteFiles = 5;
  copy.timeShiftHours = 2;
  copy.askBeforeSync = false;
  SyncSettings before = settings;
  commitSafetyEdit(settings, shell, copy);
  EXPECT_EQ(settings.backupDir, u"");
  EXPECT_EQ(settings.recycleBin, 1u);
  EXPECT_EQ(settings.massDeletePercent, 100u);
  EXPECT_EQ(settings.massDeleteShareFiles, 0u);
  EXPECT_EQ(settings.massDeleteFiles, 5u);
  EXPECT_EQ(settings.timeShiftHours, 2u);
  EXPECT_EQ(shell.askBeforeSync, 0u);
  // What the Options dialog edits is not touched.
  EXPECT_EQ(settings.flagsSrc, before.flagsSrc);
  EXPECT_EQ(settings.ignore, before.ignore);
  EXPECT_EQ(settings.splitSize, before.splitSize);
}

// Every box takes its setting's whole range and nothing beyond it, as the command line does.
TEST(SafetyEditTest, EveryNumberTakesExactlyItsSettingsRange) {
  ASSERT_EQ(safetyNumbers().size(), 4u);
  for (const SafetyNumber& n : safetyNumbers()) {
    const SettingEntry& e = *settingOf(n.setting);
    SCOPED_TRACE(toUtf8(n.name));
    uint32_t v = 12345;
    std::u16string error;
    EXPECT_TRUE(readSafetyNumber(n, safetyNumberText(e.least), &v, &error));
    EXPECT_EQ(v, e.least);
    EXPECT_TRUE(readSafetyNumber(n, u" " + safetyNumberText(e.most) + u" ", &v, &error));
    EXPECT_EQ(v, e.most);
    v = 12345;
    const std::u16string beyond = toUtf16(std::to_string(uint64_t{e.most} + 1));
    for (std::u16string text : {beyond, std::u16string(u""), std::u16string(u"  "),
                                std::u16string(u"-1"), std::u16string(u"1 0"),
                                std::u16string(u"0x10"), std::u16string(u"99999999999999999999")}) {
      EXPECT_FALSE(readSafetyNumber(n, text, &v, &error)) << toUtf8(text);
      EXPECT_EQ(v, 12345u) << "a refused text changes nothing";
    }
  }
  std::u16string error;
  uint32_t v = 0;
  EXPECT_FALSE(readSafetyNumber(numberOf(&SyncSettings::massDeletePercent), u"101", &v, &error));
  EXPECT_EQ(error, u"The share of a side's files must be a whole number from 0 to 100.");
  EXPECT_FALSE(readSafetyNumber(numberOf(&SyncSettings::timeShiftHours), u"25", &v, &error));
  EXPECT_EQ(error, u"The time shift must be a whole number from 0 to 24.");
  EXPECT_TRUE(readSafetyNumber(numberOf(&SyncSettings::massDeleteFiles), u"4294967295", &v,
                               &error));
  EXPECT_EQ(v, 4294967295u);
}

TEST(SafetyEditTest, ABackupFolderInsideOrAroundARootIsRefusedAndNothingIsMade) {
  TempDir dir;
  makeDir(dir.at("src"));
  makeDir(dir.at("trg"));
  SideInput source, target;
  source.roots = {dir.at("src")};
  target.roots = {dir.at("trg")};
  std::u16string folder = u"unchanged", error;

  EXPECT_TRUE(readBackupFolder(systemFs(), u"  ", source, target, &folder, &error));
  EXPECT_EQ(folder, u"") << "blank: no backup folder";

  EXPECT_TRUE(readBackupFolder(systemFs(), u" " + dir.at("old") + u" ", source, target, &folder,
                               &error));
  EXPECT_EQ(folder, dir.at("old"));
  EXPECT_FALSE(exists(dir.at("old"))) << "made only by a sync";

  folder = u"unchanged";
  for (const std::u16string& refused : {dir.at("trg/versions"), dir.at("src"), dir.path()}) {
    EXPECT_FALSE(readBackupFolder(systemFs(), refused, source, target, &folder, &error))
        << toUtf8(refused);
    EXPECT_EQ(error.find(u"The backup folder "), 0u) << toUtf8(error);
    EXPECT_NE(error.find(u"must lie outside the synced folder"), std::u16string::npos);
    EXPECT_EQ(folder, u"unchanged");
  }
  EXPECT_FALSE(exists(dir.at("trg/versions")));
  // The roots of a saved side are no folders here.
  source.savedFile = dir.at("saved.fws");
  EXPECT_TRUE(readBackupFolder(systemFs(), dir.at("src/versions"), source, target, &folder,
                               &error));
}

}  // namespace
}  // namespace fw
