// The safety net through the real windows: the question before a sync that deletes much, with
// No as the answer that changes nothing, the refusal of folders that overlap, the
// recycle-bin and ask-before-sync items of the File menu, and the Safety dialog.
#include "app/gui_tests/gui_fixture.h"
#include "app/logic/safety_edit.h"
#include "app/safety_net.h"
#include "platform/testing/fault_fs.h"

namespace fw {
namespace {

class SafetyNetGuiTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    makeDir(dir.at("src"));
    writeFile(dir.at("trg/one.txt"), "one");
    writeFile(dir.at("trg/two.txt"), "two");
  }
  // Compares with every category to the target (a mirror: both target files to be deleted)
  // and asks the File Tree window for the sync.
  void compareAndSync(ProgramRun& run) {
    run.onWindowThread([] {
      workspace().settings().flagsSrc = 0xFC;
      workspace().settings().flagsTrg = 0;
      workspace().settings().massDeleteShareFiles = 2;  // two files make a share here
    });
    click(run.control(IDC_COMPARE));
    HWND tree = waitForWindow(run, u"File Tree", 10000);
    ASSERT_NE(tree, nullptr);
    click(GetDlgItem(tree, IDT_SYNC));
  }
  std::u16string pairProject() {
    return quoted(project("pair.fwp", {dir.at("src")}, {dir.at("trg")}));
  }
};

// The mass-deletion sentence is part of the one question before the sync, which then cannot
// be turned off; No keeps the File Tree window and changes nothing, Yes deletes.
TEST_F(SafetyNetGuiTest, AMassDeletionJoinsTheQuestionBeforeTheSyncAndNoChangesNothing) {
  ProgramRun run(pairProject());
  run.onWindowThread([] { workspace().shell.askBeforeSync = 0; });  // warnings ask anyway
  compareAndSync(run);
  HWND box = waitForDialog(run, u"Before the sync", 10000);
  ASSERT_NE(box, nullptr);
  const std::u16string text = itemText(box, IDC_CONFIRM_TEXT);
  EXPECT_EQ(text.find(u"This sync would delete 2 of the 2 files on the target side of row 1 (" +
                      dir.at("trg") + u"): more than half of them.\r\n"),
            0u)
      << toUtf8(text);
  EXPECT_NE(text.find(u"On the target side: delete 2 files\r\n"), std::u16string::npos)
      << toUtf8(text);
  EXPECT_EQ(itemText(box, IDC_CONFIRM_QUESTION), u"Sync anyway?");
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(box, IDC_CONFIRM_NO_ASK)));
  EXPECT_FALSE(findWindow(run, u"Warning")) << "a second box";
  // No is the default button: Enter does not delete.
  auto isDefault = [&](int id) {
    return (GetWindowLongW(GetDlgItem(box, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  };
  EXPECT_TRUE(isDefault(IDNO));
  EXPECT_FALSE(isDefault(IDYES));
  command(box, IDNO);
  ASSERT_TRUE(waitGone(box));
  ASSERT_TRUE(run.settle());
  EXPECT_EQ(findWindow(run, u"Sync finished"), nullptr);
  EXPECT_FALSE(run.workerBusy());
  EXPECT_EQ(readFile(dir.at("trg/one.txt")), "one");
  EXPECT_EQ(readFile(dir.at("trg/two.txt")), "two");

  HWND tree = findWindow(run, u"File Tree");
  ASSERT_NE(tree, nullptr) << "No closed the File Tree window";
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  ASSERT_TRUE(waitUntil([&] { return !run.workerBusy(); }));
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
  EXPECT_FALSE(exists(dir.at("trg/one.txt")));
  EXPECT_FALSE(exists(dir.at("trg/two.txt")));
}

// A volume without room for what the sync writes is named before the sync starts, and the
// File Tree window stays as it was: the user can untick and try again.
TEST_F(SafetyNetGuiTest, TooLittleRoomIsSaidBeforeTheSyncAndTheFileTreeStays) {
  writeFile(dir.at("src/big.bin"), std::string(4096, 'x'));
  FaultFs fs(systemFs());
  fs.reportFreeSpace(100);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &fs; });
  run.onWindowThread([] { workspace().shell.askBeforeSync = 0; });
  click(run.control(IDC_COMPARE));
  HWND tree = waitForWindow(run, u"File Tree", 10000);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  HWND error = waitForDialog(run, u"Error", 10000);
  ASSERT_NE(error, nullptr) << "no word of the missing room";
  const std::u16string text = messageText(error);
  EXPECT_NE(text.find(u"not enough free space for the sync"), std::u16string::npos) << toUtf8(text);
  // The volume, by the first folder of the rows on it.
  EXPECT_NE(text.find(dir.at("src") + u": "), std::u16string::npos) << toUtf8(text);
  command(error, IDOK);
  ASSERT_TRUE(waitGone(error));
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(run.workerBusy());
  EXPECT_EQ(findWindow(run, u"File Tree"), tree);
  EXPECT_FALSE(exists(dir.at("trg/big.bin")));
  fs.clearFaults();
}

TEST_F(SafetyNetGuiTest, FoldersThatOverlapAreRefusedBeforeTheComparison) {
  writeFile(dir.at("trg/sub/only.txt"), "only copy");
  ProgramRun run(quoted(project("nested.fwp", {dir.at("trg")}, {dir.at("trg/sub")})));
  click(run.control(IDC_COMPARE));
  HWND box = waitForDialog(run, u"Error", 10000);
  ASSERT_NE(box, nullptr);
  const std::u16string text = messageText(box);
  EXPECT_NE(text.find(u"Row 1: the target " + dir.at("trg/sub") + u" lies inside the source " +
                      dir.at("trg") + u"."),
            std::u16string::npos)
      << toUtf8(text);
  command(box, IDOK);
  ASSERT_TRUE(waitGone(box));
  ASSERT_TRUE(run.settle());
  EXPECT_EQ(findWindow(run, u"File Tree"), nullptr);
  EXPECT_FALSE(run.workerBusy());
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_COMPARE)));
  EXPECT_EQ(readFile(dir.at("trg/sub/only.txt")), "only copy");
}

TEST_F(SafetyNetGuiTest, TheRecycleBinItemIsOffByDefaultAndItsStateIsStored) {
  auto checked = [](HWND window) {
    return (GetMenuState(GetMenu(window), kRecycleBinCommand, MF_BYCOMMAND) & MF_CHECKED) != 0;
  };
  {
    ProgramRun run;
    ASSERT_NE(GetMenuState(GetMenu(run.main()), kRecycleBinCommand, MF_BYCOMMAND), 0xFFFFFFFFu)
        << "no such item";
    EXPECT_FALSE(checked(run.main()));
    command(run.main(), kRecycleBinCommand);
    ASSERT_TRUE(run.settle());
    EXPECT_TRUE(checked(run.main()));
    run.exit();
  }
  ProgramRun again;
  EXPECT_TRUE(checked(again.main()));
  uint32_t on = 0;
  again.onWindowThread([&] { on = workspace().settings().recycleBin; });
  EXPECT_EQ(on, 1u);
}

TEST_F(SafetyNetGuiTest, TheAskBeforeSyncItemIsOnByDefaultAndItsStateIsStored) {
  auto checked = [](HWND window) {
    return (GetMenuState(GetMenu(window), kAskBeforeSyncCommand, MF_BYCOMMAND) & MF_CHECKED) !=
           0;
  };
  {
    ProgramRun run;
    EXPECT_TRUE(checked(run.main()));
    command(run.main(), kAskBeforeSyncCommand);
    ASSERT_TRUE(run.settle());
    EXPECT_FALSE(checked(run.main()));
    run.exit();
  }
  ProgramRun again;
  EXPECT_FALSE(checked(again.main()));
}

// The Safety dialog shows the settings; Cancel keeps them whatever was typed, a value it
// refuses keeps the dialog open with the box to mend in focus, and OK stores every value,
// which the menu's items follow and the next start finds again.
TEST_F(SafetyNetGuiTest, TheSafetyDialogStoresItsValuesOnOkAndChangesNothingOnCancel) {
  const std::u16string backup = dir.at("versions");
  auto checked = [](HWND window, int item) {
    return (GetMenuState(GetMenu(window), static_cast<UINT>(item), MF_BYCOMMAND) & MF_CHECKED) !=
           0;
  };
  auto tick = [](HWND dialog, int id, bool on) {
    SendMessageW(GetDlgItem(dialog, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  };
  auto type = [](HWND dialog, int id, const std::u16string& text) {
    SetDlgItemTextW(dialog, id, wide(text));
  };
  auto fill = [&](HWND box, const std::u16string& folder) {
    type(box, IDC_SAFETY_BACKUP, folder);
    type(box, IDC_SAFETY_PERCENT, u"80");
    type(box, IDC_SAFETY_SHARE_FILES, u"3");
    type(box, IDC_SAFETY_FILES, u"200");
    type(box, IDC_SAFETY_TIME_SHIFT, u"1");
    tick(box, IDC_SAFETY_RECYCLE, true);
    tick(box, IDC_SAFETY_ASK, false);
  };
  auto stored = [](const ProgramRun& run) {
    SafetyWorkingCopy now;
    run.onWindowThread([&] { now = beginSafetyEdit(workspace().settings(), workspace().shell); });
    return now;
  };
  {
    ProgramRun run(pairProject());
    ASSERT_NE(GetMenuState(GetMenu(run.main()), IDM_SAFETY, MF_BYCOMMAND), 0xFFFFFFFFu);
    command(run.main(), IDM_SAFETY);
    HWND box = waitForDialog(run, u"Safety", 10000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(textLayoutFaults(box), std::vector<std::string>{});
    EXPECT_EQ(itemText(box, IDC_SAFETY_BACKUP), u"");
    EXPECT_EQ(itemText(box, IDC_SAFETY_PERCENT), u"50");
    EXPECT_EQ(itemText(box, IDC_SAFETY_SHARE_FILES), u"10");
    EXPECT_EQ(itemText(box, IDC_SAFETY_FILES), u"1000");
    EXPECT_EQ(itemText(box, IDC_SAFETY_TIME_SHIFT), u"0");
    EXPECT_EQ(IsDlgButtonChecked(box, IDC_SAFETY_RECYCLE), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(IsDlgButtonChecked(box, IDC_SAFETY_ASK), static_cast<UINT>(BST_CHECKED));
    fill(box, backup);
    command(box, IDCANCEL);
    ASSERT_TRUE(waitGone(box));
    ASSERT_TRUE(run.settle());
    const SafetyWorkingCopy kept = stored(run);
    EXPECT_EQ(kept.backupDir, u"");
    EXPECT_FALSE(kept.recycleBin);
    EXPECT_EQ(kept.massDeletePercent, 50u);
    EXPECT_EQ(kept.massDeleteShareFiles, 10u);
    EXPECT_EQ(kept.massDeleteFiles, 1000u);
    EXPECT_EQ(kept.timeShiftHours, 0u);
    EXPECT_TRUE(kept.askBeforeSync);

    command(run.main(), IDM_SAFETY);
    box = waitForDialog(run, u"Safety", 10000);
    ASSERT_NE(box, nullptr);
    // A number out of its range, then a backup folder inside the project's target: each is
    // named, and the dialog stays with that box in focus.
    fill(box, dir.at("trg/versions"));
    type(box, IDC_SAFETY_TIME_SHIFT, u"25");
    command(box, IDOK);
    HWND error = waitForDialog(run, u"Error", 10000);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(messageText(error), u"The time shift must be a whole number from 0 to 24.");
    command(error, IDOK);
    ASSERT_TRUE(waitGone(error));
    ASSERT_TRUE(run.settle());
    EXPECT_EQ(focusOf(run), GetDlgItem(box, IDC_SAFETY_TIME_SHIFT));
    type(box, IDC_SAFETY_TIME_SHIFT, u"1");
    command(box, IDOK);
    error = waitForDialog(run, u"Error", 10000);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(messageText(error).find(u"must lie outside the synced folder " + dir.at("trg")),
              std::u16string::npos)
        << toUtf8(messageText(error));
    command(error, IDOK);
    ASSERT_TRUE(waitGone(error));
    ASSERT_TRUE(run.settle());
    EXPECT_EQ(focusOf(run), GetDlgItem(box, IDC_SAFETY_BACKUP));
    EXPECT_EQ(stored(run).massDeletePercent, 50u) << "a refused OK stores nothing";

    type(box, IDC_SAFETY_BACKUP, backup);
    command(box, IDOK);
    ASSERT_TRUE(waitGone(box));
    ASSERT_TRUE(run.settle());
    EXPECT_TRUE(checked(run.main(), kRecycleBinCommand));
    EXPECT_FALSE(checked(run.main(), kAskBeforeSyncCommand));
    EXPECT_FALSE(exists(backup)) << "made by the first sync that needs it";
    run.exit();
  }
  ProgramRun again;
  const SafetyWorkingCopy now = stored(again);
  EXPECT_EQ(now.backupDir, backup);
  EXPECT_TRUE(now.recycleBin);
  EXPECT_EQ(now.massDeletePercent, 80u);
  EXPECT_EQ(now.massDeleteShareFiles, 3u);
  EXPECT_EQ(now.massDeleteFiles, 200u);
  EXPECT_EQ(now.timeShiftHours, 1u);
  EXPECT_FALSE(now.askBeforeSync);
  command(again.main(), IDM_SAFETY);
  HWND box = waitForDialog(again, u"Safety", 10000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(itemText(box, IDC_SAFETY_BACKUP), backup);
  EXPECT_EQ(itemText(box, IDC_SAFETY_FILES), u"200");
  command(box, IDCANCEL);
  ASSERT_TRUE(waitGone(box));
}

}  // namespace
}  // namespace fw
