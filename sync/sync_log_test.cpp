// The log of a sync: its names and the keeping of the newest, and what a sync and the apply of
// a difference write into it, run as the windows and the command line run them (runTask).
#include "sync/sync_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing/fault_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"
#include "sync/sync_test_support.h"
#include "sync/task.h"

namespace fw {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string shown(const std::u16string& path) { return toUtf8(path); }

LogTime fixedTime() { return {2026, 3, 7, 9, 5, 4, 90}; }

TEST(SyncLogNames, NamesOfLogsAreTheOnlyOnesTakenForLogs) {
  EXPECT_EQ(logFileName(fixedTime()), u"sync-20260307-090504.log");
  EXPECT_EQ(logFileName(fixedTime(), 2), u"sync-20260307-090504-2.log");
  EXPECT_EQ(logFileName(fixedTime(), 12), u"sync-20260307-090504-12.log");
  for (const char16_t* name : {u"sync-20260307-090504.log", u"sync-20260307-090504-2.log",
                               u"sync-20260307-090504-12.log"})
    EXPECT_TRUE(isLogFileName(name)) << toUtf8(name);
  for (const char16_t* name :
       {u"sync-20260307-090504.txt", u"sync-2026030-090504.log", u"sync-20260307-0905041.log",
        u"sync-20260307-090504-.log", u"sync-20260307-090504-x.log", u"notes.log",
        u"Sync-20260307-090504.log", u"sync-20260307_090504.log", u"sync-20260307-090504.log~",
        u"mysync-20260307-090504.log", u""})
    EXPECT_FALSE(isLogFileName(name)) << toUtf8(name);
}

TEST(SyncLogNames, TimesCarryTheirOffsetFromUtc) {
  EXPECT_EQ(logTimeText(fixedTime()), "2026-03-07 09:05:04 +01:30");
  EXPECT_EQ(logTimeText({2026, 12, 31, 23, 59, 59, -300}), "2026-12-31 23:59:59 -05:00");
  EXPECT_EQ(logTimeText({2027, 1, 1, 0, 0, 0, 0}), "2027-01-01 00:00:00 +00:00");
  // Now, as the system says: the offset is whole and within the world's range.
  LogTime now = localTimeNow();
  EXPECT_GE(now.offsetMinutes, -12 * 60);
  EXPECT_LE(now.offsetMinutes, 14 * 60);
  EXPECT_GE(now.year, 2024);
}

TEST(SyncLogPruning, TheNewestAreKeptAndNothingButLogsIsNamed) {
  std::vector<LogFolderEntry> listing;
  for (int i = 0; i < 5; ++i)
    listing.push_back({logFileName({2026, 1, 1, 0, 0, i, 0}), 1000u + static_cast<uint64_t>(i)});
  listing.push_back({u"notes.txt", 1});         // older than all, but not a log
  listing.push_back({u"sync-old.log", 2});      // not named like one either
  listing.push_back({u"sync-20250101-000000-2.log", 500});  // the oldest log
  listing.push_back({u"sync-20250101-000000.log", 500});    // the same time: by name after it
  EXPECT_EQ(logsToPrune(listing, 3),
            (std::vector<std::u16string>{u"sync-20250101-000000-2.log",
                                         u"sync-20250101-000000.log",
                                         logFileName({2026, 1, 1, 0, 0, 0, 0}),
                                         logFileName({2026, 1, 1, 0, 0, 1, 0})}));
  EXPECT_TRUE(logsToPrune(listing, 7).empty());
  EXPECT_TRUE(logsToPrune(listing, 50).empty());
  EXPECT_EQ(logsToPrune(listing, 0).size(), 7u);
}

TEST(SyncLogPruning, AFolderKeepsItsNewestLogsAndEverythingElse) {
  TempDir dir;
  for (int i = 0; i < static_cast<int>(kLogsKept) + 3; ++i) {
    std::u16string path = dir.at(toUtf8(logFileName({2026, 1, 1, 0, i / 60, i % 60, 0})));
    writeAt(path, "log", kT + static_cast<uint64_t>(i) * kHour);
  }
  writeAt(dir.at("readme.txt"), "mine", kT - kHour);
  makeDir(dir.at("sync-20200101-000000.log"));  // a folder of that name is no log
  pruneLogs(systemFs(), dir.path());
  std::set<std::u16string> left = namesIn(dir.path());
  EXPECT_EQ(left.size(), kLogsKept + 2);
  EXPECT_TRUE(left.count(u"readme.txt"));
  EXPECT_TRUE(left.count(u"sync-20200101-000000.log"));
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(left.count(logFileName({2026, 1, 1, 0, 0, i, 0}))) << i;
  EXPECT_TRUE(left.count(logFileName({2026, 1, 1, 0, 0, 3, 0})));
  pruneLogs(systemFs(), dir.at("missing"));  // nothing there: nothing happens
}

TEST(SyncLogFolder, TwoLogsOfOneSecondTakeTwoNamesInAFolderMadeForThem) {
  TempDir dir;
  SideInput source{{u"/a"}, {}}, target{{u"/b"}, {}};
  std::u16string folder = dir.at("Ferrywick/Logs");
  SyncLog first(systemFs()), second(systemFs());
  first.now = second.now = fixedTime;
  ASSERT_TRUE(first.createIn(folder, source, target)) << first.problem();
  ASSERT_TRUE(second.createIn(folder, source, target)) << second.problem();
  EXPECT_EQ(first.path(), dir.at("Ferrywick/Logs/sync-20260307-090504.log"));
  EXPECT_EQ(second.path(), dir.at("Ferrywick/Logs/sync-20260307-090504-2.log"));
  SyncStats ok, failed;
  first.finish(Rc::Ok, false, ok, failed, {});
  second.finish(Rc::Ok, true, ok, failed, {});
  std::vector<std::string> lines = linesOf(readFile(second.path()));
  EXPECT_TRUE(hasLine(lines, "Started:  2026-03-07 09:05:04 +01:30"));
  EXPECT_TRUE(hasLine(lines, "Result:   cancelled; what is listed above was done"));
  EXPECT_EQ(lines.back(), "Ended:    2026-03-07 09:05:04 +01:30");
}

class SyncLogRunTest : public ::testing::Test {
 protected:
  // Compares and syncs the folders as the task runner does, through fs.
  Rc compareAndSync(TaskState& s, Fs& fs) {
    s.fs = &fs;
    s.inputs[0][0].roots = {src_.path()};
    s.inputs[1][0].roots = {trg_.path()};
    Rc rc = runTask(TaskId::Compare, s);
    if (rc != Rc::Ok) return rc;
    mark(s.firstRoot, s.settings.flagsSrc, s.settings.flagsTrg);
    return runTask(TaskId::Sync, s);
  }

  TempDir src_, trg_, logs_;
};

TEST_F(SyncLogRunTest, ASyncLogsEveryEntryItsFailuresAndItsTotals) {
  writeAt(src_.at("new.txt"), "new", kT);
  writeAt(src_.at("changed.txt"), "newer", kT + kHour);
  writeAt(trg_.at("changed.txt"), "old", kT);
  writeAt(src_.at("same/a.txt"), "same", kT);
  writeAt(trg_.at("same/a.txt"), "same", kT);
  writeAt(trg_.at("extra.txt"), "extra", kT);
  writeAt(trg_.at("doomed.txt"), "held", kT);
  writeAt(src_.at("fresh/inner.txt"), "in", kT);
  FaultFs fs(systemFs());
  fs.failPath(FsOp::Delete, u"doomed", FsStatus::AccessDenied);
  TaskState s;
  s.settings.flagsSrc = kMirror;
  s.settings.flagsTrg = 0;
  s.logFile = logs_.at("run.log");
  ASSERT_RC_OK(compareAndSync(s, fs));
  EXPECT_EQ(s.logWritten, s.logFile);
  EXPECT_EQ(s.logProblem, "");

  std::vector<std::string> lines = linesOf(readFile(s.logFile));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Ferrywick sync log");
  EXPECT_EQ(lines[1], "Sync of folders");
  EXPECT_TRUE(std::regex_match(
      lines[2], std::regex(R"(Started:  \d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d\d:\d\d)")));
  EXPECT_EQ(lines[3], "Row 1:    " + shown(src_.path()) + " -> " + shown(trg_.path()));
  EXPECT_TRUE(hasLine(lines, "copied     " + shown(trg_.at("new.txt"))));
  EXPECT_TRUE(hasLine(lines, "replaced   " + shown(trg_.at("changed.txt"))));
  EXPECT_TRUE(hasLine(lines, "deleted    " + shown(trg_.at("extra.txt"))));
  EXPECT_TRUE(hasLine(lines, "new folder " + shown(trg_.at("fresh"))));
  EXPECT_TRUE(hasLine(lines, "copied     " + shown(trg_.at("fresh/inner.txt"))));
  EXPECT_TRUE(hasLine(lines, "left alone " + shown(trg_.at("same"))));
  EXPECT_TRUE(hasLine(lines, "failed     " + shown(trg_.at("doomed.txt")) +
                                 ": cannot delete: access is denied"));
  // Nothing that failed is said to be done.
  for (const std::string& line : lines) {
    if (line.find("doomed") != std::string::npos) {
      EXPECT_EQ(line.rfind("failed", 0), 0u) << line;
    }
  }
  EXPECT_TRUE(hasLine(lines, "Result:   finished"));
  EXPECT_TRUE(hasLine(lines, "Failed entries: 1"));
  // The totals of the summary, the failed column beside the ok one.
  EXPECT_TRUE(hasLine(lines, "  Untouched files:                1"));
  EXPECT_TRUE(hasLine(lines, "  Added files:                    2               0"));
  EXPECT_TRUE(hasLine(lines, "  Modified files:                 1               0"));
  EXPECT_TRUE(hasLine(lines, "  Deleted files:                  1               1"));
  EXPECT_TRUE(hasLine(lines, "  Deleted bytes:                  8               4"));
  EXPECT_EQ(lines.back().rfind("Ended:    ", 0), 0u);
}

TEST_F(SyncLogRunTest, CopiesOnOtherThreadsAreEachLoggedOnce) {
  constexpr int kFiles = 300;
  for (int i = 0; i < kFiles; ++i)
    writeAt(src_.at("d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt"),
            noise(100 + static_cast<size_t>(i), static_cast<uint32_t>(i)), kT);
  TaskState s;
  s.logFile = logs_.at("many.log");
  ASSERT_RC_OK(compareAndSync(s, systemFs()));
  std::vector<std::string> lines = linesOf(readFile(s.logFile));
  int copied = 0;
  std::set<std::string> seen;
  for (const std::string& line : lines) {
    if (line.rfind("copied     ", 0) != 0) continue;
    ++copied;
    seen.insert(line);
  }
  EXPECT_EQ(copied, kFiles);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kFiles));
  EXPECT_TRUE(hasLine(lines, "  Added files:                  300               0"));
}

TEST_F(SyncLogRunTest, ALogThatCannotBeWrittenLeavesTheSyncAsItWas) {
  writeAt(src_.at("a.txt"), "a", kT);
  TaskState s;
  s.logFile = logs_.at("missing/folder/run.log");
  ASSERT_RC_OK(compareAndSync(s, systemFs()));
  EXPECT_EQ(readFile(trg_.at("a.txt")), "a");
  EXPECT_EQ(valueOf(s.okStats.addedFiles), 1u);
  EXPECT_EQ(s.logWritten, u"");
  EXPECT_NE(s.logProblem.find("cannot create the log"), std::string::npos) << s.logProblem;
  EXPECT_NE(s.logProblem.find("run.log"), std::string::npos) << s.logProblem;

  // No room for the log: the sync goes on, and the problem is told in the disk's words.
  FaultFs fs(systemFs());
  writeAt(src_.at("b.txt"), "b", kT);
  TaskState t;
  t.logFile = logs_.at("full.log");
  fs.failPath(FsOp::Create, u"full.log", FsStatus::DiskFull);
  ASSERT_RC_OK(compareAndSync(t, fs));
  EXPECT_EQ(readFile(trg_.at("b.txt")), "b");
  EXPECT_NE(t.logProblem.find("the disk is full"), std::string::npos) << t.logProblem;
}

TEST_F(SyncLogRunTest, ASyncRefusedForWantOfRoomSaysWhyAndDidNothing) {
  writeAt(src_.at("big.bin"), noise(4096, 3), kT);
  FaultFs fs(systemFs());
  fs.reportFreeSpace(100);
  TaskState s;
  s.logFile = logs_.at("refused.log");
  EXPECT_EQ(compareAndSync(s, fs), Rc::CannotWrite);
  EXPECT_FALSE(exists(trg_.at("big.bin")));
  std::vector<std::string> lines = linesOf(readFile(s.logFile));
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("copied", 0) == 0;
  }));
  ASSERT_EQ(s.failures.size(), 1u);
  EXPECT_TRUE(hasLine(lines, "failed     " + shown(s.failures[0].path) + ": " +
                                 s.failures[0].reason));
  EXPECT_NE(s.failures[0].reason.find("free space"), std::string::npos);
  EXPECT_TRUE(hasLine(lines, "Result:   stopped before the end; the last failure above says why"));
}

TEST_F(SyncLogRunTest, TheApplyOfADifferenceIsLoggedWithTheFileItCameFrom) {
  writeAt(src_.at("carried.txt"), "carried", kT + kHour);
  writeAt(src_.at("replacing.txt"), "new", kT + kHour);
  writeAt(src_.at("kept.txt"), "kept", kT);
  writeAt(src_.at("box/inside.txt"), "in", kT);
  TempDir before, transfer;
  writeAt(before.at("replacing.txt"), "old", kT);
  writeAt(before.at("kept.txt"), "kept", kT);
  // The difference of the source against the target as it is now.
  TaskState a;
  a.fs = &systemFs();
  a.settings.flagsSrc = kMirror;
  a.settings.flagsTrg = 0;
  a.inputs[0][0].roots = {src_.path()};
  a.inputs[1][0].roots = {before.path()};
  ASSERT_RC_OK(runTask(TaskId::Compare, a));
  mark(a.firstRoot, kMirror, 0);
  a.saveFileName = transfer.at("d.fwd");
  ASSERT_RC_OK(runTask(TaskId::SaveDifference, a));
  // Applied on the target, which has one file more meanwhile.
  writeAt(before.at("gone.txt"), "gone", kT);
  TaskState b;
  b.fs = &systemFs();
  b.settings.flagsSrc = kMirror;
  b.settings.flagsTrg = 0;
  b.kind[0] = SideKind::SavedDifference;
  b.inputs[0][2] = SideInput{{src_.path()}, transfer.at("d.fwd")};
  b.inputs[1][0].roots = {before.path()};
  b.logFolder = logs_.path();
  ASSERT_RC_OK(runTask(TaskId::Compare, b));
  mark(b.firstRoot, kMirror, 0);
  ASSERT_RC_OK(runTask(TaskId::Sync, b));
  ASSERT_NE(b.logWritten, u"") << b.logProblem;
  EXPECT_EQ(namesIn(logs_.path()).size(), 1u);
  std::vector<std::string> lines = linesOf(readFile(b.logWritten));
  EXPECT_EQ(lines[1], "Apply of the saved difference " + shown(transfer.at("d.fwd")));
  EXPECT_EQ(lines[3], "Row 1:    " + shown(src_.path()) + " -> " + shown(before.path()));
  EXPECT_TRUE(hasLine(lines, "copied     " + shown(before.at("carried.txt"))));
  EXPECT_TRUE(hasLine(lines, "replaced   " + shown(before.at("replacing.txt"))));
  EXPECT_TRUE(hasLine(lines, "new folder " + shown(before.at("box"))));
  EXPECT_TRUE(hasLine(lines, "copied     " + shown(before.at("box/inside.txt"))));
  EXPECT_TRUE(hasLine(lines, "deleted    " + shown(before.at("gone.txt"))));
  EXPECT_TRUE(hasLine(lines, "left alone " + shown(before.at("kept.txt"))));
  EXPECT_TRUE(hasLine(lines, "Result:   finished"));
  EXPECT_TRUE(hasLine(lines, "Failed entries: 0"));
}

}  // namespace
}  // namespace fw
