// What a sync must never do to the user's data, on folders shaped like real disks: case twins,
// names that differ only in letter case, a file against a folder, a root that is not there,
// trees deeper than the walks go. Each test compares, syncs, and compares again.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "core/compare_fixture.h"
#include "formats/save_check.h"
#include "platform/case_map.h"
#include "platform/long_path.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/forwarding_fs.h"
#include "sync/file_ops.h"
#include "sync/sync_test_support.h"
#include "sync/sync_all.h"
#include "sync/task.h"

namespace fw {
namespace {

// The long form of a path, for paths beyond the short limit of the Windows calls.
std::u16string longForm(const std::u16string& path) {
  std::u16string out(kPathBufferUnits, 0);
  out.resize(toLongPath(out.data(), out.size(), path.c_str()));
  return out;
}

class SyncSafetyTest : public CompareFixture {
 protected:
  Rc sync(uint32_t flagsSrc, uint32_t flagsTrg = 0) {
    Rc rc = compare();
    if (rc != Rc::Ok) return rc;
    return syncCompared(flagsSrc, flagsTrg);
  }
  Rc syncCompared(uint32_t flagsSrc, uint32_t flagsTrg = 0) {
    totals(flagsSrc, flagsTrg);
    ok_.reset();
    failed_.reset();
    failures_.clear();
    SyncRequest request = requestFor(*fs_, source_, target_, roots_, flagsSrc, flagsTrg);
    request.cancel = &cancel_;
    request.failures = &failures_;
    return syncAll(request, {ok_, failed_});
  }
  // After a sync without failures, the same comparison finds nothing to do.
  void expectNothingToDo(uint32_t flagsSrc, uint32_t flagsTrg = 0) {
    ASSERT_RC_OK(compare());
    SideCounts* t = totals(flagsSrc, flagsTrg);
    for (int s = 0; s < 2; ++s) {
      EXPECT_EQ(t[s].filesAdd + t[s].filesModify + t[s].filesDelete, 0u) << "side " << s;
    }
  }
  uint32_t failedFiles() const {
    return valueOf(failed_.addedFiles) + valueOf(failed_.modifiedFiles) +
           valueOf(failed_.deletedFiles);
  }

  SyncStats ok_, failed_;
  FailureLog failures_;
};

#ifndef _WIN32
TEST_F(SyncSafetyTest, CaseTwinsPairByExactSpellingAndEachKeepsItsOwnBytes) {
  writeAt(src_.at("A/X.h"), "UPPER", kT);
  writeAt(src_.at("A/x.h"), "lower case", kT);
  writeAt(trg_.at("A/x.h"), "lower case", kT);
  ASSERT_RC_OK(sync(kMirror));
  EXPECT_EQ(failedFiles(), 0u);
  EXPECT_EQ(readFile(trg_.at("A/X.h")), "UPPER");
  EXPECT_EQ(readFile(trg_.at("A/x.h")), "lower case");
  expectNothingToDo(kMirror);
  // Two identical trees with twins compare clean.
  EXPECT_EQ(conflictingEntries(roots_).size(), 0u);
  // A twin that only the target has is deleted alone.
  writeAt(trg_.at("A/X.H"), "third", kT);
  ASSERT_RC_OK(sync(kMirror));
  EXPECT_FALSE(exists(trg_.at("A/X.H")));
  EXPECT_EQ(readFile(trg_.at("A/X.h")), "UPPER");
  EXPECT_EQ(readFile(trg_.at("A/x.h")), "lower case");
}

// A target on a file system that ignores letter case and cannot refuse a taken name in the
// rename itself, so that a rename to a new name looks first and then renames: every path
// below the root is folded to lower case, and a rename to a new name waits (a while at most)
// for a second one to have looked too, as two copy threads can.
class CaseBlindTargetFs : public ForwardingFs {
 public:
  CaseBlindTargetFs(Fs& base, std::u16string root) : ForwardingFs(base), root_(std::move(root)) {}

  FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override {
    return base_.findFirst(fold(p).c_str(), h, e);
  }
  FsStatus openRead(const char16_t* p, FileHandle* f) override {
    return base_.openRead(fold(p).c_str(), f);
  }
  FsStatus createWithPermissions(const char16_t* p, uint32_t a, uint32_t m,
                                 FileHandle* f) override {
    return base_.createWithPermissions(fold(p).c_str(), a, m, f);
  }
  FsStatus getAttributes(const char16_t* p, uint32_t* a) override {
    return base_.getAttributes(fold(p).c_str(), a);
  }
  FsStatus setAttributes(const char16_t* p, uint32_t a) override {
    return base_.setAttributes(fold(p).c_str(), a);
  }
  FsStatus deleteFile(const char16_t* p) override { return base_.deleteFile(fold(p).c_str()); }
  FsStatus createDirectory(const char16_t* p) override {
    return base_.createDirectory(fold(p).c_str());
  }
  FsStatus rename(const char16_t* from, const char16_t* to, bool replace) override {
    std::u16string target = fold(to);
    if (replace) return base_.rename(fold(from).c_str(), target.c_str(), true);
    uint32_t a = 0;
    if (base_.getAttributes(target.c_str(), &a) != FsStatus::NotFound) return FsStatus::Exists;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++looked_;
      seen_.notify_all();
      seen_.wait_for(lock, std::chrono::milliseconds(300), [&] { return looked_ >= 2; });
    }
    return base_.rename(fold(from).c_str(), target.c_str(), true);
  }
  bool concurrentUse() const override { return true; }

 private:
  std::u16string fold(const char16_t* path) const {
    std::u16string p(path);
    if (p.compare(0, root_.size(), root_) == 0)
      for (size_t i = root_.size(); i < p.size(); ++i) p[i] = simpleLowerCase(p[i]);
    return p;
  }
  std::u16string root_;
  std::mutex mutex_;
  std::condition_variable seen_;
  int looked_ = 0;
};

// Twins from a folder that keeps both, onto a target where they are one name: the first is
// added, the second fails as a name that is taken; neither replaces the other unannounced.
TEST_F(SyncSafetyTest, CaseTwinsOntoACaseBlindTargetNeverReplaceEachOther) {
  writeAt(src_.at("X.h"), "UPPER", kT);
  writeAt(src_.at("x.h"), "lower case", kT);
  ASSERT_RC_OK(compare());
  totals(kMirror, 0);
  CaseBlindTargetFs blind(*fs_, longForm(trg_.path()));
  SyncRequest request = requestFor(blind, source_, target_, roots_, kMirror, 0);
  request.cancel = &cancel_;
  request.failures = &failures_;
  ASSERT_RC_OK(syncAll(request, {ok_, failed_}));
  EXPECT_EQ(valueOf(ok_.addedFiles), 1u);
  EXPECT_EQ(valueOf(failed_.addedFiles), 1u);
  EXPECT_EQ(failures_.size(), 1u);
  EXPECT_EQ(namesIn(trg_.path()).size(), 1u);
  std::string kept = readFile(trg_.at("x.h"));
  EXPECT_TRUE(kept == "UPPER" || kept == "lower case") << kept;
}

TEST_F(SyncSafetyTest, AmbiguousCaseVariantsAreConflictsThatNothingTouches) {
  writeAt(src_.at("Readme.txt"), "source", kT + kHour);
  writeAt(trg_.at("README.TXT"), "one", kT);
  writeAt(trg_.at("readme.txt"), "two", kT);
  ASSERT_RC_OK(compare());
  EXPECT_EQ(conflictingEntries(roots_).size(), 3u);
  ASSERT_RC_OK(syncCompared(kMirror));
  EXPECT_EQ(failedFiles(), 3u);
  ASSERT_EQ(failures_.size(), 3u);
  EXPECT_EQ(readFile(trg_.at("README.TXT")), "one");
  EXPECT_EQ(readFile(trg_.at("readme.txt")), "two");
  EXPECT_FALSE(exists(trg_.at("Readme.txt")));
  EXPECT_EQ(readFile(src_.at("Readme.txt")), "source");
}

TEST_F(SyncSafetyTest, AMissingRootIsThatSpellingOnlyAndDeletesNothing) {
  writeAt(trg_.at("music/song.txt"), "keep", kT);
  writeAt(src_.at("x/new.txt"), "new", kT);
  source_.roots = {src_.at("x")};
  target_.roots = {trg_.at("Music")};  // only "music" exists
  ASSERT_TRUE(isMissingRoot(*fs_, target_.roots[0]));
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  ASSERT_RC_OK(syncCompared(kMirror));
  EXPECT_EQ(readFile(trg_.at("music/song.txt")), "keep");
  EXPECT_EQ(readFile(trg_.at("Music/new.txt")), "new");  // a first sync creates the root
}
#endif

TEST_F(SyncSafetyTest, AMissingSourceRootEmptiesNoTarget) {
  writeAt(trg_.at("a.txt"), "a", kT);
  writeAt(trg_.at("d/b.txt"), "b", kT);
  source_.roots = {src_.at("unmounted")};
  target_.roots = {trg_.path()};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  SideCounts* t = totals(kMirror, 0);
  EXPECT_EQ(t[1].filesDelete, 0u);
  ASSERT_RC_OK(syncCompared(kMirror));
  EXPECT_EQ(readFile(trg_.at("a.txt")), "a");
  EXPECT_EQ(readFile(trg_.at("d/b.txt")), "b");
  EXPECT_EQ(valueOf(ok_.deletedFiles), 0u);
  // Nothing was to be written there: the root is not made, so that it cannot pass for an
  // emptied folder at the next sync.
  EXPECT_FALSE(exists(src_.at("unmounted")));
  // The same row with the default masks still carries the target's files back.
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  ASSERT_RC_OK(syncCompared(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_EQ(readFile(src_.at("unmounted/d/b.txt")), "b");
}

TEST_F(SyncSafetyTest, ANameThatDiffersOnlyInCaseTakesTheWinnersSpellingAndConverges) {
  writeAt(src_.at("Report.TXT"), "new content", kT + kHour);
  writeAt(trg_.at("report.txt"), "old", kT);
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_EQ(failedFiles(), 0u);
  EXPECT_EQ(namesIn(trg_.path()), std::set<std::u16string>{u"Report.TXT"});
  EXPECT_EQ(readFile(trg_.at("Report.TXT")), "new content");
  expectNothingToDo(kDefaultFlagsSrc, kDefaultFlagsTrg);
  // The other way: the target's newer file comes back under the target's spelling.
  writeAt(trg_.at("Report.TXT"), "back", kT + 2 * kHour);
  ASSERT_RC_OK(fs_->rename(trg_.at("Report.TXT").c_str(), trg_.at("REPORT.txt").c_str(), false) ==
                       FsStatus::Ok
                   ? Rc::Ok
                   : Rc::Failed);
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_EQ(namesIn(src_.path()), std::set<std::u16string>{u"REPORT.txt"});
  EXPECT_EQ(readFile(src_.at("REPORT.txt")), "back");
  expectNothingToDo(kDefaultFlagsSrc, kDefaultFlagsTrg);
}

TEST_F(SyncSafetyTest, AFileAgainstAFolderIsListedCountedAndLeftAloneBothWays) {
  for (int direction = 0; direction < 2; ++direction) {
    SCOPED_TRACE(direction);
    removeTree(src_.at("kind"));
    removeTree(trg_.at("kind"));
    const TempDir& fileSide = direction == 0 ? src_ : trg_;
    const TempDir& folderSide = direction == 0 ? trg_ : src_;
    writeAt(fileSide.at("kind"), "a file", kT);
    writeAt(folderSide.at("kind/inner.txt"), "in a folder", kT);
    ASSERT_RC_OK(compare());
    ASSERT_EQ(conflictingEntries(roots_), std::vector<std::u16string>{u"kind"});
    EXPECT_TRUE(node("kind")->flags & Excluded);
    for (uint32_t masks : {kMirror, 0u}) {
      ASSERT_RC_OK(compare());
      ASSERT_RC_OK(masks ? syncCompared(kMirror) : syncCompared(0, kMirror));
      EXPECT_EQ(failedFiles(), 1u);
      ASSERT_EQ(failures_.size(), 1u);
      EXPECT_EQ(readFile(fileSide.at("kind")), "a file");
      EXPECT_EQ(readFile(folderSide.at("kind/inner.txt")), "in a folder");
    }
  }
}

TEST_F(SyncSafetyTest, ANewFileNeverReplacesWhatAppearedUnderItsNameSinceTheComparison) {
  writeAt(src_.at("new.txt"), "from the source", kT);
  ASSERT_RC_OK(compare());
  writeAt(trg_.at("new.txt"), "written meanwhile", kT);
  ASSERT_RC_OK(syncCompared(kMirror));
  EXPECT_EQ(readFile(trg_.at("new.txt")), "written meanwhile");
  EXPECT_EQ(valueOf(failed_.addedFiles), 1u);
  EXPECT_EQ(failures_.size(), 1u);
  EXPECT_FALSE(hasTemporaryFile(trg_.path()));
}

TEST_F(SyncSafetyTest, FailedEntriesAreNamedWithTheirReason) {
  writeAt(trg_.at("locked.txt"), "l", kT);
  fs_->setAttributes(trg_.at("locked.txt").c_str(), attr::ReadOnly);
  writeAt(trg_.at("gone.txt"), "g", kT);
  ASSERT_RC_OK(sync(kMirror));
  EXPECT_FALSE(exists(trg_.at("gone.txt")));
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].path, trg_.at("locked.txt"));
  EXPECT_NE(failures_[0].reason.find("cannot delete"), std::string::npos);
  fs_->setAttributes(trg_.at("locked.txt").c_str(), attr::Normal);
}

// Deeper than the walks go: no crash, the deep part is left alone and reported, and nothing
// below what was read is deleted.
TEST_F(SyncSafetyTest, ATreeDeeperThanTheWalksGoIsLeftAloneBelowTheLimit) {
  const size_t levels = kMaxFolderDepth + 100;
  std::u16string deep = trg_.path() + kPathSeparator + u"top";
  ASSERT_EQ(fs_->createDirectory(longForm(deep).c_str()), FsStatus::Ok);
  for (size_t i = 0; i < levels; ++i) {
    deep += kPathSeparator;
    deep += u'd';
    ASSERT_EQ(fs_->createDirectory(longForm(deep).c_str()), FsStatus::Ok) << i;
  }
  std::u16string bottom = longForm(deep + kPathSeparator + u"bottom.txt");
  writeFile(bottom, "bottom");
  writeAt(src_.at("s.txt"), "s", kT);
  ASSERT_RC_OK(sync(kMirror));
  std::vector<UnlistedFolder> unlisted = unlistedFolders(roots_);
  ASSERT_EQ(unlisted.size(), 1u);
  EXPECT_EQ(unlisted[0].side, 1);
  // "top" is only in the target, but what lies below the limit was never read: not deleted.
  EXPECT_EQ(readFile(bottom), "bottom");
  SaveProblem problem;
  EXPECT_EQ(checkSavable(*fs_, roots_, 1, &target_, &problem), Rc::BadRequest);
  // Removing the whole tree goes no deeper than a comparison reads either.
  std::u16string top = longForm(trg_.path() + kPathSeparator + u"top");
  top.resize(kPathBufferUnits);
  EXPECT_EQ(Rc::CannotWrite, deleteTree(*fs_, top.data(), length16(top.c_str()), nullptr));
  EXPECT_EQ(readFile(bottom), "bottom");
  ASSERT_EQ(fs_->deleteFile(bottom.c_str()), FsStatus::Ok);
  for (std::u16string d = longForm(deep); d.size() > top.find(u'\0'); d.resize(d.rfind(kPathSeparator)))
    ASSERT_EQ(fs_->removeDirectory(d.c_str()), FsStatus::Ok);
}

TEST_F(SyncSafetyTest, AnUnreadableRootIsNamedByItsOwnSidesPath) {
  FaultFs faults(systemFs());
  faults.failPath(FsOp::FindFirst, src_.path() + kPathSeparator + u"*", FsStatus::AccessDenied);
  fs_ = &faults;
  writeAt(src_.at("a.txt"), "a", kT);
  writeAt(trg_.at("a.txt"), "a", kT);
  source_.roots = {src_.path()};
  target_.roots = {trg_.path()};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  std::vector<UnlistedFolder> u = unlistedFolders(roots_, &source_, &target_);
  ASSERT_EQ(u.size(), 1u);
  EXPECT_EQ(u[0].path, src_.path());
  EXPECT_EQ(u[0].side, 0);
  fs_ = &systemFs();
}

TEST_F(SyncSafetyTest, LeftoverTemporaryFilesOfAnInterruptedRunAreRemovedOnceStale) {
  std::u16string stale = trg_.at("~fw0123456789abcdef.fwtmp");
  std::u16string fresh = trg_.at("~fwfedcba9876543210.fwtmp");
  writeAt(stale, "half a file", kT);
  writeFile(fresh, "being written");  // now: could be another run's
  writeAt(src_.at("a.txt"), "a", kT);
  // Where no folder lock can be taken (root_locks.h): with one, every leftover goes at once.
  FaultFs fs(systemFs());
  fs.failNth(FsOp::LockFolder, 1, FsStatus::Unsupported, true);
  TaskState s;
  s.fs = &fs;
  s.inputs[0][0].roots = {src_.path()};
  s.inputs[1][0].roots = {trg_.path()};
  ASSERT_RC_OK(runTask(TaskId::Compare, s));
  mark(s.firstRoot, kDefaultFlagsSrc, kDefaultFlagsTrg);
  EXPECT_TRUE(exists(stale));  // a comparison removes nothing
  ASSERT_RC_OK(runTask(TaskId::Sync, s));
  EXPECT_FALSE(exists(stale));
  EXPECT_TRUE(exists(fresh));
  EXPECT_EQ(s.removedLeftovers, std::vector<std::u16string>{stale});
  EXPECT_EQ(readFile(trg_.at("a.txt")), "a");
}

TEST_F(SyncSafetyTest, ASaveRefusesASideThatWasNotReadWhole) {
  writeAt(src_.at("ok.txt"), "ok", kT);
  ASSERT_RC_OK(compare());
  SaveProblem problem;
  EXPECT_EQ(Rc::Ok, checkSavable(*fs_, roots_, 0, &source_, &problem));
  // A root that is not there.
  SideInput missing;
  missing.roots = {src_.at("nowhere")};
  ASSERT_RC_OK(compareInputs(&missing, &target_));
  EXPECT_EQ(checkSavable(*fs_, roots_, 0, &missing, &problem), Rc::BadRequest);
  EXPECT_EQ(problem.entry, src_.at("nowhere"));
  // A conflict.
  writeAt(src_.at("kind"), "f", kT);
  writeAt(trg_.at("kind/x"), "x", kT);
  ASSERT_RC_OK(compare());
  EXPECT_EQ(checkSavable(*fs_, roots_, 0, &source_, &problem), Rc::BadRequest);
  EXPECT_EQ(problem.entry, src_.at("kind"));
  EXPECT_EQ(checkSavable(*fs_, roots_, 1, &target_, &problem), Rc::BadRequest);
  // A file time the format reads as a folder (before 1601, where a file system has such).
  removeTree(src_.at("kind"));
  removeTree(trg_.at("kind"));
  ASSERT_RC_OK(compare());
  node("ok.txt")->side[0].modified = 0;
  EXPECT_EQ(checkSavable(*fs_, roots_, 0, &source_, &problem), Rc::BadRequest);
  EXPECT_EQ(problem.entry, src_.at("ok.txt"));
#ifndef _WIN32
  // A name the file format cannot hold (legal on this system).
  removeTree(src_.at("kind"));
  writeAt(src_.at("a\\b.txt"), "b", kT);
  ASSERT_RC_OK(compare());
  EXPECT_EQ(checkSavable(*fs_, roots_, 0, &source_, &problem), Rc::BadRequest);
  EXPECT_EQ(problem.entry, src_.at("a\\b.txt"));
#endif
}

}  // namespace
}  // namespace fw
