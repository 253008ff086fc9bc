// One run per folder: a run that changes a folder holds it alone to its end, runs that only read
// one share it, a second run is refused with the folder named and changes nothing, and with the
// folders held the temporary files met in them are leftovers at once.
#include "sync/root_locks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "core/result_test_util.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"
#include "sync/sync_all.h"
#include "sync/sync_test_support.h"
#include "sync/task.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fw {
namespace {

constexpr uint64_t kOld = 116444736000000000ull;  // 1970, long before any running sync

// Holds its first write until go is set: a sync caught in the middle of its apply.
class PausingFs : public ForwardingFs {
 public:
  explicit PausingFs(Fs& base) : ForwardingFs(base) {}
  FsStatus write(FileHandle f, const void* d, uint32_t n) override {
    if (!paused_.exchange(true)) {
      inside.set_value();
      go.get_future().wait();
    }
    return base_.write(f, d, n);
  }
  std::promise<void> inside;
  std::promise<void> go;

 private:
  std::atomic<bool> paused_{false};
};

void setUp(TaskState& s, Fs& fs, const std::u16string& source, const std::u16string& target,
           uint32_t flagsTrg = kDefaultFlagsTrg) {
  s.fs = &fs;
  s.inputs[0][0].roots = {source};
  s.inputs[1][0].roots = {target};
  s.settings.flagsTrg = flagsTrg;
}

Rc compareAndSync(TaskState& s) {
  Rc rc = runTask(TaskId::Compare, s);
  if (rc != Rc::Ok) return rc;
  mark(s.firstRoot, s.settings.flagsSrc, s.settings.flagsTrg);
  return runTask(TaskId::Sync, s);
}

std::u16string inUse(const std::string& use, const std::u16string& path) {
  return toUtf16(use) + path + u" is " + toUtf16(kFolderInUse);
}

std::set<std::u16string> asSet(const std::vector<std::u16string>& v) { return {v.begin(), v.end()}; }

// Two runs at once on real folders: while a one-way sync is in the middle of its apply, another
// sync into its target (by another spelling of it), a comparison of its target and a two-way
// sync with its source are refused after a brief wait, and change nothing; a comparison of its
// source (only read) goes on. Once the first has ended, the second runs.
TEST(RootLocksTest, ASecondRunIsRefusedWhileTheFirstChangesTheFolder) {
  TempDir src, trg, other, links;
  writeAt(src.at("a.txt"), "a", kOld);
  writeAt(other.at("b.txt"), "b", kOld);
  PausingFs paused(systemFs());
  TaskState first;
  setUp(first, paused, src.path(), trg.path(), 0);
  ASSERT_RC_OK(runTask(TaskId::Compare, first));
  mark(first.firstRoot, first.settings.flagsSrc, 0);
  std::future<Rc> running =
      std::async(std::launch::async, [&] { return runTask(TaskId::Sync, first); });
  paused.inside.get_future().wait();

  std::u16string target = trg.path();
#ifndef _WIN32
  target = links.at("target");
  ASSERT_EQ(symlink(toUtf8(trg.path()).c_str(), toUtf8(target).c_str()), 0);
#endif
  TaskState second;
  setUp(second, systemFs(), other.path(), target);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(compareAndSync(second), Rc::BadRequest);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kLockWaitMs));
  EXPECT_EQ(second.lockRefusal, inUse("row 1: the target ", target));
  EXPECT_EQ(second.firstRoot, nullptr);  // not even compared

  TaskState reader;
  setUp(reader, systemFs(), trg.path(), other.path());
  EXPECT_EQ(runTask(TaskId::Compare, reader), Rc::BadRequest);
  EXPECT_EQ(reader.lockRefusal, inUse("row 1: the source ", trg.path()));
  setUp(reader, systemFs(), src.path(), other.path());
  EXPECT_RC(Rc::Ok, runTask(TaskId::Compare, reader));
  EXPECT_EQ(compareAndSync(reader), Rc::BadRequest);  // two-way: it would change the source
  EXPECT_EQ(reader.lockRefusal, inUse("row 1: the source ", src.path()));

  paused.go.set_value();
  ASSERT_RC_OK(running.get());
  EXPECT_EQ(readFile(trg.at("a.txt")), "a");
  EXPECT_FALSE(exists(trg.at("b.txt")));
  EXPECT_TRUE(first.lockRefusal.empty());
  ASSERT_RC_OK(compareAndSync(second));
  EXPECT_TRUE(second.lockRefusal.empty());
  EXPECT_EQ(readFile(trg.at("b.txt")), "b");
}

// A holder that ends within the wait is waited for; a folder that does not exist yet is held
// through the nearest one above it.
TEST(RootLocksTest, ABriefHolderIsWaitedForAndAMissingRootLocksItsParent) {
  TempDir dir;
  makeDir(dir.at("t"));
  Fs& fs = systemFs();
  std::vector<FolderUse> uses{{dir.at("t/new/deeper"), true, u"the target"}};
  RootLocks holder;
  ASSERT_RC_OK(holder.take(fs, {{dir.at("t"), false, u"a reader"}}));
  RootLocks mine;
  EXPECT_EQ(mine.take(fs, uses, 0), Rc::BadRequest);
  EXPECT_FALSE(mine.held());
  EXPECT_EQ(mine.refusedPath(), dir.at("t/new/deeper"));
  std::thread ender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.release();
  });
  EXPECT_RC(Rc::Ok, mine.take(fs, uses));
  ender.join();
  EXPECT_TRUE(mine.complete());
  // Two uses of one folder are one lock, exclusive when either changes it.
  RootLocks twice;
  mine.release();
  ASSERT_RC_OK(twice.take(fs, {{dir.at("t"), false, u"read"}, {dir.at("t/."), true, u"changed"}}));
  RootLocks reader;
  EXPECT_EQ(reader.take(fs, {{dir.at("t"), false, u"a reader"}}, 0), Rc::BadRequest);
  EXPECT_EQ(reader.refusal(), u"a reader is " + toUtf16(kFolderInUse));
}

// Through the seam: a sync called without its caller's locks takes them itself and is refused
// with the folder named in its failures, before it changes anything; a system without locks (or
// a folder that cannot be locked) lets it run.
TEST(RootLocksTest, ASyncWithoutItsCallersLocksTakesThemOrRunsWhereThereAreNone) {
  TempDir src, trg;
  writeAt(src.at("a.txt"), "a", kOld);
  for (FsStatus lockStatus : {FsStatus::InUse, FsStatus::Unsupported, FsStatus::AccessDenied}) {
    SCOPED_TRACE(fsStatusName(lockStatus));
    FaultFs fs(systemFs());
    TaskState s;
    setUp(s, fs, src.path(), trg.path());
    ASSERT_RC_OK(runTask(TaskId::Compare, s));
    mark(s.firstRoot, kDefaultFlagsSrc, kDefaultFlagsTrg);
    fs.failNth(FsOp::LockFolder, 1, lockStatus, true);
    FailureLog failures;
    SyncRequest request = requestFor(fs, s.currentInput(0), s.currentInput(1), s.firstRoot,
                                     kDefaultFlagsSrc, kDefaultFlagsTrg);
    request.failures = &failures;
    SyncStats ok, failed;
    const int before = fs.mutatingCalls();
    Rc rc = syncAll(request, {ok, failed});
    if (lockStatus == FsStatus::InUse) {
      EXPECT_EQ(rc, Rc::BadRequest);
      EXPECT_EQ(fs.mutatingCalls(), before);
      ASSERT_EQ(failures.size(), 1u);
      EXPECT_EQ(failures[0].path, src.path());  // the first folder it would change
      EXPECT_EQ(failures[0].reason, kFolderInUse);
    } else {
      EXPECT_RC(Rc::Ok, rc);
      EXPECT_TRUE(failures.empty());
      EXPECT_EQ(readFile(trg.at("a.txt")), "a");
    }
  }
}

// With the folders locked every temporary file a comparison meets is a leftover, however young
// (a sync killed a moment ago; sync_safety_test.cpp has the hour's rule where there is no
// lock). One in a folder another run holds for a change (a save's output folder inside the
// target) is that run's and stays.
TEST(RootLocksTest, YoungLeftoversGoWhereTheFoldersAreLockedAndNoOtherRunHoldsThem) {
  TempDir src, trg;
  writeAt(src.at("a.txt"), "a", kOld);
  const std::u16string stale = trg.at("~fw0123456789abcdef.fwtmp");
  const std::u16string fresh = trg.at("~fwfedcba9876543210.fwtmp");
  const std::u16string saving = trg.at("out/~fw00000000000000aa.fwtmp");
  writeAt(stale, "half a file", kOld);
  writeFile(fresh, "a killed run's");
  writeFile(saving, "another run's volume");
  RootLocks save;  // a save into trg/out, running
  ASSERT_RC_OK(save.take(systemFs(), {{trg.at("out"), true, u"out"}}));
  TaskState s;
  setUp(s, systemFs(), src.path(), trg.path());
  ASSERT_RC_OK(compareAndSync(s));
  EXPECT_FALSE(exists(stale));
  EXPECT_FALSE(exists(fresh));
  EXPECT_TRUE(exists(saving));
  EXPECT_EQ(asSet(s.removedLeftovers), (std::set<std::u16string>{stale, fresh}));
  EXPECT_EQ(readFile(trg.at("a.txt")), "a");
  save.release();
  ASSERT_RC_OK(compareAndSync(s));
  EXPECT_FALSE(exists(saving));
}

// A save holds its output's folder: the temporary volumes a killed save left beside it are
// removed at its start (only those older than an hour where there is no lock), and a second
// save into that folder, or a sync of it, waits for the first.
TEST(RootLocksTest, ASaveHoldsItsOutputFolderAndClearsAKilledSavesVolumes) {
  TempDir src, trg, out;
  writeAt(src.at("a.txt"), "a", kOld);
  const std::u16string killed = out.at("~fw0000000000000001.fwtmp");
  const std::u16string old = out.at("~fw0000000000000002.fwtmp");
  for (bool locks : {true, false}) {
    SCOPED_TRACE(locks);
    writeFile(killed, "volume 1 of a killed save");
    writeAt(old, "volume 2", kOld);
    writeFile(out.at("keep.txt"), "k");
    FaultFs fs(systemFs());
    if (!locks) fs.failNth(FsOp::LockFolder, 1, FsStatus::Unsupported, true);
    TaskState s;
    setUp(s, fs, src.path(), trg.path());
    s.saveFileName = out.at("diff.fwd");
    ASSERT_RC_OK(runTask(TaskId::Compare, s));
    mark(s.firstRoot, kDefaultFlagsSrc, kDefaultFlagsTrg);
    ASSERT_RC_OK(runTask(TaskId::SaveDifference, s));
    EXPECT_TRUE(exists(out.at("diff.fwd")));
    EXPECT_EQ(exists(killed), !locks);
    EXPECT_FALSE(exists(old));
    EXPECT_TRUE(exists(out.at("keep.txt")));
    EXPECT_EQ(s.removedLeftovers.size(), locks ? 2u : 1u);
    ASSERT_EQ(fs.deleteFile(out.at("diff.fwd").c_str()), FsStatus::Ok);
  }
  TaskState first;
  setUp(first, systemFs(), src.path(), trg.path());
  first.saveFileName = out.at("one.fwd");
  ASSERT_RC_OK(lockTask(TaskId::SaveDifference, first, &first.locks));
  TaskState second;
  setUp(second, systemFs(), src.path(), trg.path());
  second.saveFileName = out.at("two.fwd");
  EXPECT_EQ(runTask(TaskId::SaveSourceState, second), Rc::BadRequest);
  EXPECT_EQ(second.lockRefusal,
            inUse("the folder of the output file ", out.at("two.fwd")));
  EXPECT_FALSE(exists(out.at("two.fwd")));
  setUp(second, systemFs(), src.path(), out.path());
  EXPECT_EQ(runTask(TaskId::Compare, second), Rc::BadRequest);  // read while it changes
  first.locks.release();
  EXPECT_RC(Rc::Ok, runTask(TaskId::Compare, second));
}

}  // namespace
}  // namespace fw
