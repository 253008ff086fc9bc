// The safety net through the real windows: the question before a sync that deletes much, with
// No as the answer that changes nothing, the refusal of folders that overlap, and the
// recycle-bin and ask-before-sync items of the File menu.
#include "app/gui_tests/gui_fixture.h"
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

}  // namespace
}  // namespace fw
