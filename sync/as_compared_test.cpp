// A sync acts only on the versions its comparison saw, and a copy is of one version of its
// source: entries that other programs change between the comparison and the sync, or while a
// file is copied or saved, are left alone and named, and the next comparison and sync put them
// in step.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/compare_fixture.h"
#include "platform/long_path.h"
#include "platform/testing/fault_fs.h"
#include "sync/as_compared.h"
#include "sync/save_difference.h"
#include "sync/sync_all.h"
#include "sync/sync_test_support.h"
#include "sync/task.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fw {
namespace {

class AsComparedTest : public CompareFixture {
 protected:
  Rc syncCompared(uint32_t flagsSrc, uint32_t flagsTrg, Fs* fs = nullptr) {
    totals(flagsSrc, flagsTrg);
    ok_.reset();
    failed_.reset();
    failures_.clear();
    SyncRequest request =
        requestFor(fs ? *fs : *fs_, source_, target_, roots_, flagsSrc, flagsTrg);
    request.cancel = &cancel_;
    request.failures = &failures_;
    return syncAll(request, {ok_, failed_});
  }
  Rc sync(uint32_t flagsSrc, uint32_t flagsTrg = 0) {
    Rc rc = compare();
    return rc == Rc::Ok ? syncCompared(flagsSrc, flagsTrg) : rc;
  }
  void expectNothingToDo(uint32_t flagsSrc, uint32_t flagsTrg = 0) {
    ASSERT_RC_OK(compare());
    SideCounts* t = totals(flagsSrc, flagsTrg);
    for (int s = 0; s < 2; ++s)
      EXPECT_EQ(t[s].filesAdd + t[s].filesModify + t[s].filesDelete, 0u) << "side " << s;
  }
  uint32_t failedFiles() const {
    return valueOf(failed_.addedFiles) + valueOf(failed_.modifiedFiles) +
           valueOf(failed_.deletedFiles);
  }
  // The reason the run named path with, or "" when it did not name it.
  std::string reasonFor(const std::u16string& path) const {
    for (const EntryFailure& f : failures_)
      if (f.path == path) return f.reason;
    return "";
  }

  SyncStats ok_, failed_;
  FailureLog failures_;
};

// Edits on either side after the comparison of a default sync: the target file the source was
// to replace, the source file the target was to replace, a target file that was only to take
// the source's attributes. None is lost; each is named; the next run carries the edits over.
TEST_F(AsComparedTest, FilesEditedSinceTheComparisonAreNeitherReplacedNorGivenAttributes) {
  writeAt(src_.at("a.txt"), "source's new a", kT + kHour);
  writeAt(trg_.at("a.txt"), "old a", kT);
  writeAt(src_.at("b.txt"), "old b", kT);
  writeAt(trg_.at("b.txt"), "target's new b", kT + kHour);
  writeAt(src_.at("c.txt"), "same c", kT);
  writeAt(trg_.at("c.txt"), "same c", kT);
  systemFs().setAttributes(src_.at("c.txt").c_str(), attr::Hidden | attr::Archive);
  writeAt(src_.at("d.txt"), "d, synced as compared", kT + kHour);
  writeAt(trg_.at("d.txt"), "old d", kT);
  writeAt(trg_.at("e.txt"), "e, only in the target", kT);
  ASSERT_RC_OK(compare());
  // Same sizes, other bytes and times: the look goes by size and time to the tick.
  writeAt(trg_.at("a.txt"), "edited a", kT + 2 * kHour);
  writeAt(src_.at("b.txt"), "edited b in src", kT + 2 * kHour);
  writeAt(trg_.at("c.txt"), "edited", kT + 2 * kHour);
  setModified(trg_.at("e.txt"), kT + 1);  // only the time moved, by a tick

  ASSERT_RC_OK(syncCompared(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_EQ(readFile(trg_.at("a.txt")), "edited a");
  EXPECT_EQ(readFile(src_.at("b.txt")), "edited b in src");
  EXPECT_EQ(readFile(trg_.at("c.txt")), "edited");
  EXPECT_EQ(readFile(trg_.at("d.txt")), "d, synced as compared");
  EXPECT_FALSE(exists(src_.at("e.txt")));  // its copy's source is not the version compared
  EXPECT_EQ(failedFiles(), 4u);
  EXPECT_EQ(failures_.size(), 4u);
  EXPECT_EQ(reasonFor(trg_.at("e.txt")), kChangedSinceComparison);
  EXPECT_EQ(reasonFor(trg_.at("a.txt")), kChangedSinceComparison);
  EXPECT_EQ(reasonFor(src_.at("b.txt")), kChangedSinceComparison);
  EXPECT_EQ(reasonFor(trg_.at("c.txt")), kChangedSinceComparison);
  EXPECT_FALSE(hasTemporaryFile(trg_.path()));
  EXPECT_FALSE(hasTemporaryFile(src_.path()));

  // Compared again, the edits are the newer versions and travel.
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_EQ(failures_.size(), 0u);
  EXPECT_EQ(readFile(src_.at("a.txt")), "edited a");
  EXPECT_EQ(readFile(trg_.at("b.txt")), "edited b in src");
  EXPECT_EQ(readFile(src_.at("c.txt")), "edited");
  EXPECT_EQ(readFile(src_.at("e.txt")), "e, only in the target");
  expectNothingToDo(kDefaultFlagsSrc, kDefaultFlagsTrg);
}

// A mirror deletes what the target alone had when it was compared, entry by entry: a file
// edited since, a file that appeared in a folder to be deleted and a folder that became a file
// stay, with the folders that hold them; the rest goes.
TEST_F(AsComparedTest, AMirrorDeletesOnlyTheEntriesItComparedAndKeepsWhatChangedOrAppeared) {
  writeAt(src_.at("keep.txt"), "keep", kT);
  writeAt(trg_.at("keep.txt"), "keep", kT);
  writeAt(trg_.at("gone.txt"), "goes", kT);
  writeAt(trg_.at("edited.txt"), "goes unless edited", kT);
  writeAt(trg_.at("old/1.txt"), "goes", kT);
  writeAt(trg_.at("old/2.txt"), "two", kT);
  writeAt(trg_.at("old/deep/3.txt"), "goes", kT);
  writeAt(trg_.at("fresh/a.txt"), "goes", kT);
  writeAt(trg_.at("swapped/x.txt"), "goes", kT);
  writeAt(trg_.at("whole/y.txt"), "goes", kT);
  ASSERT_RC_OK(compare());
  writeAt(trg_.at("edited.txt"), "edited after the comparison", kT + kHour);
  writeAt(trg_.at("old/2.txt"), "two, edited", kT + kHour);
  writeAt(trg_.at("fresh/late.txt"), "appeared after the comparison", kT);
  removeTree(trg_.at("swapped"));  // a folder that is a file now is not entered
  writeAt(trg_.at("swapped"), "a file where the folder was", kT);
  ASSERT_RC_OK(syncCompared(kMirror, 0));
  EXPECT_EQ(readFile(trg_.at("keep.txt")), "keep");
  EXPECT_FALSE(exists(trg_.at("gone.txt")));
  EXPECT_EQ(readFile(trg_.at("edited.txt")), "edited after the comparison");
  EXPECT_FALSE(exists(trg_.at("old/1.txt")));
  EXPECT_FALSE(exists(trg_.at("old/deep")));
  EXPECT_EQ(readFile(trg_.at("old/2.txt")), "two, edited");
  EXPECT_FALSE(exists(trg_.at("fresh/a.txt")));
  EXPECT_EQ(readFile(trg_.at("fresh/late.txt")), "appeared after the comparison");
  EXPECT_EQ(readFile(trg_.at("swapped")), "a file where the folder was");
  EXPECT_FALSE(exists(trg_.at("whole")));
  EXPECT_EQ(reasonFor(trg_.at("edited.txt")), kChangedSinceComparison);
  EXPECT_EQ(reasonFor(trg_.at("old/2.txt")), kChangedSinceComparison);
  EXPECT_EQ(reasonFor(trg_.at("fresh")), kChangedSinceComparison);
  EXPECT_EQ(reasonFor(trg_.at("swapped")), kChangedSinceComparison);
  EXPECT_EQ(reasonFor(trg_.at("old")), "");  // left for what is named inside it
  EXPECT_EQ(failures_.size(), 4u);
  // Two files, the folder that holds a new one, the file the swapped folder held.
  EXPECT_EQ(failedFiles(), 4u);

  ASSERT_RC_OK(sync(kMirror));
  EXPECT_EQ(failures_.size(), 0u);
  expectNothingToDo(kMirror);
  EXPECT_EQ(namesIn(trg_.path()), std::set<std::u16string>{u"keep.txt"});
}

#ifndef _WIN32  // Windows lets no other program write a file while it is open for reading
// A source file written while it is copied is not copied: rewritten in place with the same
// size and then given its old time back (as a copy that keeps times does), only its change
// time tells. The old destination stays; the next run copies the version that stays put.
TEST_F(AsComparedTest, ASourceWrittenWhileItIsCopiedIsNotCopiedEvenWithItsOldTimeBack) {
  std::string first = noise(3 * kCopyBlockSize, 1), second = noise(3 * kCopyBlockSize, 2);
  writeAt(src_.at("big.bin"), first, kT + kHour);
  writeAt(trg_.at("big.bin"), "old", kT);
  ASSERT_RC_OK(compare());
  MutateAtFs fs(systemFs());
  fs.at(FsOp::Read, 2, [&] {
    int fd = open(toUtf8(src_.at("big.bin")).c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, second.data(), second.size(), 0), static_cast<ssize_t>(second.size()));
    close(fd);
    setModified(src_.at("big.bin"), kT + kHour);
  });
  ASSERT_RC_OK(syncCompared(kMirror, 0, &fs));
  EXPECT_EQ(readFile(trg_.at("big.bin")), "old");
  EXPECT_EQ(reasonFor(src_.at("big.bin")), kChangedWhileCopied);
  EXPECT_EQ(valueOf(failed_.modifiedFiles), 1u);
  EXPECT_FALSE(hasTemporaryFile(trg_.path()));

  ASSERT_RC_OK(sync(kMirror));
  EXPECT_EQ(failures_.size(), 0u);
  EXPECT_EQ(readFile(trg_.at("big.bin")), second);
}

// A file still being written when the comparison saw it and finished before its copy began
// (then stamped with an old time, as unpacking does) is not the version compared: it is not
// copied cut short, and nothing copies the short version back over it later.
TEST_F(AsComparedTest, AFileFinishedAfterTheComparisonIsNotCopiedShortAndNeverComesBack) {
  writeAt(src_.at("unpacked.bin"), noise(1000, 3), kT + 5 * kHour);  // being written
  ASSERT_RC_OK(compare());
  std::string whole = noise(200000, 3);
  writeAt(src_.at("unpacked.bin"), whole, kT);  // finished, and stamped with the archive's time
  ASSERT_RC_OK(syncCompared(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_FALSE(exists(trg_.at("unpacked.bin")));
  EXPECT_EQ(reasonFor(src_.at("unpacked.bin")), kChangedSinceComparison);
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg));
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_EQ(readFile(src_.at("unpacked.bin")), whole);
  EXPECT_EQ(readFile(trg_.at("unpacked.bin")), whole);
}

// A save of a difference stores one version of every file or fails naming it: never a mix.
TEST_F(AsComparedTest, ASaveFailsNamingAFileWrittenWhileItIsReadAndWritesNothing) {
  writeAt(src_.at("big.bin"), noise(3 * kCopyBlockSize, 4), kT);
  writeAt(src_.at("small.txt"), "small", kT);
  ASSERT_RC_OK(compare());
  mark(roots_, kMirror, 0);
  TempDir transfer;
  std::u16string diff = transfer.at("d.fwd");
  MutateAtFs fs(systemFs());
  fs.at(FsOp::Read, 2, [&] {
    int fd = open(toUtf8(src_.at("big.bin")).c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "torn", 4, 100), 4);
    close(fd);
    setModified(src_.at("big.bin"), kT);
  });
  SyncRequest request = requestFor(fs, source_, target_, roots_, kMirror, 0);
  std::u16string failedEntry;
  EXPECT_EQ(saveDifference(request, {ok_, failed_}, diff.c_str(), kNoSplit, &failedEntry),
            Rc::Failed);
  EXPECT_EQ(failedEntry, src_.at("big.bin"));
  EXPECT_FALSE(exists(diff));
  EXPECT_TRUE(namesIn(transfer.path()).empty());
  // One changed since the comparison fails the same way, before any of it is stored.
  writeAt(src_.at("small.txt"), "SMALL", kT);
  setModified(src_.at("small.txt"), kT + 1);
  request.fs = &systemFs();
  EXPECT_EQ(saveDifference(request, {ok_, failed_}, diff.c_str(), kNoSplit, &failedEntry),
            Rc::Failed);
  EXPECT_EQ(failedEntry, src_.at("small.txt"));
  EXPECT_FALSE(exists(diff));
}

// Another thread writes into a real file for as long as the copy runs: no copy that passes
// holds data of two versions; a copy that saw the writing fails and leaves nothing.
TEST_F(AsComparedTest, ACopyRacingARealWriterFailsAndLeavesTheOldFile) {
  const size_t size = 4u << 20;
  std::u16string from = src_.at("live.bin"), to = trg_.at("live.bin");
  writeFile(from, std::string(size, 'a'));
  // A reader that gives up the processor between its blocks, so that on a busy machine the
  // writer does get to run during the copy.
  class SlowReadFs : public ForwardingFs {
   public:
    using ForwardingFs::ForwardingFs;
    FsStatus read(FileHandle f, void* b, uint32_t n, uint32_t* got) override {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      return base_.read(f, b, n, got);
    }
  } slow(systemFs());
  int detected = 0;
  for (int attempt = 0; attempt < 10 && detected == 0; ++attempt) {
    writeAt(to, "old", kT);
    std::atomic<bool> stop{false}, started{false};
    std::thread writer([&] {
      int fd = open(toUtf8(from).c_str(), O_WRONLY);
      if (fd < 0) return;
      std::string block(65536, static_cast<char>('b' + attempt));
      for (off_t at = 0; !stop; at = (at + 65536) % static_cast<off_t>(size)) {
        if (pwrite(fd, block.data(), block.size(), at) < 0) break;
        started = true;
      }
      close(fd);
    });
    while (!started) std::this_thread::yield();
    CopyOutcome outcome;
    Rc rc = copyFile(slow, to.c_str(), from.c_str(), attr::Archive, {}, &outcome);
    stop = true;
    writer.join();
    if (rc == Rc::Ok) continue;  // the writer was not scheduled during the copy
    EXPECT_EQ(rc, Rc::Failed);
    EXPECT_STREQ(outcome.changed, kChangedWhileCopied);
    EXPECT_TRUE(outcome.changedSource);
    EXPECT_TRUE(readFile(to) == "old");
    EXPECT_FALSE(hasTemporaryFile(trg_.path()));
    ++detected;
  }
  EXPECT_EQ(detected, 1);
}
#endif

// The stamp after the read must be had: a copy whose source cannot be examined again fails
// and keeps the old destination.
TEST_F(AsComparedTest, ACopyWhoseSourceCannotBeStampedAgainKeepsTheOldDestination) {
  writeAt(src_.at("f.txt"), "new", kT + kHour);
  writeAt(trg_.at("f.txt"), "old", kT);
  ASSERT_RC_OK(compare());
  FaultFs fs(systemFs());
  fs.failNth(FsOp::GetFileStamp, 2, FsStatus::IoError);
  ASSERT_RC_OK(syncCompared(kMirror, 0, &fs));
  EXPECT_EQ(readFile(trg_.at("f.txt")), "old");
  EXPECT_EQ(failedFiles(), 1u);
  EXPECT_EQ(failures_.size(), 1u);
  EXPECT_FALSE(hasTemporaryFile(trg_.path()));
}

// Applying a difference: a target file edited after the comparison of the difference against
// it is not replaced, and is named.
class AsComparedApplyTest : public ::testing::Test {
 protected:
  TempDir a_, b_, transfer_;
};

TEST_F(AsComparedApplyTest, AnApplyLeavesATargetFileEditedSinceItsComparison) {
  writeAt(a_.at("f.txt"), "from a", kT + kHour);
  writeAt(a_.at("g.txt"), "g from a", kT + kHour);
  writeAt(b_.at("f.txt"), "old", kT);
  writeAt(b_.at("g.txt"), "old g", kT);
  TaskState save;
  save.fs = &systemFs();
  save.inputs[0][0].roots = {a_.path()};
  save.inputs[1][0].roots = {b_.path()};
  save.settings.flagsSrc = kMirror;
  save.settings.flagsTrg = 0;
  ASSERT_RC_OK(runTask(TaskId::Compare, save));
  mark(save.firstRoot, kMirror, 0);
  save.saveFileName = transfer_.at("d.fwd");
  ASSERT_RC_OK(runTask(TaskId::SaveDifference, save));

  TaskState apply;
  apply.fs = &systemFs();
  apply.kind[0] = SideKind::SavedDifference;
  apply.inputs[0][2] = SideInput{{a_.path()}, transfer_.at("d.fwd")};
  apply.inputs[1][0].roots = {b_.path()};
  apply.settings.flagsSrc = kMirror;
  apply.settings.flagsTrg = 0;
  ASSERT_RC_OK(runTask(TaskId::Compare, apply));
  mark(apply.firstRoot, kMirror, 0);
  MutateAtFs fs(systemFs());
  fs.at(FsOp::OpenRead, 1, [&] { writeAt(b_.at("f.txt"), "edited on b", kT + 2 * kHour); });
  apply.fs = &fs;
  ASSERT_RC_OK(runTask(TaskId::Sync, apply));
  EXPECT_EQ(readFile(b_.at("f.txt")), "edited on b");
  EXPECT_EQ(readFile(b_.at("g.txt")), "g from a");
  ASSERT_EQ(apply.failures.size(), 1u);
  EXPECT_EQ(apply.failures[0].path, b_.at("f.txt"));
  EXPECT_EQ(apply.failures[0].reason, kChangedSinceComparison);
  EXPECT_EQ(valueOf(apply.failedStats.modifiedFiles), 1u);
  EXPECT_FALSE(hasTemporaryFile(b_.path()));
}

}  // namespace
}  // namespace fw
