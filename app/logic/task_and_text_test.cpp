// The small pure pieces of the shell: summary texts, centring, task outcomes and the one-worker
// gate, the Options working copy, the layout, the command-line token.
#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

#include "app/logic/command_line.h"
#include "app/logic/main_layout.h"
#include "app/logic/options_edit.h"
#include "app/logic/project_model.h"
#include "app/logic/summary_text.h"
#include "app/logic/task_flow.h"
#include "core/result_test_util.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace fw {
namespace {

TEST(SummaryTextTest, ColumnsLineUpWithTheLabels) {
  SyncStats ok, failed;
  EXPECT_EQ(okColumnText(ok), u"0  \n0  \n0  \n0  \n\n0 B\n0 B\n0 B\n");
  EXPECT_EQ(failedColumnText(failed), u"\n0  \n0  \n0  \n\n\n0 B\n0 B\n");

  ok.untouchedFiles = 3;
  ok.untouchedBytes = 1536;
  ok.addedBytes = 1049088;
  failed.modifiedFiles = 1;
  failed.addedBytes = 1024;
  failed.deletedBytes = 10240;
  EXPECT_EQ(okColumnText(ok, ','), u"3  \n0  \n0  \n0  \n\n1,5 kB\n1,0 MB\n0 B\n");
  EXPECT_EQ(failedColumnText(failed), u"\n0  \n1  \n0  \n\n\n1024 B\n10 kB\n");
}

TEST(SummaryTextTest, CentringTruncatesTowardsZeroAndMayLeaveTheScreen) {
  EXPECT_EQ(centredOrigin({100, 50, 700, 500}, {0, 0, 301, 201}).x, 249);
  ScreenPoint p = centredOrigin({0, 0, 101, 101}, {0, 0, 200, 300});
  EXPECT_EQ(p.x, -49);  // (101 - 200) / 2, not floored to -50
  EXPECT_EQ(p.y, -99);
}

TEST(SummaryTextTest, OriginInsideMovesOnlyWhatLeavesTheWorkArea) {
  const ScreenRect work{0, 0, 1024, 740};  // a task bar below
  auto origin = [&](ScreenRect w) {
    const ScreenPoint p = originInside(work, w);
    return std::pair<int, int>(p.x, p.y);
  };
  using P = std::pair<int, int>;
  EXPECT_EQ(origin({10, 20, 410, 320}), P(10, 20));            // inside: untouched
  EXPECT_EQ(origin({0, -3, 400, 297}), P(0, 0));               // 3 px above the top
  EXPECT_EQ(origin({900, 600, 1300, 900}), P(624, 440));       // past right and bottom
  EXPECT_EQ(origin({-50, 100, 350, 400}), P(0, 100));          // left of the area
  EXPECT_EQ(origin({624, 440, 1024, 740}), P(624, 440));       // touching both far edges
  // Larger than the area: the title bar stays reachable at the top left.
  EXPECT_EQ(origin({-100, -100, 1200, 900}), P(0, 0));
  EXPECT_EQ(origin({300, 300, 1600, 1100}), P(0, 0));
  // A work area that does not start at 0 (a second monitor to the left, a bar on top).
  EXPECT_EQ(originInside({-1280, 30, 0, 1024}, {-1300, 10, -900, 310}).x, -1280);
  EXPECT_EQ(originInside({-1280, 30, 0, 1024}, {-1300, 10, -900, 310}).y, 30);
}

TEST(TaskFlowTest, OutcomesOfCancelsResultsAndTasks) {
  EXPECT_EQ(outcomeOf(2, 0), TaskOutcome::Nothing);
  EXPECT_EQ(outcomeOf(1, 0), TaskOutcome::Nothing);
  EXPECT_EQ(outcomeOf(1008, 0), TaskOutcome::SyncFinished);
  EXPECT_EQ(outcomeOf(1008, 3), TaskOutcome::ErrorBox);
  EXPECT_EQ(outcomeOf(10005, 0), TaskOutcome::FileTree);
  EXPECT_EQ(outcomeOf(10005, 1), TaskOutcome::ErrorBox);
  EXPECT_EQ(outcomeOf(1007, 0), TaskOutcome::DifferenceSaved);
  EXPECT_EQ(outcomeOf(1005, 0), TaskOutcome::Nothing);
  EXPECT_EQ(progressTemplateFor(TaskId::Sync), 118);
  EXPECT_EQ(progressTemplateFor(TaskId::Compare), 120);
  EXPECT_EQ(std::u16string(progressCaptionFor(TaskId::SaveDifference)), u"Saving difference");
  EXPECT_EQ(taskFromCommand(10005), TaskId::Compare);
  EXPECT_FALSE(taskFromCommand(10000));
}

TEST(TaskFlowTest, GateRunsOneWorkerAndHandsOutTheWaitingTask) {
  TaskGate gate;
  EXPECT_TRUE(gate.request(TaskId::Compare));
  EXPECT_FALSE(gate.request(TaskId::Sync));  // the first worker has not returned
  EXPECT_EQ(gate.pending(), TaskId::Sync);
  EXPECT_EQ(gate.workerReturned(), TaskId::Sync);
  EXPECT_TRUE(gate.running());
  EXPECT_FALSE(gate.request(TaskId::Compare));
  gate.dropPending();
  EXPECT_FALSE(gate.workerReturned());
  EXPECT_FALSE(gate.running());
}

TEST(OptionsEditTest, IgnoreListChangeIgnoresCaseButNotAbsence) {
  EXPECT_FALSE(ignoreListChanged(true, u"Thumbs.DB", true, u"thumbs.db"));
  EXPECT_TRUE(ignoreListChanged(true, u"thumbs.db", true, u"thumbs.db;*.tmp"));
  EXPECT_TRUE(ignoreListChanged(false, u"", true, u""));
  EXPECT_FALSE(ignoreListChanged(false, u"", false, u""));
}

TEST(OptionsEditTest, WorkingCopyBecomesLiveOnlyOnCommit) {
  SyncSettings live;
  ShellSettings shell;
  OptionsWorkingCopy copy = beginOptionsEdit(live, shell);
  EXPECT_EQ(copy.ignore, u"thumbs.db");
  copy.flagsSrc = 0;
  storeIgnoreText(copy, u"");  // an emptied edit: an empty list, not none
  EXPECT_EQ(live.flagsSrc, 0xD8u);
  EXPECT_TRUE(commitOptionsEdit(live, shell, std::move(copy)));
  EXPECT_EQ(live.flagsSrc, 0u);
  EXPECT_TRUE(shell.hasIgnore);
  EXPECT_TRUE(live.ignore.empty());

  copy = beginOptionsEdit(live, shell);
  storeIgnoreText(copy, std::u16string(40, u'x'));
  EXPECT_EQ(copy.ignoreCapacity, 41u);  // grown past the 32 units
  storeIgnoreText(copy, u"a");
  EXPECT_EQ(copy.ignoreCapacity, 41u);
}

TEST(MainLayoutTest, DefaultWindowAndNarrowPanels) {
  const int chars[2] = {16, 30};
  MainLayout m = layoutMainWindow(584, 392, chars);
  EXPECT_EQ(m.side[0].list.x, 20);
  EXPECT_EQ(m.side[0].list.width, 262);  // 292 - 10 - 20
  EXPECT_EQ(m.side[0].list.y, 45);
  EXPECT_EQ(m.side[0].list.height, 272);  // 392 - 70 - 10 - 40
  EXPECT_EQ(m.side[0].kindBox.width, 112);
  EXPECT_EQ(m.side[1].kindBox.width, 162);  // min(262 - 100, 210)
  EXPECT_EQ(m.side[1].list.x, 302);
  EXPECT_EQ(m.compare.x, 302);
  EXPECT_EQ(m.add.x, 113);

  // The box is never narrower than 100 pixels unless the panel is narrower than 200.
  EXPECT_EQ(layoutSidePanel(0, 0, 200, 100, 0).kindBox.width, 100);
  EXPECT_EQ(layoutSidePanel(0, 0, 180, 100, 0).kindBox.width, 80);
  SidePanelLayout p = layoutSidePanel(10, 10, 300, 100, 10);
  EXPECT_EQ(p.label.x, 10 + 50);
  EXPECT_EQ(p.browse.x, 10 + 50 + 100 + 75);
}

TEST(CommandLineTest, FirstTokenUpToAQuote) {
  EXPECT_EQ(firstCommandLineToken(u"\"C:\\My files\\a.fwp\" more"), u"C:\\My files\\a.fwp");
  EXPECT_EQ(firstCommandLineToken(u"C:\\plain.fws"), u"C:\\plain.fws");
  EXPECT_EQ(firstCommandLineToken(u"C:\\a b.fwd \"x\""), u"C:\\a b.fwd");
  EXPECT_EQ(firstCommandLineToken(u" \"Z:\\tmp\\p.fwp\""), u"Z:\\tmp\\p.fwp");
  EXPECT_EQ(firstCommandLineToken(u""), u"");
  EXPECT_EQ(firstCommandLineToken(u"\"\"  "), u"");
  EXPECT_EQ(firstCommandLineToken(nullptr), u"");
}

// A missing root is named where a mirror would have emptied the other side because of it, not
// where the sync just creates it or leaves the other side as it is anyway.
TEST(SyncWarningTest, AMissingRootIsNamedBeforeTheSyncWhereItSparesDeletions) {
  TempDir dir;
  writeFile(dir.at("trg/a.txt"), "a");
  TaskState s;
  s.fs = &systemFs();
  s.inputs[0][0].roots = {dir.at("src")};
  s.inputs[1][0].roots = {dir.at("trg")};
  ASSERT_EQ(runTask(TaskId::Compare, s), Rc::Ok);
  EXPECT_EQ(syncWarningText(s), u"");  // the default copies a.txt back: it creates src
  s.settings.flagsSrc = 0xFC;
  s.settings.flagsTrg = 0;
  std::u16string text = syncWarningText(s);
  EXPECT_NE(text.find(u"The source folder \"" + dir.at("src") + u"\" does not exist"),
            std::u16string::npos);
  EXPECT_NE(text.find(u"Nothing on the target side"), std::u16string::npos);
  // The other way round the mirror creates the missing target: no warning.
  s.inputs[0][0].roots = {dir.at("trg")};
  s.inputs[1][0].roots = {dir.at("new")};
  ASSERT_EQ(runTask(TaskId::Compare, s), Rc::Ok);
  EXPECT_EQ(syncWarningText(s), u"");
  s.inputs[0][0].roots = {dir.at("src")};
  s.inputs[1][0].roots = {dir.at("trg")};
  writeFile(dir.at("src/a.txt"), "a");
  ASSERT_EQ(runTask(TaskId::Compare, s), Rc::Ok);
  EXPECT_EQ(syncWarningText(s), u"");
}

TEST(SyncWarningTest, AFolderThatCouldNotBeListedIsNamedWithItsCause) {
  TempDir dir;
  writeFile(dir.at("src/locked/a.txt"), "a");
  writeFile(dir.at("trg/t.txt"), "t");
  FaultFs fs(systemFs());
  fs.failPath(FsOp::FindFirst, dir.at("src/locked") + kPathSeparator + u"*",
              FsStatus::AccessDenied);
  TaskState s;
  s.fs = &fs;
  s.inputs[0][0].roots = {dir.at("src")};
  s.inputs[1][0].roots = {dir.at("trg")};
  ASSERT_RC_OK(runTask(TaskId::Compare, s));
  std::u16string text = syncWarningText(s);
  EXPECT_NE(text.find(u"Some entries could not be read (1)"), std::u16string::npos);
  EXPECT_NE(text.find(u"The source folder \"locked\" could not be listed: access is denied.\n"),
            std::u16string::npos)
      << toUtf8(text);
  // A later comparison that lists everything forgets the cause.
  fs.clearFaults();
  ASSERT_RC_OK(runTask(TaskId::Compare, s));
  EXPECT_TRUE(s.listingFailures.empty());
  EXPECT_EQ(syncWarningText(s), u"");
}

TEST(SyncWarningTest, ManyMissingRootsAreListedUpToALimitAndCounted) {
  TempDir dir;
  TaskState s;
  s.fs = &systemFs();
  s.settings.flagsSrc = 0xFC;
  s.settings.flagsTrg = 0;
  for (size_t i = 0; i < kMissingRootsShown + 3; ++i) {
    s.inputs[0][0].roots.push_back(dir.at("src" + std::to_string(i)));
    s.inputs[1][0].roots.push_back(dir.at("trg" + std::to_string(i)));
    writeFile(dir.at("trg" + std::to_string(i) + "/a.txt"), "a");
  }
  ASSERT_EQ(runTask(TaskId::Compare, s), Rc::Ok);
  const std::u16string text = missingRootsText(s);
  size_t lines = 0;
  for (char16_t c : text) lines += c == u'\n';
  EXPECT_EQ(lines, kMissingRootsShown + 1);
  EXPECT_NE(text.find(u"And 3 more folders that do not exist."), std::u16string::npos);
  EXPECT_EQ(text.find(dir.at("src" + std::to_string(kMissingRootsShown)) + u"\""),
            std::u16string::npos);
}

// The refusal before a comparison: one line per pair of overlapping folders, and why.
TEST(OverlappingRootsTextTest, NamesEveryPairUpToALimitAndSaysNothingWasCompared) {
  TempDir dir;
  makeDir(dir.at("a/b"));
  SideInput source{{dir.at("a"), dir.at("c")}, u""};
  SideInput target{{dir.at("a/b"), dir.at("d")}, u""};
  EXPECT_EQ(overlappingRootsText(systemFs(), source, target),
            u"Row 1: the target " + dir.at("a/b") + u" lies inside the source " + dir.at("a") +
                u".\n\nA sync would copy a folder into itself or act twice on one folder. "
                u"Nothing was compared.");
  target.roots[0] = dir.at("b");
  EXPECT_EQ(overlappingRootsText(systemFs(), source, target), u"");
  // Every row into one folder: each pair of them.
  source.roots.clear();
  target.roots.clear();
  for (int i = 0; i < 6; ++i) {
    source.roots.push_back(dir.at("s" + std::to_string(i)));
    target.roots.push_back(dir.at("t"));
  }
  const std::u16string text = overlappingRootsText(systemFs(), source, target);
  size_t lines = 0;
  for (char16_t c : text) lines += c == u'\n';
  EXPECT_EQ(lines, kMissingRootsShown + 2) << toUtf8(text);  // 15 pairs; then the empty line
  EXPECT_NE(text.find(u"And 3 more such pairs."), std::u16string::npos) << toUtf8(text);
}

// The message of a failed task names what caused it, and nothing when nothing is known.
TEST(FailedTaskTextTest, NamesTheEntryTheOutputOrTheSavedSide) {
  TaskState s;
  s.saveFileName = u"/out/d.fwd";
  EXPECT_EQ(failedTaskText(TaskId::Sync, Rc::Failed, s), u"Operation failed!");
  EXPECT_EQ(failedTaskText(TaskId::SaveDifference, Rc::CannotWrite, s),
            u"Operation failed!\n\nCannot write /out/d.fwd.");
  s.failedEntry = u"/src/a.txt";
  EXPECT_EQ(failedTaskText(TaskId::SaveDifference, Rc::CannotOpen, s),
            u"Operation failed!\n\n/src/a.txt: cannot be opened; /out/d.fwd was not written.");
  s.saveProblem = {u"/src/pipe", "is a special file"};
  EXPECT_EQ(failedTaskText(TaskId::SaveSourceState, Rc::BadRequest, s),
            u"Operation failed!\n\nCannot save: /src/pipe is a special file; nothing was "
            u"written.");
  TaskState c;
  c.kind[1] = SideKind::SavedState;
  c.inputs[1][static_cast<int>(SideKind::SavedState)].savedFile = u"/media/b.fws";
  EXPECT_EQ(failedTaskText(TaskId::Compare, Rc::Failed, c),
            u"Operation failed!\n\nCannot read /media/b.fws, or it is damaged.");
  c.savedFileFault =
      "Wrong file format! /media/b.fws is damaged, or it is not a file of this program";
  EXPECT_EQ(failedTaskText(TaskId::Compare, Rc::Failed, c),
            u"Operation failed!\n\nWrong file format! /media/b.fws is damaged, or it is not a "
            u"file of this program.");
  c.savedFileFault.clear();
  EXPECT_EQ(failedTaskText(TaskId::Sync, Rc::BadRequest, c),
            u"Operation failed!\n\nThe target of a sync must be folders on disk.");
  c.syncRefusal = "the backup folder lies inside a synced folder";
  EXPECT_EQ(failedTaskText(TaskId::Sync, Rc::BadRequest, c),
            u"Operation failed!\n\nthe backup folder lies inside a synced folder; nothing was "
            u"changed.");
  c.syncRefusal.clear();
  c.failures.push_back({u"/b/x.txt", "cannot write: the disk is full"});
  c.logWritten = u"/logs/sync-20261208-120000.log";
  EXPECT_EQ(failedTaskText(TaskId::Sync, Rc::CannotWrite, c),
            u"Operation failed!\n\n/b/x.txt: cannot write: the disk is full.\n\nThe log of this "
            u"sync: /logs/sync-20261208-120000.log");
  c.failures.clear();
  c.logWritten.clear();
  EXPECT_EQ(failedTaskText(TaskId::Compare, Rc::OutOfMemory, c),
            u"Operation failed!\n\nThere is not enough memory.");
  c.lockRefusal = u"row 1: the target /t is in use by another run of this program";
  EXPECT_EQ(failedTaskText(TaskId::Compare, Rc::BadRequest, c),
            u"Operation failed!\n\nRow 1: the target /t is in use by another run of this "
            u"program.\n\nNothing was read or changed; try again once it has finished.");
  EXPECT_EQ(failureListText({{u"/t/a", "cannot delete"}, {u"/t/b", "case collision"}}),
            u"/t/a: cannot delete\r\n/t/b: case collision\r\n");
}

// After a save in volumes every volume of the new set is named with its size, and nothing that
// is no part of it.
TEST(SavedDifferenceTextTest, NamesTheFileAndEveryVolumeOfItsSet) {
  TempDir dir;
  writeFile(dir.at("src/big.bin"), randomBytes(size_t{5} << 19, 7));  // 2.5 MiB
  TaskState s;
  s.fs = &systemFs();
  s.inputs[0][0].roots = {dir.at("src")};
  s.inputs[1][0].roots = {dir.at("trg")};
  ASSERT_RC_OK(runTask(TaskId::Compare, s));
  s.saveFileName = dir.at("d.fwd");
  s.settings.split = 1;
  s.settings.splitSize = 1;
  ASSERT_RC_OK(runTask(TaskId::SaveDifference, s));
  writeFile(dir.at("d.003.fwd"), "a leftover that is no volume");
  const std::u16string text = savedDifferenceText(systemFs(), dir.at("d.fwd"));
  EXPECT_EQ(text.find(u"The difference was saved in 3 volumes (2.5 MB in all); take every one of "
                      u"them:\n    " + dir.at("d.fwd") + u"  (1024 kB)\n"),
            0u)
      << toUtf8(text);
  EXPECT_NE(text.find(u"    " + dir.at("d.002.fwd") + u"  ("), std::u16string::npos);
  EXPECT_EQ(text.find(dir.at("d.003.fwd")), std::u16string::npos);

  s.settings.split = 0;
  ASSERT_RC_OK(runTask(TaskId::SaveDifference, s));
  removeTree(dir.at("d.003.fwd"));
  EXPECT_EQ(savedDifferenceText(systemFs(), dir.at("d.fwd")).find(
                u"The difference was saved to one file:\n    " + dir.at("d.fwd") + u"  (2.5 MB)\n"),
            0u);
}

// A sync that does not fit its drive is refused as the apply of a difference is: the error box
// names the folder and the shortfall.
TEST(FailedTaskTextTest, ASyncWithoutRoomNamesTheFolderAndTheShortfall) {
  TempDir dir;
  writeFile(dir.at("src/big.bin"), std::string(3000, 'b'));
  makeDir(dir.at("trg"));
  FaultFs fs(systemFs());
  fs.reportFreeSpace(1000);
  TaskState s;
  s.fs = &fs;
  s.inputs[0][0].roots = {dir.at("src")};
  s.inputs[1][0].roots = {dir.at("trg")};
  ASSERT_RC_OK(runTask(TaskId::Compare, s));
  const Rc rc = runTask(TaskId::Sync, s);
  EXPECT_EQ(rc, Rc::CannotWrite);
  EXPECT_EQ(failedTaskText(TaskId::Sync, rc, s),
            u"Operation failed!\n\n" + dir.at("trg") +
                u": not enough free space for the sync: 2.9 kB needed, 1000 B free (2.0 kB "
                u"short); nothing was changed.");
  EXPECT_FALSE(exists(dir.at("trg/big.bin")));
}

// A side switched to a saved kind whose Open was cancelled has no tree: Compare is off, and
// every task refuses it, where compared as empty it would have copied or deleted everything.
TEST(SavedSideWithoutFileTest, CompareIsOffAndEveryTaskRefusesItBeforeTouchingAnything) {
  TempDir dir;
  writeFile(dir.at("src/a.txt"), "a");
  writeFile(dir.at("trg/b.txt"), "b");
  FaultFs fs(systemFs());
  Workspace ws;
  ws.task.fs = &fs;
  ws.sides[0].inputs[0].roots = {dir.at("src")};
  ws.sides[1].inputs[0].roots = {dir.at("trg")};
  EXPECT_TRUE(buttonStates(ws, -1, false).compare);
  ws.sides[1].kind = SideKind::SavedState;
  padSelectedRows(ws);  // the target's list shows an empty row beside the source's folder
  EXPECT_EQ(sideWithoutSavedFile(ws), 1);
  EXPECT_FALSE(buttonStates(ws, -1, false).compare);

  // Had Compare run anyway: refused, nothing read, and the box says why and what to do.
  publishSides(ws);
  TaskState& s = ws.task;
  s.savedFileFault = "stale";  // left from an earlier comparison; not the cause now
  EXPECT_EQ(runTask(TaskId::Compare, s), Rc::BadRequest);
  EXPECT_EQ(s.firstRoot, nullptr);
  EXPECT_EQ(failedTaskText(TaskId::Compare, Rc::BadRequest, s),
            u"Operation failed!\n\nThe target is set to \"Saved state\" but has no file: "
            u"choose one with the \"...\" button beside it. Without its file the side is not "
            u"compared as empty. Nothing was read or changed.");

  // The folders compared, then the source switched to a difference without its file: a sync
  // would have taken the folders' tree as the difference's; it and the saves change nothing.
  ws.sides[1].kind = SideKind::FileSystem;
  publishSides(ws);
  ASSERT_RC_OK(runTask(TaskId::Compare, s));
  s.settings.flagsSrc = 0xFC;
  s.settings.flagsTrg = 0;
  FileNode top{};
  top.children = s.firstRoot;
  markTree(&top, makeMarkMasks(s.settings.flagsSrc, s.settings.flagsTrg, 0), nullptr);
  ws.sides[0].kind = SideKind::SavedDifference;
  EXPECT_EQ(sideWithoutSavedFile(ws), 0);
  publishSides(ws);
  s.saveFileName = dir.at("out.fwd");
  const int mutatedBefore = fs.mutatingCalls();
  for (TaskId id : {TaskId::Sync, TaskId::SaveDifference, TaskId::SaveTargetState})
    EXPECT_EQ(runTask(id, s), Rc::BadRequest) << static_cast<int>(id);
  EXPECT_EQ(fs.mutatingCalls(), mutatedBefore);
  EXPECT_TRUE(exists(dir.at("trg/b.txt")));
  EXPECT_FALSE(exists(dir.at("out.fwd")));
  EXPECT_EQ(failedTaskCause(TaskId::Sync, Rc::BadRequest, s).substr(0, 47),
            u"The source is set to \"Saved difference\" but has");

  // Once the side has its file, Compare is on again.
  ws.sides[0].inputs[2] = SideInput{{dir.at("src")}, dir.at("d.fwd")};
  EXPECT_EQ(sideWithoutSavedFile(ws), -1);
  EXPECT_TRUE(buttonStates(ws, -1, false).compare);
}

// The "Details..." list of a sync says why each entry failed, in the words the command line
// uses: a full disk, a denial, a file in use and a refused name are told apart.
TEST(FailureListTest, ASyncsFailuresNameTheirCauses) {
  TempDir dir;
  writeFile(dir.at("trg/busy.txt"), "b");
  writeFile(dir.at("src/denied.txt"), "d");
  writeFile(dir.at("src/full/f.txt"), "f");
  writeFile(dir.at("src/name.txt"), "n");
  FaultFs fs(systemFs());
  failFourWays(fs);
  TaskState s;
  s.fs = &fs;
  s.inputs[0][0].roots = {dir.at("src")};
  s.inputs[1][0].roots = {dir.at("trg")};
  s.settings.flagsSrc = 0xFC;  // a mirror: what only the target has goes
  s.settings.flagsTrg = 0;
  ASSERT_RC_OK(runTask(TaskId::Compare, s));
  FileNode top{};
  top.children = s.firstRoot;
  markTree(&top, makeMarkMasks(s.settings.flagsSrc, s.settings.flagsTrg, 0), nullptr);
  ASSERT_RC_OK(runTask(TaskId::Sync, s));
  std::u16string text = failureListText(s.failures);
  for (const std::u16string& line :
       {dir.at("trg/busy.txt") + u": cannot delete: another program has it open\r\n",
        dir.at("trg/full/f.txt") + u": cannot copy: the disk is full\r\n",
        dir.at("trg/denied.txt") + u": cannot copy: access is denied",
        dir.at("trg/name.txt") + u": cannot copy: the file system does not allow this name"})
    EXPECT_NE(text.find(line), std::u16string::npos) << toUtf8(line) << "\nin\n" << toUtf8(text);
  size_t lines = 0;
  for (char16_t c : text) lines += c == u'\n';
  EXPECT_EQ(lines, 4u);
}

}  // namespace
}  // namespace fw
