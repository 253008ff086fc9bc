// Saving a difference and applying it: the round trip between two "machines", split
// volumes, damaged and hostile files, full disks and cancels.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/compare_fixture.h"
#include "formats/compressed_writer.h"
#include "formats/difference_check.h"
#include "formats/state_file.h"
#include "platform/file_time.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/wine.h"
#include "sync/apply_difference.h"
#include "sync/file_ops.h"
#include "sync/save_difference.h"
#include "sync/sync_all.h"
#include "sync/sync_walk.h"
#include "sync/sync_test_support.h"
#include "sync/task.h"

namespace fw {
namespace {

// Everything below a folder: per relative path, what a byte-for-byte comparison looks at.
void describe(const std::u16string& folder, const std::u16string& relative,
              std::map<std::u16string, std::string>* out) {
  Fs& sys = systemFs();
  std::u16string base = relative.empty() ? folder : folder + kPathSeparator + relative;
  std::u16string pattern = base + kPathSeparator + u"*";
  FindHandle h;
  FindEntry e;
  if (sys.findFirst(pattern.c_str(), &h, &e) != FsStatus::Ok) return;
  do {
    std::u16string name = e.name;
    if (name == u"." || name == u"..") continue;
    std::u16string rel = relative.empty() ? name : relative + u'/' + name;
    std::u16string full = base + kPathSeparator + name;
    if (e.attributes & attr::Directory) {
      (*out)[rel] = "folder";
      describe(folder, rel, out);
    } else {
      std::string content = readFile(full);
      (*out)[rel] = std::to_string(e.modified) + (e.attributes & attr::ReadOnly ? " ro " : " rw ") +
                    std::to_string(content.size()) + " bytes, hash " +
                    std::to_string(std::hash<std::string>{}(content));
    }
  } while (sys.findNext(h, &e) == FsStatus::Ok);
  sys.findClose(h);
}

std::map<std::u16string, std::string> contentsOf(const std::u16string& folder) {
  std::map<std::u16string, std::string> out;
  describe(folder, u"", &out);
  return out;
}

bool anyTemporaryFile(const std::map<std::u16string, std::string>& contents) {
  for (const auto& [path, what] : contents) {
    size_t slash = path.rfind(u'/');
    if (isTemporaryName(path.c_str() + (slash == std::u16string::npos ? 0 : slash + 1)))
      return true;
  }
  return false;
}

// A difference file written by hand: the tree section's inflated bytes, then the data
// section's.
Rc writeDifference(const std::u16string& path, const std::string& tree, const std::string& data) {
  std::unique_ptr<CompressedWriter> w;
  Rc rc = CompressedWriter::create(systemFs(), FileKind::DifferenceFile, path.c_str(), 0, kNoSplit,
                                   &w);
  if (rc == Rc::Ok) rc = w->openVolume();
  if (rc == Rc::Ok) rc = w->beginStream();
  if (rc == Rc::Ok) rc = w->writeBytes(tree.data(), tree.size());
  if (rc == Rc::Ok) rc = w->finishStream();
  if (rc == Rc::Ok) rc = w->recordTreeEnd();
  if (rc == Rc::Ok) rc = w->beginStream();
  if (rc == Rc::Ok) rc = w->writeBytes(data.data(), data.size());
  if (rc == Rc::Ok) rc = w->finishStream();
  if (rc == Rc::Ok) rc = w->closeVolume(true);
  if (rc == Rc::Ok) rc = w->commit();
  return rc;
}

std::string entry(uint32_t root, const std::string& path, const std::string& contents = "") {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(root >> (8 * i));
  return s + path + std::string(1, '\0') + contents;
}

// The two machines' program state, driven through runTask as the windows would.
class RoundTripTest : public ::testing::Test {
 protected:
  RoundTripTest() {
    a_.fs = &systemFs();
    b_.fs = &systemFs();
  }
  // The File Tree window's marking, with the settings' masks.
  static void markFor(TaskState& s) {
    mark(s.firstRoot, s.settings.flagsSrc, s.settings.flagsTrg);
  }

  TempDir folderA_, folderB_, transfer_;
  TaskState a_, b_;
};

TEST_F(RoundTripTest, StateOfBThenDifferenceFromAAppliedToBMakesBEqualToA) {
  // Machine A's folder: new files and folders, changed files, a big file for several volumes.
  writeAt(folderA_.at("same.txt"), "unchanged", kT);
  writeAt(folderA_.at("changed.txt"), "the new version", kT + kHour);
  writeAt(folderA_.at("older-on-a.txt"), "older but wins with mirror masks", kT);
  writeAt(folderA_.at("Docs/Report.TXT"), "same bytes", kT);
  writeAt(folderA_.at("new/deep/er/file.bin"), noise(3 * 1048576 + 12345, 1), kT);
  writeAt(folderA_.at("new/small.txt"), "s", kT);
  writeAt(folderA_.at("exact.bin"), noise(65536, 2), kT);
  writeAt(folderA_.at("empty.txt"), "", kT);
  makeDir(folderA_.at("empty-folder"));
  makeDir(folderA_.at("new/empty-inside"));
  systemFs().setAttributes(folderA_.at("Docs/Report.TXT").c_str(), attr::ReadOnly);
  // Machine B's folder before.
  writeAt(folderB_.at("same.txt"), "unchanged", kT);
  writeAt(folderB_.at("changed.txt"), "old", kT);
  writeAt(folderB_.at("older-on-a.txt"), "newer on b", kT + kHour);
  writeAt(folderB_.at("Docs/report.txt"), "same bytes", kT);
  writeAt(folderB_.at("only-on-b.txt"), "goes", kT);
  writeAt(folderB_.at("gone/inside.txt"), "goes too", kT);

  std::u16string state = transfer_.at("b.fws");
  std::u16string diff = transfer_.at("a.fwd");

  // On B: compare (target only) and save the target's state.
  b_.inputs[1][0].roots = {folderB_.path()};
  ASSERT_RC_OK(runTask(TaskId::Compare, b_));
  b_.saveFileName = state;
  ASSERT_RC_OK(runTask(TaskId::SaveTargetState, b_));

  // On A: compare the folder against B's state and save the difference in 1 MiB volumes.
  a_.inputs[0][0].roots = {folderA_.path()};
  a_.kind[1] = SideKind::SavedState;
  a_.inputs[1][1] = SideInput{{folderB_.path()}, state};
  a_.settings.flagsSrc = kMirror;
  a_.settings.flagsTrg = 0;
  a_.settings.split = 1;
  a_.settings.splitSize = 1;
  ASSERT_RC_OK(runTask(TaskId::Compare, a_));
  markFor(a_);
  a_.saveFileName = diff;
  ASSERT_RC_OK(runTask(TaskId::SaveDifference, a_));
  EXPECT_TRUE(exists(transfer_.at("a.001.fwd")));
  EXPECT_TRUE(exists(transfer_.at("a.002.fwd")));
  EXPECT_EQ(valueOf(a_.okStats.addedFiles), 6u);  // every new or changed file, empty ones too

  // Back on B: compare the difference against the folder and sync.
  b_.kind[0] = SideKind::SavedDifference;
  b_.inputs[0][2] = SideInput{{folderA_.path()}, transfer_.at("a.002.fwd")};  // any volume
  b_.settings.flagsSrc = kMirror;
  b_.settings.flagsTrg = 0;
  ASSERT_RC_OK(runTask(TaskId::Compare, b_));
  markFor(b_);
  ASSERT_RC_OK(runTask(TaskId::Sync, b_));

  EXPECT_EQ(contentsOf(folderB_.path()), contentsOf(folderA_.path()));
  EXPECT_EQ(valueOf(b_.failedStats.addedFiles) + valueOf(b_.failedStats.modifiedFiles) +
                valueOf(b_.failedStats.deletedFiles),
            0u);
  // Each file counted once: same.txt untouched; the rest added, modified or deleted.
  EXPECT_EQ(valueOf(b_.okStats.untouchedFiles), 1u);
  EXPECT_EQ(valueOf(b_.okStats.addedFiles), 4u);
  EXPECT_EQ(valueOf(b_.okStats.modifiedFiles), 3u);  // changed, older-on-a, Report.TXT's case
  EXPECT_EQ(valueOf(b_.okStats.deletedFiles), 2u);
}

TEST_F(RoundTripTest, ASyncIsRefusedForSavedStateSourcesAndSavedTargets) {
  writeAt(folderA_.at("f.txt"), "f", kT);
  a_.inputs[0][0].roots = {folderA_.path()};
  a_.inputs[1][0].roots = {folderB_.path()};
  ASSERT_RC_OK(runTask(TaskId::Compare, a_));
  markFor(a_);
  FaultFs fs(systemFs());
  a_.fs = &fs;
  a_.kind[0] = SideKind::SavedState;
  EXPECT_EQ(runTask(TaskId::Sync, a_), Rc::BadRequest);
  a_.kind[0] = SideKind::FileSystem;
  a_.kind[1] = SideKind::SavedDifference;
  EXPECT_EQ(runTask(TaskId::Sync, a_), Rc::BadRequest);
  a_.kind[1] = SideKind::SavedState;
  EXPECT_EQ(runTask(TaskId::Sync, a_), Rc::BadRequest);
  EXPECT_EQ(fs.mutatingCalls(), 0);
  a_.kind[1] = SideKind::FileSystem;
  a_.cancelRequested = 1;  // a cancel raised before the start stays raised: nothing is done
  runTask(TaskId::Sync, a_);
  EXPECT_FALSE(exists(folderB_.at("f.txt")));
  a_.cancelRequested = 0;  // cleared by the caller before it starts the task
  ASSERT_RC_OK(runTask(TaskId::Sync, a_));
  EXPECT_EQ(readFile(folderB_.at("f.txt")), "f");
  EXPECT_EQ(runTask(static_cast<TaskId>(1234), a_), Rc::Ok);
}

// One comparison of a source folder against a target folder, whose difference is saved to
// and applied from a file.
class DifferenceTest : public CompareFixture {
 protected:
  Rc compareAndMark(uint32_t flagsSrc = kMirror, uint32_t flagsTrg = 0) {
    Rc rc = compare();
    if (rc == Rc::Ok) mark(roots_, flagsSrc, flagsTrg);
    return rc;
  }
  Rc save(int32_t splitMiB = kNoSplit, Fs* fs = nullptr, uint32_t flagsSrc = kMirror) {
    ok_.reset();
    SyncRequest request =
        requestFor(fs ? *fs : systemFs(), source_, target_, roots_, flagsSrc, 0);
    request.cancel = &cancel_;
    return saveDifference(request, {ok_, failed_}, diff_.c_str(), splitMiB);
  }
  Rc apply(Fs* fs = nullptr, uint32_t flagsSrc = kMirror, uint32_t flagsTrg = 0,
           ApplyMode mode = ApplyMode::OnePass) {
    ok_.reset();
    failed_.reset();
    SideInput fromDiff{source_.roots, diff_};
    SyncRequest request =
        requestFor(fs ? *fs : systemFs(), fromDiff, target_, roots_, flagsSrc, flagsTrg);
    request.cancel = &cancel_;
    request.windowsNames = windowsNames_;
    return applyDifference(request, {ok_, failed_}, mode);
  }
  SyncRequest saveRequest(Fs& fs) {
    SyncRequest request = requestFor(fs, source_, target_, roots_, kMirror, 0);
    request.cancel = &cancel_;
    return request;
  }
  // The sync of machine B: the difference as the source of a new comparison.
  Rc syncFromDifference(uint32_t flagsSrc = kMirror, uint32_t flagsTrg = 0,
                        const char16_t* ignore = kDefaultIgnoreList,
                        ApplyMode mode = ApplyMode::OnePass, Fs* fs = nullptr) {
    SideInput fromDiff{{src_.path()}, diff_};
    CompareContext ctx;
    ctx.fs = fs_;
    ctx.pool = &pool_;
    ctx.ignoreList = ignore;
    ctx.cancel = &cancel_;
    SavedSides saved(ctx);
    Rc rc = compareSides(&fromDiff, &target_, &roots_, ctx);
    if (rc != Rc::Ok) return rc;
    mark(roots_, flagsSrc, flagsTrg);
    ok_.reset();
    failed_.reset();
    failures_.clear();
    SyncRequest request =
        requestFor(fs ? *fs : systemFs(), fromDiff, target_, roots_, flagsSrc, flagsTrg);
    request.cancel = &cancel_;
    request.failures = &failures_;
    request.windowsNames = windowsNames_;
    if (mode == ApplyMode::OnePass && !fs)  // what a sync from a difference does
      return syncAll(request, {ok_, failed_});
    return applySavedDifference(request, {ok_, failed_}, mode);
  }

  TempDir transfer_;
  FailureLog failures_;
  std::u16string diff_ = transfer_.at("d.fwd");
  SyncStats ok_, failed_;
  bool windowsNames_ = kWindowsNames;
};

TEST_F(DifferenceTest, TheFolderPassCountsNoFileTwiceAndFollowsOnlyFor0x84) {
  writeAt(src_.at("same.txt"), "same", kT);
  writeAt(trg_.at("same.txt"), "same", kT);
  writeAt(src_.at("changed.txt"), "new!", kT + kHour);
  writeAt(trg_.at("changed.txt"), "old", kT);
  writeAt(src_.at("new.txt"), "n", kT);
  writeAt(trg_.at("gone.txt"), "gone", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());

  // Without 0x84 in the mask only the data are applied: gone.txt stays.
  ASSERT_RC_OK(syncFromDifference(0x58, 0));
  EXPECT_EQ(readFile(trg_.at("changed.txt")), "new!");
  EXPECT_EQ(readFile(trg_.at("new.txt")), "n");
  EXPECT_TRUE(exists(trg_.at("gone.txt")));

  writeAt(trg_.at("changed.txt"), "old", kT);  // back to the state the difference was made for
  removeTree(trg_.at("new.txt"));
  ASSERT_RC_OK(syncFromDifference());
  EXPECT_FALSE(exists(trg_.at("gone.txt")));
  EXPECT_EQ(readFile(trg_.at("changed.txt")), "new!");
  EXPECT_EQ(valueOf(ok_.untouchedFiles), 1u);  // same.txt only, not changed.txt again
  EXPECT_EQ(valueOf(ok_.untouchedBytes), 4u);
  EXPECT_EQ(valueOf(ok_.addedFiles), 1u);
  EXPECT_EQ(valueOf(ok_.modifiedFiles), 1u);
  EXPECT_EQ(valueOf(ok_.deletedFiles), 1u);
  EXPECT_EQ(valueOf(ok_.deletedBytes), 3u + 4u);  // the old changed.txt and gone.txt
}

TEST_F(DifferenceTest, ExcludedEntriesAreConsumedAndUntouchedButTheirNewFoldersAppear) {
  writeAt(src_.at("newdir/sub/skip.txt"), "skip", kT);
  writeAt(src_.at("take.txt"), "take", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  node("newdir/sub/skip.txt")->flags |= Excluded;
  ASSERT_RC_OK(apply());
  EXPECT_TRUE(exists(trg_.at("newdir/sub")));
  EXPECT_FALSE(exists(trg_.at("newdir/sub/skip.txt")));
  EXPECT_EQ(readFile(trg_.at("take.txt")), "take");
  EXPECT_EQ(valueOf(ok_.untouchedFiles), 1u);
  EXPECT_EQ(valueOf(ok_.untouchedBytes), 4u);
  EXPECT_EQ(valueOf(ok_.addedFiles), 1u);
}

TEST_F(DifferenceTest, MissingVolumesFailWithTheOpeningsCode) {
  writeAt(src_.at("big.bin"), noise(2 * 1048576 + 500000, 7), kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save(1));
  ASSERT_TRUE(exists(transfer_.at("d.002.fwd")));
  removeTree(transfer_.at("d.001.fwd"));
  EXPECT_EQ(apply(), Rc::CannotOpen);
  EXPECT_EQ(contentsOf(trg_.path()), (std::map<std::u16string, std::string>{}));
}

TEST_F(DifferenceTest, AFailedOrCancelledSaveKeepsTheOldSetAndLeavesNothingElse) {
  // Somewhat less than three volumes' worth: the last, uncut flush may be small.
  writeAt(src_.at("big.bin"), noise(3 * 1048576 - 8192, 8), kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save(1));
  auto old = contentsOf(transfer_.path());
  ASSERT_EQ(old.size(), 3u);  // d.fwd, d.001.fwd, d.002.fwd

  // Cancel once the third volume has been created.
  class CancelAtThirdVolume : public ForwardingFs {
   public:
    CancelAtThirdVolume(Fs& base, CancelFlag& flag) : ForwardingFs(base), flag_(flag) {}
    FsStatus createAlways(const char16_t* p, uint32_t a, FileHandle* f) override {
      if (++created_ == 3) flag_ = 1;
      return base_.createAlways(p, a, f);
    }
    CancelFlag& flag_;
    int created_ = 0;
  } fs(systemFs(), cancel_);
  ASSERT_RC_OK(save(1, &fs));
  EXPECT_EQ(contentsOf(transfer_.path()), old);
  cancel_ = 0;

  // A source file that cannot be opened is named; its folder's path is the source root's.
  FaultFs failing(systemFs());
  failing.failPath(FsOp::OpenRead, u"big.bin", FsStatus::AccessDenied);
  std::u16string entry = u"stale";
  EXPECT_EQ(saveDifference(saveRequest(failing), {ok_, failed_}, diff_.c_str(), 1, &entry),
            Rc::CannotOpen);
  EXPECT_EQ(entry, src_.at("big.bin"));
  EXPECT_EQ(contentsOf(transfer_.path()), old);

  // A full disk is the output's fault: no entry is named.
  failing.clearFaults();
  failing.diskFullAfter(1048576 + 4096);
  EXPECT_EQ(saveDifference(saveRequest(failing), {ok_, failed_}, diff_.c_str(), 1, &entry),
            Rc::CannotWrite);
  EXPECT_EQ(entry, u"");
  EXPECT_EQ(contentsOf(transfer_.path()), old);

  // A rename that fails while the set is put in place (the last volume's, the middle one's,
  // the first one's) puts the old set back, from hard links or, where the file system has
  // none, from copies.
  for (bool links : {true, false}) {
    for (int nth : {1, 2, 3}) {
      failing.clearFaults();
      if (!links) failing.failNth(FsOp::CreateHardLink, 1, FsStatus::Unsupported, true);
      failing.failNth(FsOp::Rename, nth, FsStatus::AccessDenied);
      EXPECT_EQ(save(1, &failing), Rc::CannotWrite) << nth;
      EXPECT_EQ(contentsOf(transfer_.path()), old) << nth << links;
    }
  }
  // A copy that cannot be made (the disk full after the new set's writes) changes nothing.
  failing.clearFaults();
  const int before = failing.calls(FsOp::Write);
  ASSERT_RC_OK(save(1, &failing));  // the same set again, through links
  const int setWrites = failing.calls(FsOp::Write) - before;
  old = contentsOf(transfer_.path());
  failing.failNth(FsOp::CreateHardLink, 1, FsStatus::Unsupported, true);
  failing.failNth(FsOp::Write, setWrites + 1, FsStatus::DiskFull, true);
  EXPECT_EQ(save(1, &failing), Rc::CannotWrite);
  EXPECT_EQ(contentsOf(transfer_.path()), old);
  ASSERT_RC_OK(apply());
  EXPECT_EQ(readFile(trg_.at("big.bin")), noise(3 * 1048576 - 8192, 8));
}

TEST_F(DifferenceTest, ASaveOverALongerSetLeavesOnlyTheNewVolumes) {
  writeAt(src_.at("big.bin"), noise(3 * 1048576 - 8192, 9), kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save(1));
  ASSERT_TRUE(exists(transfer_.at("d.002.fwd")));
  writeAt(transfer_.at("d.004.fwd"), "after a gap", kT);  // not part of the set
  writeAt(src_.at("big.bin"), noise(2 * 1048576 - 8192, 10), kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save(1));
  auto after = contentsOf(transfer_.path());
  std::set<std::u16string> names;
  for (const auto& [name, what] : after) names.insert(name);
  EXPECT_EQ(names, (std::set<std::u16string>{u"d.fwd", u"d.001.fwd", u"d.004.fwd"}));
  ASSERT_RC_OK(apply());
  EXPECT_EQ(readFile(trg_.at("big.bin")), noise(2 * 1048576 - 8192, 10));
}

TEST_F(DifferenceTest, AFileThatChangedSinceTheComparisonFailsTheSave) {
  writeAt(src_.at("f.txt"), "12345", kT);
  ASSERT_RC_OK(compareAndMark());
  writeAt(src_.at("f.txt"), "123456", kT);
  EXPECT_EQ(save(), Rc::Failed);
  writeAt(src_.at("f.txt"), "12345", kT);
  FaultFs fs(systemFs());
  fs.failNth(FsOp::Read, 1, FsStatus::IoError);  // a read error is not the end of the file
  EXPECT_EQ(save(kNoSplit, &fs), Rc::Failed);
}

TEST_F(DifferenceTest, AFullDiskFailsTheApplyAndLeavesEveryOtherFileIntact) {
  for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
    writeAt(src_.at(name), noise(100000, name[0]), kT + kHour);
    writeAt(trg_.at(name), std::string("old ") + name, kT);
  }
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  const auto before = contentsOf(trg_.path());
  for (ApplyMode mode : {ApplyMode::CheckFirst, ApplyMode::OnePass}) {
    bool onePass = mode == ApplyMode::OnePass;
    SCOPED_TRACE(onePass);
    FaultFs fs(systemFs());
    fs.diskFullAfter(150000);
    EXPECT_EQ(apply(&fs, kMirror, 0, mode), Rc::CannotWrite);
    auto after = contentsOf(trg_.path());
    EXPECT_FALSE(anyTemporaryFile(after));
    EXPECT_EQ(after.size(), 3u);
    // Two passes put each file in place as it arrives; one pass puts none before all are in.
    EXPECT_EQ(readFile(trg_.at("a.bin")), onePass ? "old a.bin" : noise(100000, 'a'));
    EXPECT_EQ(readFile(trg_.at("b.bin")), "old b.bin");
    EXPECT_EQ(readFile(trg_.at("c.bin")), "old c.bin");
    if (onePass) {
      EXPECT_EQ(after, before);
    } else {
      EXPECT_EQ(valueOf(ok_.modifiedFiles), 1u);
      EXPECT_EQ(valueOf(failed_.modifiedFiles), 1u);
    }
    writeAt(trg_.at("a.bin"), "old a.bin", kT);
  }
}

std::vector<uint64_t> talliesOf(const SyncStats& s) {
  return {valueOf(s.untouchedFiles), valueOf(s.addedFiles),    valueOf(s.modifiedFiles),
          valueOf(s.deletedFiles),   valueOf(s.untouchedBytes), valueOf(s.addedBytes),
          valueOf(s.deletedBytes)};
}

TEST_F(DifferenceTest, OnePassAndTwoPassAppliesGiveTheSameTreeAndTallies) {
  TempDir second;
  for (const TempDir* t : {&trg_, &second}) {
    writeAt(t->at("same.txt"), "same", kT);
    writeAt(t->at("changed.txt"), "old", kT);
    writeAt(t->at("gone.txt"), "gone", kT);
    writeAt(t->at("gonedir/x.txt"), "x", kT);
  }
  writeAt(src_.at("same.txt"), "same", kT);
  writeAt(src_.at("changed.txt"), "the new one", kT + kHour);
  writeAt(src_.at("new/deep/file.bin"), noise(300000, 4), kT);
  writeAt(src_.at("new/empty.txt"), "", kT);
  makeDir(src_.at("emptynew"));
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());

  ASSERT_RC_OK(syncFromDifference());  // one pass, as a sync does
  auto onePassOk = talliesOf(ok_), onePassFailed = talliesOf(failed_);
  EXPECT_EQ(contentsOf(trg_.path()), contentsOf(src_.path()));
  EXPECT_EQ(onePassOk[1], 2u);  // added: file.bin and empty.txt
  EXPECT_EQ(onePassOk[2], 1u);  // modified: changed.txt
  EXPECT_EQ(onePassOk[3], 2u);  // deleted: gone.txt and gonedir/x.txt
  target_.roots = {second.path()};
  ASSERT_RC_OK(syncFromDifference(kMirror, 0, kDefaultIgnoreList, ApplyMode::CheckFirst));
  EXPECT_EQ(contentsOf(second.path()), contentsOf(trg_.path()));
  EXPECT_EQ(talliesOf(ok_), onePassOk);
  EXPECT_EQ(talliesOf(failed_), onePassFailed);
}

// A split set with files in new folders, applied in one pass: whatever stops it before the
// whole set has proved whole leaves the target exactly as it was.
TEST_F(DifferenceTest, AOnePassApplyThatDoesNotReachTheEndChangesNothing) {
  writeAt(src_.at("a.txt"), "a", kT);
  writeAt(src_.at("changed.txt"), "the new one", kT + kHour);
  writeAt(src_.at("new/deep/big.bin"), noise(2 * 1048576 + 500000, 5), kT);
  makeDir(src_.at("new/empty"));
  writeAt(trg_.at("changed.txt"), "old", kT);
  writeAt(trg_.at("gone.txt"), "gone", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save(1));
  const std::u16string last = transfer_.at("d.002.fwd");
  ASSERT_TRUE(exists(last));
  const std::string lastBytes = readFile(last);
  const auto before = contentsOf(trg_.path());
  auto expectUnchanged = [&](Rc expected, Fs* fs, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(syncFromDifference(kMirror, 0, kDefaultIgnoreList, ApplyMode::OnePass, fs),
              expected);
    EXPECT_EQ(contentsOf(trg_.path()), before);  // no file, folder or temporary file more
    writeFile(last, lastBytes);
    cancel_ = 0;
  };

  std::string damaged = lastBytes;
  damaged[damaged.size() / 2] ^= 0x20;
  writeFile(last, damaged);
  expectUnchanged(Rc::Failed, nullptr, "a damaged last volume");
  ASSERT_EQ(systemFs().deleteFile(last.c_str()), FsStatus::Ok);
  expectUnchanged(Rc::CannotOpen, nullptr, "a missing last volume");
  writeFile(last, lastBytes.substr(0, lastBytes.size() - 100));
  expectUnchanged(Rc::Failed, nullptr, "a cut last volume");
  EXPECT_FALSE(failures_.empty());

  CancelAtWriteFs cancelling(systemFs(), 20, cancel_);
  expectUnchanged(Rc::Ok, &cancelling, "a cancel while big.bin is written");
  FaultFs failing(systemFs());
  failing.failNth(FsOp::Write, 30, FsStatus::IoError);
  expectUnchanged(Rc::CannotWrite, &failing, "a write that fails");
  FaultFs full(systemFs());
  full.reportFreeSpace(1048576);
  full.setLogging(true);
  expectUnchanged(Rc::CannotWrite, &full, "not enough room for the files");
  EXPECT_EQ(full.mutatingCalls(), 0);  // refused before anything was written
  ASSERT_FALSE(failures_.empty());
  EXPECT_NE(failures_.back().reason.find("not enough free space"), std::string::npos);

  ASSERT_RC_OK(syncFromDifference());
  EXPECT_EQ(contentsOf(trg_.path()), contentsOf(src_.path()));
}

#ifndef _WIN32
// A difference carries no permission bits: a replaced file keeps its own, a new file gets the
// umask's default, and each is the owner's alone while it is written.
TEST_F(DifferenceTest, PosixAppliedFilesKeepTheirPredecessorsPermissionsOrGetTheDefault) {
  writeAt(src_.at("script.sh"), "new script", kT + kHour);
  writeAt(trg_.at("script.sh"), "old", kT);
  writeAt(src_.at("key"), "new key", kT + kHour);
  writeAt(trg_.at("key"), "old", kT);
  writeAt(src_.at("added.txt"), "added", kT);
  ASSERT_EQ(chmod(toUtf8(trg_.at("script.sh")).c_str(), 0750), 0);
  ASSERT_EQ(chmod(toUtf8(trg_.at("key")).c_str(), 0600), 0);
  ASSERT_EQ(chmod(toUtf8(src_.at("added.txt")).c_str(), 0600), 0);  // not carried
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  ModeAtWriteFs fs(systemFs());
  mode_t mask = umask(027);
  Rc rc = apply(&fs);
  umask(mask);
  ASSERT_RC_OK(rc);
  EXPECT_EQ(readFile(trg_.at("key")), "new key");
  EXPECT_EQ(modeOf(trg_.at("script.sh")), 0750u);
  EXPECT_EQ(modeOf(trg_.at("key")), 0600u);
  EXPECT_EQ(modeOf(trg_.at("added.txt")), 0640u);
  EXPECT_EQ(fs.modes, std::set<uint32_t>{0600});
}
#endif

TEST_F(DifferenceTest, ACancelWhileApplyingLeavesNoPartialFile) {
  writeAt(src_.at("big.bin"), noise(2000000, 3), kT + kHour);
  writeAt(trg_.at("big.bin"), "old", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  CancelAtWriteFs fs(systemFs(), 3, cancel_);
  ASSERT_RC_OK(apply(&fs));
  auto after = contentsOf(trg_.path());
  EXPECT_EQ(after.size(), 1u);
  EXPECT_EQ(readFile(trg_.at("big.bin")), "old");
}

TEST_F(DifferenceTest, HostileOrDamagedDataSectionsWriteNothingOutsideTheTarget) {
  writeAt(src_.at("dir/a.txt"), "abc", kT);
  writeAt(trg_.at("dir/a.txt"), "old", kT - kHour);
  ASSERT_RC_OK(compareAndMark());
  // The target folder sits inside a parent folder; nothing may appear in the parent.
  TempDir parent;
  std::u16string inner = parent.at("target");
  writeAt(parent.at("target/dir/a.txt"), "old", kT - kHour);
  writeAt(parent.at("victim.txt"), "victim", kT);
  target_.roots = {inner};
  auto before = contentsOf(parent.path());
  std::string tree = std::string(1, '\0') + std::string(1, '\0');  // no names, no records

  struct Case {
    const char* what;
    std::string data;
  } cases[] = {
      {"a parent step", entry(0, "..\\victim.txt", "abc")},
      {"a step inside the path", entry(0, "dir\\..\\..\\victim.txt", "abc")},
      {"an absolute path", entry(0, "\\victim.txt", "abc")},
      {"a forward slash", entry(0, "dir/../../victim.txt", "abc")},
      {"a name not in the tree", entry(0, "dir\\other.txt", "abc")},
      {"a root index beyond the pairs", entry(1, "dir\\a.txt", "abc")},
      {"a stream that ends inside the file", entry(0, "dir\\a.txt", "ab")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_RC_OK(writeDifference(diff_, tree, c.data));
    EXPECT_EQ(apply(), Rc::Failed);
    EXPECT_EQ(contentsOf(parent.path()), before);
  }
  // The same entry, whole, is applied.
  ASSERT_RC_OK(writeDifference(diff_, tree, entry(0, "dir\\a.txt", "abc")));
  ASSERT_RC_OK(apply());
  EXPECT_EQ(readFile(parent.at("target/dir/a.txt")), "abc");
  EXPECT_EQ(modifiedOf(parent.at("target/dir/a.txt")), kT);
}

TEST_F(DifferenceTest, ADataStreamThatIsNotWholeChangesNothing) {
  writeAt(src_.at("dir/a.txt"), "the new contents", kT);
  writeAt(trg_.at("dir/a.txt"), "old", kT - kHour);
  writeAt(src_.at("b.txt"), "b", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  const std::string good = readFile(diff_);
  const auto before = contentsOf(trg_.path());
  std::string flipped = good;
  flipped.back() ^= 0x01;  // the data section's checksum, read after every file
  std::string cut = good.substr(0, good.size() - 1);
  std::string longer = good + "x";
  std::string unmarked = good;
  unmarked[14] &= ~kLastVolume;
  for (const std::string& bytes : {flipped, cut, longer, unmarked}) {
    writeFile(diff_, bytes);
    // A volume not flagged last promises another one, which is not there: the one-pass apply
    // looks for every volume first.
    EXPECT_EQ(apply(), bytes == unmarked ? Rc::CannotOpen : Rc::Failed);
    EXPECT_EQ(apply(nullptr, kMirror, 0, ApplyMode::CheckFirst), Rc::Failed);
    EXPECT_EQ(contentsOf(trg_.path()), before);
    DifferenceCheck check;
    EXPECT_EQ(verifyDifference(systemFs(), diff_.c_str(), &check), Rc::Failed);
  }
  writeFile(diff_, good);
  ASSERT_RC_OK(apply());
  EXPECT_EQ(readFile(trg_.at("dir/a.txt")), "the new contents");
}

TEST_F(DifferenceTest, AFileNamedTwiceInTheDataSectionIsRefused) {
  writeAt(src_.at("empty"), "", kT);
  writeAt(src_.at("dir/a.txt"), "abc", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  // The source's tree section, with a data section that repeats one entry.
  auto record = [](const std::string& name, uint64_t modified, uint64_t size) {
    std::string r = name + std::string(1, '\0');
    for (uint64_t v : {modified, size})
      for (int i = 0; i < 8; ++i) r += static_cast<char>(v >> (8 * i));
    return r + std::string(1, '\0');
  };
  const std::string z(1, '\0');
  std::string tree = "R" + z + z + record("dir", 0, 0) + record("a.txt", kT, 3) + z +
                     record("empty", kT, 0) + z;
  std::string data;
  for (int i = 0; i < 1000; ++i) data += entry(0, "empty");
  for (const std::string& repeated : {data, entry(0, "dir\\a.txt", "abc") +
                                                entry(0, "dir\\a.txt", "abc")}) {
    ASSERT_RC_OK(writeDifference(diff_, tree, repeated));
    EXPECT_EQ(apply(), Rc::Failed);
    EXPECT_LE(valueOf(ok_.addedFiles), 1u);
    DifferenceCheck check;
    EXPECT_EQ(verifyDifference(systemFs(), diff_.c_str(), &check), Rc::Failed);
    EXPECT_NE(check.fault.find("comes twice"), std::string::npos) << check.fault;
  }
}

// Values a difference carries that no file here can hold: attribute bits that no file system
// has are damage; a time past what a file here keeps is applied as the nearest it keeps, and
// what a sync set from it compares clean instead of changed again and again.
TEST_F(DifferenceTest, ValuesNoFileHereHoldsAreRefusedOrAppliedAsKeptAndCompareClean) {
  auto record = [](const std::string& name, uint64_t modified, uint64_t size, char attributes) {
    std::string r = name + std::string(1, '\0');
    for (uint64_t v : {modified, size})
      for (int i = 0; i < 8; ++i) r += static_cast<char>(v >> (8 * i));
    return r + std::string(1, attributes);
  };
  const std::string z(1, '\0');
#ifndef _WIN32  // ext4's range; Windows keeps every FILETIME up to kMaxFileTime
  // The target's copy as a sync sets it, through the Fs (setFileTimes), from such a time.
  for (uint64_t time : {kMaxFileTime, kLastKeptFileTime + kTicksPerSecond, uint64_t{1}}) {
    writeAt(trg_.at("far.txt"), "abc", time);
    ASSERT_RC_OK(writeDifference(diff_, "R" + z + z + record("far.txt", time, 3, 1) + z,
                                 entry(0, "far.txt", "abc")));
    ASSERT_EQ(syncFromDifference(), Rc::Ok) << time;
    ASSERT_NE(roots_->children, nullptr);
    EXPECT_EQ(roots_->children->flags & (NewerInSource | NewerInTarget | SizeDiffers), 0u)
        << time;
    EXPECT_EQ(valueOf(ok_.modifiedFiles) + valueOf(failed_.modifiedFiles), 0u) << time;
  }
#endif
  for (char attributes : {'\x10', '\x20', '\x80'}) {
    removeTree(trg_.at("odd.txt"));
    ASSERT_RC_OK(writeDifference(diff_, "R" + z + z + record("odd.txt", kT, 3, attributes) + z,
                                 entry(0, "odd.txt", "abc")));
    EXPECT_RC(Rc::Failed, syncFromDifference());
    EXPECT_FALSE(exists(trg_.at("odd.txt")));
  }
}

TEST_F(DifferenceTest, NoMatchingCategoryGivesAnEmptyDataSection) {
  writeAt(src_.at("f.txt"), "f", kT);
  ASSERT_RC_OK(compareAndMark(0, 0));
  ASSERT_RC_OK(save(kNoSplit, nullptr, 0));
  EXPECT_EQ(valueOf(ok_.addedFiles), 0u);
  ASSERT_RC_OK(apply());
  EXPECT_FALSE(exists(trg_.at("f.txt")));
}

TEST_F(DifferenceTest, AnEntryTheReceivingSideIgnoresIsReadPastNotWrittenAndNoFailure) {
  writeAt(src_.at("a.txt"), "a", kT);
  writeAt(src_.at("m.log"), "log", kT);
  writeAt(src_.at("logs/x.log"), "x", kT);
  writeAt(src_.at("z.txt"), "z", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  ASSERT_RC_OK(syncFromDifference(kMirror, 0, u"*.log"));
  EXPECT_EQ(readFile(trg_.at("a.txt")), "a");
  EXPECT_EQ(readFile(trg_.at("z.txt")), "z");  // the entries after the ignored ones still come
  EXPECT_FALSE(exists(trg_.at("m.log")));
  EXPECT_FALSE(exists(trg_.at("logs/x.log")));
  // What this side asked to leave out is no failure, nor counted as left alone.
  EXPECT_EQ(talliesOf(failed_), talliesOf(SyncStats{}));
  EXPECT_TRUE(failures_.empty());
  EXPECT_EQ(valueOf(ok_.addedFiles), 2u);
  EXPECT_EQ(valueOf(ok_.untouchedFiles), 0u);
}

// Whatever stops a one-pass apply, before or while the set is put in place, leaves the target
// as it was, and the entry that stopped it is named with the file system's reason.
TEST_F(DifferenceTest, AnyFailureOfAOnePassApplyChangesNothingAndNamesTheEntry) {
  writeAt(src_.at("a.txt"), "new a", kT + kHour);
  writeAt(src_.at("c.txt"), "new c", kT + kHour);
  writeAt(src_.at("d.txt"), "new d", kT);
  writeAt(src_.at("new/b.txt"), "new b", kT);
  makeDir(src_.at("emptydir"));
  writeAt(trg_.at("a.txt"), "old a", kT);
  writeAt(trg_.at("c.txt"), "old c", kT);
  writeAt(trg_.at("gone.txt"), "gone", kT);
  ASSERT_EQ(systemFs().setAttributes(trg_.at("a.txt").c_str(), attr::ReadOnly), FsStatus::Ok);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  const auto before = contentsOf(trg_.path());

  struct Case {
    const char* what;
    std::function<void(FaultFs&)> arm;
    FsStatus status;
    int osError;
    const char* entry;  // below the target root
  } cases[] = {
      {"no inodes left for the second file",
       [](FaultFs& f) { f.failNth(FsOp::Create, 2, FsStatus::DiskFull, true, kFullError); },
       FsStatus::DiskFull, kFullError, "c.txt"},
      {"a name the file system refuses",
       [](FaultFs& f) { f.failPath(FsOp::Create, u"new", FsStatus::InvalidName, kNameError); },
       FsStatus::InvalidName, kNameError, "new/b.txt"},
      {"a folder without write permission",
       [](FaultFs& f) { f.failNth(FsOp::Create, 3, FsStatus::AccessDenied, false, kDeniedError); },
       FsStatus::AccessDenied, kDeniedError, "d.txt"},
      {"an I/O error while setting a file's time",
       [](FaultFs& f) { f.failNth(FsOp::SetFileTimes, 4, FsStatus::IoError, false, 0); },
       FsStatus::IoError, 0, "new/b.txt"},
      {"an empty folder that cannot be created",
       [](FaultFs& f) {
         f.failPath(FsOp::CreateDirectory, u"emptydir", FsStatus::AccessDenied, kDeniedError);
       },
       FsStatus::AccessDenied, kDeniedError, "emptydir"},
      {"a rename into place after two others",
       [](FaultFs& f) { f.failPath(FsOp::Rename, u"d.txt", FsStatus::InUse, kBusyError); },
       FsStatus::InUse, kBusyError, "d.txt"},
      {"a rename into place where the file system has no second names",
       [](FaultFs& f) {
         f.failNth(FsOp::CreateHardLink, 1, FsStatus::Unsupported, true);
         f.failPath(FsOp::Rename, u"new" + std::u16string(1, kPathSeparator) + u"b.txt",
                    FsStatus::AccessDenied, kDeniedError);
       },
       FsStatus::AccessDenied, kDeniedError, "new/b.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultFs fs(systemFs());
    c.arm(fs);
    EXPECT_EQ(syncFromDifference(kMirror, 0, kDefaultIgnoreList, ApplyMode::OnePass, &fs),
              Rc::CannotWrite);
    EXPECT_EQ(contentsOf(trg_.path()), before);  // no file, folder, temporary or attribute more
    EXPECT_EQ(valueOf(ok_.addedFiles) + valueOf(ok_.modifiedFiles) + valueOf(ok_.deletedFiles),
              0u);
    EXPECT_EQ(valueOf(ok_.addedBytes), 0u);
    ASSERT_EQ(failures_.size(), 1u);
    EXPECT_EQ(failures_[0].path, trg_.at(c.entry));
    EXPECT_EQ(failures_[0].status, c.status);
    EXPECT_NE(failures_[0].reason.find(fsFailureText({c.status, c.osError})), std::string::npos)
        << failures_[0].reason;
    EXPECT_NE(failures_[0].reason.find("nothing was changed"), std::string::npos);
  }
  // Without a fault, the second names of the replaced files go again.
  FaultFs noLinks(systemFs());
  noLinks.failNth(FsOp::CreateHardLink, 1, FsStatus::Unsupported, true);
  ASSERT_RC_OK(syncFromDifference(kMirror, 0, kDefaultIgnoreList, ApplyMode::OnePass, &noLinks));
  EXPECT_EQ(contentsOf(trg_.path()), contentsOf(src_.path()));
  EXPECT_TRUE(failures_.empty()) << (failures_.empty() ? "" : toUtf8(failures_[0].path) + ": " + failures_[0].reason);
}

// Failures that are the entry's own do not stop a two-pass apply, which puts each file in place
// as it arrives; each is named.
TEST_F(DifferenceTest, ATwoPassApplyNamesEachFileItCouldNotWrite) {
  writeAt(src_.at("a.txt"), "a", kT);
  writeAt(src_.at("b.txt"), "b", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  FaultFs fs(systemFs());
  fs.failPath(FsOp::Rename, u"a.txt", FsStatus::InUse, kBusyError);
  ASSERT_RC_OK(syncFromDifference(kMirror, 0, kDefaultIgnoreList, ApplyMode::CheckFirst, &fs));
  EXPECT_FALSE(exists(trg_.at("a.txt")));
  EXPECT_EQ(readFile(trg_.at("b.txt")), "b");
  EXPECT_EQ(valueOf(failed_.addedFiles), 1u);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].path, trg_.at("a.txt"));
  EXPECT_EQ(failures_[0].status, FsStatus::InUse);
  EXPECT_FALSE(anyTemporaryFile(contentsOf(trg_.path())));
}

TEST_F(DifferenceTest, AMissingTargetRootIsMadeOnlyWhenSomethingIsWrittenIntoIt) {
  writeAt(src_.at("dir/a.txt"), "a", kT);
  writeAt(src_.at("b.txt"), "b", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  TempDir parent;
  const std::u16string missing = parent.at("unmounted/target");
  target_.roots = {missing};
  ASSERT_RC_OK(syncFromDifference(kMirror, 0, u"*.txt;dir"));  // every entry ignored
  EXPECT_FALSE(exists(parent.at("unmounted")));
  ASSERT_RC_OK(syncFromDifference(0x50, 0));  // adds are not in the masks
  EXPECT_FALSE(exists(parent.at("unmounted")));
  EXPECT_TRUE(failures_.empty());
  ASSERT_RC_OK(syncFromDifference());
  EXPECT_EQ(readFile(missing + kPathSeparator + u"dir" + kPathSeparator + u"a.txt"), "a");
  EXPECT_EQ(readFile(missing + kPathSeparator + u"b.txt"), "b");
}

#ifndef _WIN32
// Names Windows refuses, carried to a target held to Windows' names: each left out (a folder
// with everything in it), named once and counted as failed; the rest is applied. A sync of two
// folders does the same.
TEST_F(DifferenceTest, PosixNamesWindowsRefusesAreLeftOutNamedAndTheRestApplied) {
  const char* refused[] = {"meeting 10:30.txt", "q?", "a*b", "x\"y", "CON", "trail."};
  for (const char* name : refused) writeAt(src_.at(name), "r", kT);
  writeAt(src_.at("at:home/inner.txt"), "i", kT);
  writeAt(src_.at("at:home/deeper/more.txt"), "m", kT);
  writeAt(src_.at("ok.txt"), "ok", kT);
  writeAt(src_.at("dir/fine.txt"), "fine", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  windowsNames_ = true;
  const std::set<std::u16string> named = [&] {
    std::set<std::u16string> out{trg_.at("at:home")};
    for (const char* name : refused) out.insert(trg_.at(name));
    return out;
  }();
  auto check = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(readFile(trg_.at("ok.txt")), "ok");
    EXPECT_EQ(readFile(trg_.at("dir/fine.txt")), "fine");
    EXPECT_EQ(contentsOf(trg_.path()).size(), 3u);  // ok.txt, dir, dir/fine.txt
    EXPECT_EQ(valueOf(ok_.addedFiles), 2u);
    EXPECT_EQ(valueOf(failed_.addedFiles), 8u);
    std::set<std::u16string> paths;
    for (const EntryFailure& f : failures_) {
      paths.insert(f.path);
      EXPECT_EQ(f.reason, "not written: this name is not allowed on Windows");
    }
    EXPECT_EQ(paths, named);
    EXPECT_EQ(failures_.size(), named.size());
  };
  ASSERT_RC_OK(syncFromDifference());
  check("applying the difference");

  auto syncFolders = [&] {
    ok_.reset();
    failed_.reset();
    failures_.clear();
    Rc rc = compareAndMark();
    if (rc != Rc::Ok) return rc;
    SyncRequest request = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
    request.failures = &failures_;
    request.windowsNames = true;
    return syncAll(request, {ok_, failed_});
  };
  removeTree(trg_.path());
  makeDir(trg_.path());
  ASSERT_RC_OK(syncFolders());
  check("a sync of two folders");

  // A folder that lends the target such a name (a POSIX one under Wine): what is to be done to
  // it is left undone and named, a deletion too.
  removeTree(src_.path());
  removeTree(trg_.path());
  writeAt(src_.at("both:x"), "new", kT + kHour);
  writeAt(trg_.at("both:x"), "old", kT);
  writeAt(trg_.at("only:t"), "t", kT);
  writeAt(src_.at("fine.txt"), "fine", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  auto checkLeftUndone = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(readFile(trg_.at("both:x")), "old");
    EXPECT_EQ(readFile(trg_.at("only:t")), "t");
    EXPECT_EQ(readFile(trg_.at("fine.txt")), "fine");
    EXPECT_EQ(valueOf(failed_.modifiedFiles), 1u);
    EXPECT_EQ(valueOf(failed_.deletedFiles), 1u);
    ASSERT_EQ(failures_.size(), 2u);
    EXPECT_EQ(failures_[0].path, trg_.at("both:x"));
    EXPECT_EQ(failures_[1].path, trg_.at("only:t"));
    EXPECT_EQ(failures_[1].reason, "not deleted: this name is not allowed on Windows");
  };
  ASSERT_RC_OK(syncFromDifference());
  checkLeftUndone("applying the difference");
  removeTree(trg_.at("fine.txt"));
  ASSERT_RC_OK(syncFolders());
  checkLeftUndone("a sync of two folders");
}
#else
// A folder on a POSIX file system under Wine holds names no Windows path can, and the listing
// reports them as they are: the Windows build's sync of two folders leaves each out and names
// it, and copies the rest.
TEST_F(DifferenceTest, WineNamesWindowsRefusesAreLeftOutOfAFolderSyncAndNamed) {
  if (!runningUnderWine()) GTEST_SKIP() << "only a folder that Wine lends from Linux has them";
  std::set<std::u16string> named;
  for (const char* name : {"meeting 10:30.txt", "q?", "x\"y"}) {
    FileHandle f;
    if (systemFs().createAlways(src_.at(name).c_str(), attr::Normal, &f) != FsStatus::Ok) continue;
    systemFs().close(f);
    named.insert(trg_.at(name));
  }
  if (named.empty()) GTEST_SKIP() << "this Wine refuses such names";
  writeAt(src_.at("ok.txt"), "ok", kT);
  ASSERT_RC_OK(compareAndMark());
  SyncRequest request = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
  request.failures = &failures_;
  ASSERT_RC_OK(syncAll(request, {ok_, failed_}));
  EXPECT_EQ(readFile(trg_.at("ok.txt")), "ok");
  EXPECT_EQ(contentsOf(trg_.path()).size(), 1u);
  EXPECT_EQ(valueOf(failed_.addedFiles), named.size());
  std::set<std::u16string> paths;
  for (const EntryFailure& f : failures_) {
    paths.insert(f.path);
    EXPECT_EQ(f.reason, "not written: this name is not allowed on Windows");
  }
  EXPECT_EQ(paths, named);
}
#endif

TEST_F(DifferenceTest, AFileTheDifferenceShouldCarryButDoesNotIsAFailureNotASilentSkip) {
  writeAt(src_.at("same.txt"), "same", kT);
  writeAt(trg_.at("same.txt"), "same", kT);
  writeAt(src_.at("new.txt"), "n", kT);
  ASSERT_RC_OK(compareAndMark());
  ASSERT_RC_OK(save());
  // Applied to a target it was not made for: same.txt is missing there.
  removeTree(trg_.at("same.txt"));
  writeAt(trg_.at("stray.txt"), "s", kT);
  ASSERT_RC_OK(syncFromDifference());
  EXPECT_EQ(readFile(trg_.at("new.txt")), "n");
  EXPECT_FALSE(exists(trg_.at("same.txt")));
  EXPECT_FALSE(exists(trg_.at("stray.txt")));  // the folder pass still ran
  EXPECT_EQ(valueOf(failed_.addedFiles), 1u);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].path, trg_.at("same.txt"));
}

// The apply changes only the target, and only as a sync with the same masks would: a file the
// target wins (newer there) keeps its content and its attributes, whatever else differs.
TEST_F(DifferenceTest, AFileTheTargetWinsKeepsItsContentAndAttributes) {
  writeAt(src_.at("a.txt"), "old", kT);
  systemFs().setAttributes(src_.at("a.txt").c_str(), attr::ReadOnly | attr::Archive);
  writeAt(trg_.at("a.txt"), "newer", kT + kHour);
  ASSERT_RC_OK(compareAndMark(kDefaultFlagsSrc, kDefaultFlagsTrg));
  ASSERT_RC_OK(save(kNoSplit, nullptr, kDefaultFlagsSrc));
  ASSERT_RC_OK(syncFromDifference(kDefaultFlagsSrc, kDefaultFlagsTrg));
  ASSERT_EQ(node("a.txt")->flags & kCategoryBits,
            static_cast<uint32_t>(NewerInTarget | SizeDiffers | CaseOrAttrDiffers));
  EXPECT_EQ(readFile(trg_.at("a.txt")), "newer");
  uint32_t attributes = 0;
  ASSERT_EQ(systemFs().getAttributes(trg_.at("a.txt").c_str(), &attributes), FsStatus::Ok);
  EXPECT_EQ(attributes & attr::ReadOnly, 0u);
  EXPECT_EQ(valueOf(ok_.modifiedFiles) + valueOf(failed_.modifiedFiles), 0u);
  systemFs().setAttributes(src_.at("a.txt").c_str(), attr::Archive);  // for the clean-up
}

}  // namespace
}  // namespace fw
