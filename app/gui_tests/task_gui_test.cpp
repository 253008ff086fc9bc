// Background tasks through the real windows: comparison, the File Tree window, sync with its
// progress window and summary, difference saves, failures and Cancel.
#include <atomic>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include <windows.h>
#include <commctrl.h>

#include <shlobj.h>

#include "app/gui_tests/gui_fixture.h"
#include "core/format_size.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/forwarding_fs.h"
#include "sync/sync_log.h"

namespace fw {
namespace {

// The disk, with the worker held where the test wants it: write number n (counted from 1)
// waits until the test has let more than n - 1 writes through, and so does listing entry n.
// Nothing is held until the test says so.
class HeldFs : public ForwardingFs {
 public:
  HeldFs() : ForwardingFs(systemFs()) {}
  ~HeldFs() override { release(); }
  std::atomic<int> writes{0};   // writes begun, the held one included
  std::atomic<int> entries{0};  // listing steps begun, the held one included
  void allowWrites(int n) { set(allowedWrites_, n); }
  void allowEntries(int n) { set(allowedEntries_, n); }
  void release() {
    set(allowedWrites_, INT_MAX);
    set(allowedEntries_, INT_MAX);
  }
  // Lets everything through when it goes out of scope. Declared after the ProgramRun, so that
  // a test that stops early does not leave the program's exit waiting for a held worker.
  struct LetGo {
    HeldFs& fs;
    ~LetGo() { fs.release(); }
  };
  FsStatus write(FileHandle f, const void* d, uint32_t n) override {
    pass(writes, allowedWrites_);
    return ForwardingFs::write(f, d, n);
  }
  FsStatus findNext(FindHandle h, FindEntry* e) override {
    pass(entries, allowedEntries_);
    return ForwardingFs::findNext(h, e);
  }

 private:
  void set(int& allowed, int n) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      allowed = n;
    }
    changed_.notify_all();
  }
  void pass(std::atomic<int>& count, const int& allowed) {
    std::unique_lock<std::mutex> lock(mutex_);
    const int n = ++count;
    changed_.wait(lock, [&] { return n <= allowed; });
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  int allowedWrites_ = INT_MAX;
  int allowedEntries_ = INT_MAX;
};

class TaskGuiTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    makeDir(dir.at("src"));
    makeDir(dir.at("trg"));
  }
  std::u16string pairProject() { return quoted(project("pair.fwp", {dir.at("src")}, {dir.at("trg")})); }

  // Compare, and wait for the File Tree window.
  HWND compare(ProgramRun& run) {
    click(run.control(IDC_COMPARE));
    return waitForWindow(run, u"File Tree", 10000);
  }
  // The summary's columns, split into their lines.
  static std::vector<std::u16string> lines(const std::u16string& text) {
    std::vector<std::u16string> out(1);
    for (char16_t c : text) {
      if (c == u'\n') out.emplace_back(); else out.back() += c;
    }
    out.pop_back();  // the text ends in a line break
    return out;
  }
};

TEST_F(TaskGuiTest, CompareThenSyncShowsSummaryWithOkAndFailedColumns) {
  writeFile(dir.at("src/new.txt"), std::string(1536, 'n'));
  writeFile(dir.at("src/same.txt"), "same");
  writeFile(dir.at("trg/same.txt"), "same");
  setModified(dir.at("trg/same.txt"), modifiedOf(dir.at("src/same.txt")));
  writeFile(dir.at("trg/old.txt"), std::string(10, 'o'));  // only in target: the target wins
  ProgramRun run(pairProject());

  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  EXPECT_FALSE(IsWindowEnabled(run.main()));  // modal over the main window
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(itemText(summary, IDOK), u"OK");
  EXPECT_EQ(lines(itemText(summary, IDC_SUMMARY_OK)),
            (Strings{u"1  ", u"2  ", u"0  ", u"0  ", u"", u"4 B", u"1.5 kB", u"0 B"}));
  EXPECT_EQ(lines(itemText(summary, IDC_SUMMARY_FAILED)),
            (Strings{u"", u"0  ", u"0  ", u"0  ", u"", u"", u"0 B", u"0 B"}));
  // The worker's last message arrives while the summary is open.
  ASSERT_TRUE(waitUntil([&] { return !run.workerBusy(); })) << "the worker did not return";
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
  EXPECT_TRUE(IsWindowEnabled(run.main()));
  EXPECT_TRUE(IsWindowEnabled(run.control(IDC_COMPARE)));
  EXPECT_EQ(readFile(dir.at("trg/new.txt")), std::string(1536, 'n'));
  EXPECT_EQ(readFile(dir.at("src/old.txt")), std::string(10, 'o'));
}

// A sync that could not copy a file says which and why, behind the summary's "Details...";
// a sync without failures shows no such button.
TEST_F(TaskGuiTest, FailedEntriesAreListedWithTheirReasonsBehindDetails) {
  writeFile(dir.at("src/good.txt"), "g");
  writeFile(dir.at("src/locked.txt"), "l");
  FaultFs fs(systemFs());
  fs.failPath(FsOp::OpenRead, u"locked", FsStatus::InUse, ERROR_SHARING_VIOLATION);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &fs; });
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(lines(itemText(summary, IDC_SUMMARY_FAILED))[1], u"1  ");
  HWND details = GetDlgItem(summary, IDC_SUMMARY_DETAILS);
  ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(details) != 0; }));
  EXPECT_EQ(textLayoutFaults(summary), std::vector<std::string>{});
  click(details);
  HWND list = waitForDialog(run, u"Failed entries");
  ASSERT_NE(list, nullptr);
  const std::u16string text = itemText(list, IDC_FAILURES_LIST);
  EXPECT_EQ(text.find(dir.at("trg")), 0u) << "the entry's full path comes first";
  EXPECT_NE(text.find(u"locked.txt: cannot copy: another program has it open\r\n"),
            std::u16string::npos);
  EXPECT_EQ(text.find(u"good.txt"), std::u16string::npos);
  command(list, IDOK);
  ASSERT_TRUE(waitGone(list));
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
  EXPECT_EQ(readFile(dir.at("trg/good.txt")), "g");

  fs.clearFaults();
  tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(summary, IDC_SUMMARY_DETAILS)));
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
}

// A root that is not there is named before the File Tree window opens where a mirror would
// have emptied the other side; one that a sync merely creates is not.
TEST_F(TaskGuiTest, AMissingRootIsNamedBeforeTheFileTreeOpens) {
  writeFile(dir.at("trg/keep.txt"), "k");
  writeFile(dir.at("src/new.txt"), "n");
  ProgramRun run(quoted(project("p.fwp", {dir.at("src")}, {dir.at("new backup")})));
  click(run.control(IDC_COMPARE));
  HWND first = waitForWindow(run, u"File Tree", 10000);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(findWindow(run, u"Warning"));
  command(first, IDCANCEL);
  ASSERT_TRUE(waitGone(first));
  run.onWindowThread([&] {
    workspace().settings().flagsSrc = 0xFC;
    workspace().settings().flagsTrg = 0;
    workspace().sides[0].inputs[0].roots = {dir.at("unplugged")};
    workspace().sides[1].inputs[0].roots = {dir.at("trg")};
  });
  click(run.control(IDC_COMPARE));
  HWND warning = waitForWindow(run, u"Warning", 10000);
  ASSERT_NE(warning, nullptr);
  EXPECT_EQ(messageText(warning), u"The source folder \"" + dir.at("unplugged") +
                                      u"\" does not exist. Nothing on the target side of that "
                                      u"row is deleted because of it.\n");
  EXPECT_FALSE(findWindow(run, u"File Tree"));
  command(warning, IDOK);
  ASSERT_TRUE(waitGone(warning));
  HWND tree = waitForWindow(run, u"File Tree", 10000);
  ASSERT_NE(tree, nullptr);
  // Sync says it again, in the one question before the sync, and No keeps the File Tree.
  click(GetDlgItem(tree, IDT_SYNC));
  HWND question = waitForDialog(run, u"Before the sync", 10000);
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(GetWindow(question, GW_OWNER), tree);
  const std::u16string text = itemText(question, IDC_CONFIRM_TEXT);
  EXPECT_EQ(text.find(u"The source folder \"" + dir.at("unplugged") + u"\" does not exist."), 0u)
      << toUtf8(text);
  // Mirror settings with the source missing: nothing is copied, and nothing deleted for it.
  EXPECT_NE(text.find(u"Nothing to change."), std::u16string::npos) << toUtf8(text);
  EXPECT_EQ(itemText(question, IDC_CONFIRM_QUESTION), u"Sync anyway?");
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(question, IDC_CONFIRM_NO_ASK)))
      << "a warning cannot be turned off";
  EXPECT_FALSE(findWindow(run, u"Warning")) << "a second box";
  command(question, IDNO);
  ASSERT_TRUE(waitGone(question));
  ASSERT_TRUE(run.settle());
  EXPECT_TRUE(IsWindow(tree));
  EXPECT_FALSE(run.workerBusy());
  command(tree, IDCANCEL);
  ASSERT_TRUE(waitGone(tree));
}

TEST_F(TaskGuiTest, SyncOfIdenticalFoldersShowsEverythingUntouched) {
  for (const char* f : {"a", "b", "c"}) {
    writeFile(dir.at(std::string("src/") + f), "12345");
    writeFile(dir.at(std::string("trg/") + f), "12345");
    setModified(dir.at(std::string("trg/") + f), modifiedOf(dir.at(std::string("src/") + f)));
  }
  ProgramRun run(pairProject());
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(itemText(summary, IDC_SUMMARY_OK), u"3  \n0  \n0  \n0  \n\n15 B\n0 B\n0 B\n");
  EXPECT_EQ(itemText(summary, IDC_SUMMARY_FAILED), u"\n0  \n0  \n0  \n\n\n0 B\n0 B\n");
  PostMessageW(summary, WM_COMMAND, IDCANCEL, 0);  // Escape ends it too
  ASSERT_TRUE(waitGone(summary));
}

TEST_F(TaskGuiTest, SyncFromSavedStateFailsWithoutTouchingTheDisk) {
  writeFile(dir.at("src/only.txt"), "x");
  TaskState task;
  task.fs = &systemFs();
  task.inputs[0][0].roots = {dir.at("src")};
  task.inputs[1][0].roots = {dir.at("trg")};
  ASSERT_EQ(runTask(TaskId::Compare, task), Rc::Ok);
  task.saveFileName = dir.at("src.fws");
  ASSERT_EQ(runTask(TaskId::SaveSourceState, task), Rc::Ok);

  // The saved source state against the target folder.
  ProgramRun run(dir.at("src.fws"));
  ASSERT_EQ(comboSelectionText(kindBox(run, 0)), u"src.fws");
  click(run.control(IDC_ADD));
  HWND pair = waitForWindow(run, u"Folder comparison");
  ASSERT_NE(pair, nullptr);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pair, IDC_PAIR_SOURCE_EDIT)));
  command(pair, IDCANCEL);
  ASSERT_TRUE(waitGone(pair));
  run.onWindowThread([&] { workspace().sides[1].inputs[0].roots = {dir.at("trg")}; });
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(tree, IDT_SYNC)));
  command(tree, IDCANCEL);
  ASSERT_TRUE(waitGone(tree));

  // A Sync that the File Tree window did not ask about asks itself.
  command(run.main(), IDT_SYNC);
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND error = waitForWindow(run, u"Error", 10000);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(messageText(error), u"Operation failed!\n\nA saved state holds no file data and "
                                u"cannot be the source of a sync.");
  EXPECT_FALSE(findWindow(run, u"Sync in progress"));
  command(error, IDOK);
  ASSERT_TRUE(waitGone(error));
  EXPECT_TRUE(IsWindowEnabled(run.main()));
  EXPECT_FALSE(exists(dir.at("trg/only.txt")));
}

TEST_F(TaskGuiTest, ProgressCountsChangeWhileALargeFileIsCopied) {
  writeFile(dir.at("src/big.bin"), std::string(5 << 20, 'b'));  // 80 blocks of 64 KiB
  HeldFs slow;
  slow.allowWrites(0);  // the copy waits in its first write
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &slow; });
  HeldFs::LetGo letGo{slow};
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND progress = waitForWindow(run, u"Sync in progress", 10000);
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(itemText(progress, IDOK), u"Cancel");
  EXPECT_FALSE(IsWindowEnabled(run.main()));

  // Zeros at first, then the added bytes growing (the window reads them once a second): the
  // copy is let on by 20 blocks, then by 30 more, and each time the window shows new counts.
  ASSERT_TRUE(waitUntil([&] { return slow.writes > 0; }));
  std::set<std::u16string> seen{itemText(progress, IDC_SUMMARY_OK)};
  for (int allowed : {20, 50}) {
    slow.allowWrites(allowed);
    ASSERT_TRUE(waitUntil([&] { return slow.writes > allowed; }));
    const size_t before = seen.size();
    EXPECT_TRUE(waitUntil([&] {
      seen.insert(itemText(progress, IDC_SUMMARY_OK));
      return seen.size() > before;
    })) << "the counts did not change while the file was copied";
  }
  EXPECT_GE(seen.size(), 3u) << "the counts did not change while the file was copied";
  slow.release();
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(lines(itemText(summary, IDC_SUMMARY_OK))[6], u"5.0 MB");
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
}

// Below the counts, which stay where they were: the file being copied, the bar over the
// sync's files and bytes, the share done and, once a few seconds are sampled, the rate and the
// time left. The Sync finished summary has none of it.
TEST_F(TaskGuiTest, TheProgressWindowShowsTheFileTheBarAndTheEstimates) {
  writeFile(dir.at("src/big.bin"), std::string(5 << 20, 'b'));  // 80 blocks of 64 KiB
  HeldFs slow;
  slow.allowWrites(0);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &slow; });
  HeldFs::LetGo letGo{slow};
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND progress = waitForWindow(run, u"Sync in progress", 10000);
  ASSERT_NE(progress, nullptr);
  HWND bar = GetDlgItem(progress, IDC_PROGRESS_BAR);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 1000);
  auto screenRect = [&](int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(progress, id), &r);
    return r;
  };
  EXPECT_LE(screenRect(IDC_SUMMARY_OK).bottom, screenRect(IDC_PROGRESS_FILE).top);
  EXPECT_LE(screenRect(IDC_PROGRESS_RATE).bottom, screenRect(IDOK).top);
  RECT client{};
  GetClientRect(progress, &client);
  MapWindowPoints(progress, nullptr, reinterpret_cast<POINT*>(&client), 2);
  EXPECT_LE(screenRect(IDOK).bottom, client.bottom) << "the button fell off the window";

  ASSERT_TRUE(waitUntil([&] { return slow.writes > 0; }));
  EXPECT_TRUE(waitUntil([&] {
    return itemText(progress, IDC_PROGRESS_FILE).find(u"big.bin") != std::u16string::npos;
  })) << toUtf8(itemText(progress, IDC_PROGRESS_FILE));
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(itemText(progress, IDC_PROGRESS_DONE), u"0% of 1 file, 5.0 MB");
  // 40 blocks of 5 MB and one file's share: 2.5 of 5.0625 MiB of work.
  slow.allowWrites(40);
  EXPECT_TRUE(waitUntil([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) == 494; }))
      << SendMessageW(bar, PBM_GETPOS, 0, 0);
  EXPECT_EQ(itemText(progress, IDC_PROGRESS_DONE), u"49% of 1 file, 5.0 MB");
  EXPECT_TRUE(waitUntil([&] {
    const std::u16string rate = itemText(progress, IDC_PROGRESS_RATE);
    return rate.find(u"/s, ") != std::u16string::npos && rate.ends_with(u" left");
  }, 10000)) << toUtf8(itemText(progress, IDC_PROGRESS_RATE));
  slow.release();
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(GetDlgItem(summary, IDC_PROGRESS_BAR), nullptr);
  EXPECT_EQ(GetDlgItem(summary, IDC_PROGRESS_FILE), nullptr);
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
}

TEST_F(TaskGuiTest, AComparisonShowsTheEntriesReadSoFar) {
  for (int i = 0; i < 20; ++i) writeFile(dir.at("src/f" + std::to_string(i)), "x");
  HeldFs slow;
  slow.allowEntries(0);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &slow; });
  HeldFs::LetGo letGo{slow};
  click(run.control(IDC_COMPARE));
  HWND working = waitForDialog(run, u"Ferrywick");
  ASSERT_NE(working, nullptr);
  ASSERT_TRUE(waitUntil([&] { return slow.entries > 0; }));
  EXPECT_EQ(itemText(working, IDC_PROGRESS_ENTRIES), u"");
  slow.allowEntries(12);
  ASSERT_TRUE(waitUntil([&] { return slow.entries > 12; }));
  std::u16string text;
  EXPECT_TRUE(waitUntil([&] {
    text = itemText(working, IDC_PROGRESS_ENTRIES);
    return text.ends_with(u" entries read");
  })) << toUtf8(text);
  const int read = std::stoi(toUtf8(text));
  EXPECT_GT(read, 1);
  EXPECT_LT(read, 20);
  slow.release();
  HWND tree = waitForWindow(run, u"File Tree", 10000);
  ASSERT_NE(tree, nullptr);
  command(tree, IDCANCEL);
  ASSERT_TRUE(waitGone(tree));
}

TEST_F(TaskGuiTest, CancelClosesTheProgressWindowAtOnceAndKeepsCompareOffUntilTheWorkerEnds) {
  writeFile(dir.at("src/big.bin"), std::string(4 << 20, 'b'));
  HeldFs slow;
  slow.allowWrites(10);  // the copy waits in its 11th block
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &slow; });
  HeldFs::LetGo letGo{slow};
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND progress = waitForWindow(run, u"Sync in progress", 10000);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(waitUntil([&] { return slow.writes > 10; }));
  click(GetDlgItem(progress, IDOK));
  // At once: while the worker still waits in its write.
  ASSERT_TRUE(waitGone(progress));
  ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(run.main()); }));
  EXPECT_TRUE(run.workerBusy()) << "the worker was let go before the window closed";
  EXPECT_EQ(slow.writes, 11);
  EXPECT_FALSE(findWindow(run, u"Sync cancelled")) << "the counts are not final yet";
  slow.release();
  // Once the worker has returned, what it did before it stopped: nothing, the one copy cut off.
  HWND cancelled = waitForDialog(run, u"Sync cancelled", 10000);
  ASSERT_NE(cancelled, nullptr);
  // (The added bytes count what the cut-off copy wrote before it was removed.)
  const std::vector<std::u16string> ok = lines(itemText(cancelled, IDC_SUMMARY_OK));
  EXPECT_EQ(std::vector<std::u16string>(ok.begin(), ok.begin() + 4),
            (Strings{u"0  ", u"0  ", u"0  ", u"0  "}));
  EXPECT_EQ(textLayoutFaults(cancelled), std::vector<std::string>{});
  command(cancelled, IDOK);
  ASSERT_TRUE(waitGone(cancelled));
  ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(run.control(IDC_COMPARE)); }));
  ASSERT_TRUE(run.settle());  // what the worker's return brought along has been handled
  EXPECT_FALSE(findWindow(run, u"Sync finished"));
  EXPECT_FALSE(findWindow(run, u"Error"));
  EXPECT_FALSE(exists(dir.at("trg/big.bin")));  // the copy in progress was removed
  // Nothing but the file's own name was ever in the target folder.
  FindEntry entry;
  FindHandle find;
  bool onlyDots = true;
  std::u16string pattern = dir.at("trg") + u"\\*";
  if (systemFs().findFirst(pattern.c_str(), &find, &entry) == FsStatus::Ok) {
    do {
      std::u16string name(entry.name);
      if (name != u"." && name != u"..") onlyDots = false;
    } while (systemFs().findNext(find, &entry) == FsStatus::Ok);
    systemFs().findClose(find);
  }
  EXPECT_TRUE(onlyDots) << "a temporary file was left behind";

  // The next comparison runs normally.
  tree = compare(run);
  ASSERT_NE(tree, nullptr);
  command(tree, IDCANCEL);
  ASSERT_TRUE(waitGone(tree));
}

TEST_F(TaskGuiTest, SyncAskedForWhileACancelledWorkerRunsWaitsForItThenRuns) {
  writeFile(dir.at("src/big.bin"), std::string(2 << 20, 'b'));
  HeldFs slow;
  slow.allowWrites(0);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &slow; });
  HeldFs::LetGo letGo{slow};
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND progress = waitForWindow(run, u"Sync in progress", 10000);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(waitUntil([&] { return slow.writes > 0; }));
  // Cancel while the worker sits in a write, and at once ask for the sync again (as the File
  // Tree window would): it must not run beside the cancelled worker.
  click(GetDlgItem(progress, IDOK));
  command(run.main(), IDT_SYNC);
  ASSERT_TRUE(waitGone(progress));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND again = waitForWindow(run, u"Sync in progress");
  ASSERT_NE(again, nullptr);
  ASSERT_TRUE(run.settle());  // both commands handled
  bool waited = false;
  run.onWindowThread([&] { waited = app().gate.pending().has_value(); });
  EXPECT_TRUE(waited) << "the second sync did not wait for the cancelled worker";
  EXPECT_EQ(slow.writes, 1) << "a second worker wrote beside the cancelled one";
  slow.release();
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(lines(itemText(summary, IDC_SUMMARY_OK))[1], u"1  ");
  EXPECT_EQ(lines(itemText(summary, IDC_SUMMARY_OK))[6], u"2.0 MB");
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
  EXPECT_EQ(readFile(dir.at("trg/big.bin")).size(), size_t{2} << 20);
}

// Closing the main window while a sync runs asks first; No lets it go on, Yes stops it and
// the program ends once the worker has returned.
TEST_F(TaskGuiTest, ClosingTheMainWindowDuringASyncAsksFirst) {
  writeFile(dir.at("src/big.bin"), std::string(2 << 20, 'b'));
  HeldFs slow;
  slow.allowWrites(0);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &slow; });
  HeldFs::LetGo letGo{slow};
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND progress = waitForWindow(run, u"Sync in progress", 10000);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(waitUntil([&] { return slow.writes > 0; }));

  PostMessageW(run.main(), WM_CLOSE, 0, 0);
  HWND ask = waitForDialog(run, u"Ferrywick", 10000);
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(messageText(ask), u"A sync is running. Stop it?");
  command(ask, IDNO);
  ASSERT_TRUE(waitGone(ask));
  ASSERT_TRUE(run.settle());
  EXPECT_TRUE(IsWindow(run.main()));
  EXPECT_TRUE(IsWindow(progress));
  EXPECT_TRUE(run.workerBusy());

  PostMessageW(run.main(), WM_CLOSE, 0, 0);
  ask = waitForDialog(run, u"Ferrywick", 10000);
  ASSERT_NE(ask, nullptr);
  command(ask, IDYES);
  ASSERT_TRUE(waitGone(ask));
  slow.release();  // the worker sees the cancel at its next write
  ASSERT_TRUE(waitGone(run.main(), 10000));
  EXPECT_FALSE(exists(dir.at("trg/big.bin")));
}

TEST_F(TaskGuiTest, CancelledComparisonOpensNothing) {
  for (int i = 0; i < 20; ++i) writeFile(dir.at("src/f" + std::to_string(i)), "x");
  HeldFs slow;
  slow.allowEntries(0);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &slow; });
  HeldFs::LetGo letGo{slow};
  click(run.control(IDC_COMPARE));
  HWND working = waitForDialog(run, u"Ferrywick");
  ASSERT_NE(working, nullptr);
  // Cancel while the worker is inside a slow listing step, so that it returns only later.
  ASSERT_TRUE(waitUntil([&] { return slow.entries > 0; }));
  EXPECT_FALSE(IsWindowEnabled(run.main()));
  EXPECT_EQ(itemText(working, IDCANCEL), u"Cancel");
  command(working, IDCANCEL);  // Escape or the button
  // At once: while the worker still waits in its listing step.
  ASSERT_TRUE(waitGone(working));
  ASSERT_TRUE(run.settle());
  EXPECT_TRUE(IsWindowEnabled(run.main()));
  EXPECT_FALSE(IsWindowEnabled(run.control(IDC_COMPARE)));  // until the worker has returned
  EXPECT_EQ(slow.entries, 1);
  slow.release();
  ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(run.control(IDC_COMPARE)); }));
  ASSERT_TRUE(run.settle());  // what the worker's return brought along has been handled
  EXPECT_FALSE(findWindow(run, u"File Tree"));
  EXPECT_FALSE(findWindow(run, u"Error"));
}

TEST_F(TaskGuiTest, DifferenceSaveClosesTheProgressWindowAndNamesWhatItWrote) {
  writeFile(dir.at("src/carried.txt"), "data that travels");
  ProgramRun run(pairProject());
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SAVE_DIFF));
  HWND save = waitForWindow(run, u"Save As");
  ASSERT_NE(save, nullptr);
  answerFileDialog(save, dir.at("changes.fwd"));
  HWND split = waitForDialog(run, u"Save diff");
  ASSERT_NE(split, nullptr);
  click(GetDlgItem(split, IDOK));
  ASSERT_TRUE(waitGone(tree, 10000));
  // The main window is usable for a moment between the File Tree window's end and the save's
  // start, which the window posted before it closed: first that start, then the worker's end.
  ASSERT_TRUE(run.settle());
  ASSERT_TRUE(waitUntil([&] { return !run.workerBusy(); }, 10000)) << "the worker did not return";
  // What to carry: the one file and its size.
  HWND saved = waitForDialog(run, u"Difference saved", 10000);
  ASSERT_NE(saved, nullptr);
  uint64_t size = 0;
  {
    FindEntry entry{};
    FindHandle find{};
    ASSERT_EQ(systemFs().findFirst(dir.at("changes.fwd").c_str(), &find, &entry), FsStatus::Ok);
    systemFs().findClose(find);
    size = entry.size;
  }
  EXPECT_EQ(messageText(saved), u"The difference was saved to one file:\n    " +
                                    dir.at("changes.fwd") + u"  (" + toUtf16(formatSize(size)) +
                                    u")\n");
  command(saved, IDOK);
  ASSERT_TRUE(waitGone(saved));
  ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(run.main()); }, 10000));
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(findWindow(run, u"Saving difference"));
  EXPECT_FALSE(findWindow(run, u"Sync finished"));
  EXPECT_FALSE(findWindow(run, u"Error"));
  EXPECT_TRUE(exists(dir.at("changes.fwd")));

  // The saved difference loads as a source at the next start.
  run.exit();
  ProgramRun second(dir.at("changes.fwd"));
  EXPECT_EQ(SendMessageW(kindBox(second, 0), CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(comboSelectionText(kindBox(second, 0)), u"changes.fwd");
}

TEST_F(TaskGuiTest, ComparisonOfAVanishedStateFileNamesTheFile) {
  writeFile(dir.at("src/a"), "a");
  TaskState task;
  task.fs = &systemFs();
  task.inputs[0][0].roots = {dir.at("src")};
  ASSERT_EQ(runTask(TaskId::Compare, task), Rc::Ok);
  task.saveFileName = dir.at("gone.fws");
  ASSERT_EQ(runTask(TaskId::SaveSourceState, task), Rc::Ok);
  ProgramRun run(dir.at("gone.fws"));
  removeTree(dir.at("gone.fws"));
  click(run.control(IDC_COMPARE));
  HWND error = waitForWindow(run, u"Error", 10000);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(messageText(error),
            u"Operation failed!\n\n" + dir.at("gone.fws") + u" cannot be opened.");
  EXPECT_FALSE(findWindow(run, u"File Tree"));
  command(error, IDOK);
  ASSERT_TRUE(waitGone(error));
}

// A sync writes its log into the local application data folder, failures named, and the
// summary's "Log..." is there to open it; a sync that writes no log shows no such button.
TEST_F(TaskGuiTest, ASyncWritesItsLogAndTheSummaryOffersIt) {
  writeFile(dir.at("src/good.txt"), "g");
  writeFile(dir.at("src/locked.txt"), "l");
  FaultFs fs(systemFs());
  fs.failPath(FsOp::OpenRead, u"locked", FsStatus::InUse, ERROR_SHARING_VIOLATION);
  ProgramRun run(pairProject(), [&] { workspace().task.fs = &fs; });
  HWND tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  HWND summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  HWND log = GetDlgItem(summary, IDC_SUMMARY_LOG);
  ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(log) != 0; }));
  EXPECT_TRUE(IsWindowEnabled(log));
  EXPECT_EQ(itemText(summary, IDC_SUMMARY_LOG), u"Log...");
  EXPECT_EQ(textLayoutFaults(summary), std::vector<std::string>{});
  wchar_t local[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local),
            S_OK);
  const std::u16string folder =
      reinterpret_cast<const char16_t*>(local) + std::u16string(u"\\Ferrywick\\Logs\\");
  std::u16string written;
  run.onWindowThread([&] { written = workspace().task.logWritten; });
  EXPECT_EQ(written.rfind(folder, 0), 0u) << toUtf8(written);
  EXPECT_TRUE(isLogFileName(written.substr(folder.size())));
  const std::string text = readFile(written);
  EXPECT_NE(text.find("copied     " + toUtf8(dir.at("trg")) + "\\good.txt\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("locked.txt: cannot copy: another program has it open\r\n"),
            std::string::npos)
      << text;
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));

  run.onWindowThread([&] { workspace().task.logFolder.clear(); });
  writeFile(dir.at("src/more.txt"), "m");
  tree = compare(run);
  ASSERT_NE(tree, nullptr);
  click(GetDlgItem(tree, IDT_SYNC));
  ASSERT_TRUE(answerSyncQuestion(run, IDYES));
  summary = waitForWindow(run, u"Sync finished", 10000);
  ASSERT_NE(summary, nullptr);
  ASSERT_TRUE(run.settle());
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(summary, IDC_SUMMARY_LOG)));
  command(summary, IDOK);
  ASSERT_TRUE(waitGone(summary));
}

}  // namespace
}  // namespace fw
