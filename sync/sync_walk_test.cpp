// The folder sync walk on real folder pairs: compare, mark with the masks, sync, look at disk
// and at the tallies.
#include "sync/sync_all.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "core/compare_fixture.h"
#include "platform/testing/fault_fs.h"
#include "sync/failure_text.h"
#include "sync/file_ops.h"
#include "sync/sync_test_support.h"

namespace fw {
namespace {

struct Counts {
  uint32_t untouched, added, modified, deleted;
  uint64_t untouchedBytes, addedBytes, deletedBytes;
  bool operator==(const Counts&) const = default;
};

Counts countsOf(const SyncStats& s) {
  return {valueOf(s.untouchedFiles), valueOf(s.addedFiles),     valueOf(s.modifiedFiles),
          valueOf(s.deletedFiles),   valueOf(s.untouchedBytes), valueOf(s.addedBytes),
          valueOf(s.deletedBytes)};
}

std::ostream& operator<<(std::ostream& o, const Counts& c) {
  return o << "{untouched " << c.untouched << "/" << c.untouchedBytes << " B, added " << c.added
           << "/" << c.addedBytes << " B, modified " << c.modified << ", deleted " << c.deleted
           << "/" << c.deletedBytes << " B}";
}

class SyncWalkTest : public CompareFixture {
 protected:
  // Compares, marks with the masks as the File Tree window does, and syncs through fs.
  Rc sync(uint32_t flagsSrc = kDefaultFlagsSrc, uint32_t flagsTrg = kDefaultFlagsTrg,
          Fs* fs = nullptr, const std::function<void()>& beforeSync = {}) {
    Rc rc = compare();
    if (rc != Rc::Ok) return rc;
    if (beforeSync) beforeSync();
    return syncMarked(flagsSrc, flagsTrg, fs);
  }
  Rc syncMarked(uint32_t flagsSrc, uint32_t flagsTrg, Fs* fs = nullptr) {
    totals(flagsSrc, flagsTrg);
    ok_.reset();
    failed_.reset();
    SyncRequest request =
        requestFor(fs ? *fs : systemFs(), source_, target_, roots_, flagsSrc, flagsTrg);
    request.cancel = &cancel_;
    return syncAll(request, {ok_, failed_});
  }
  Counts ok() const { return countsOf(ok_); }
  Counts failed() const { return countsOf(failed_); }

  SyncStats ok_, failed_;
};

// A sync marks the tree with its own masks: what its caller marked it with (here: nothing to
// do, so no folder is entered) does not decide what it does or how it tallies.
TEST_F(SyncWalkTest, SyncMarksTheTreeWithItsOwnMasks) {
  writeAt(src_.at("sub/newer.txt"), "new", kT + kHour);
  writeAt(trg_.at("sub/newer.txt"), "old", kT);
  writeAt(trg_.at("sub/extra.txt"), "xy", kT);
  writeAt(src_.at("sub/same.txt"), "same", kT);
  writeAt(trg_.at("sub/same.txt"), "same", kT);
  ASSERT_RC_OK(compare());
  mark(roots_, 0, 0);
  SyncRequest request = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
  request.cancel = &cancel_;
  ASSERT_RC_OK(syncAll(request, {ok_, failed_}));
  EXPECT_EQ(readFile(trg_.at("sub/newer.txt")), "new");
  EXPECT_EQ(namesIn(trg_.at("sub")), (std::set<std::u16string>{u"newer.txt", u"same.txt"}));
  EXPECT_EQ(ok(), (Counts{1, 0, 1, 1, 4, 3, 3 + 2}));
  EXPECT_EQ(failed(), Counts{});
}

TEST_F(SyncWalkTest, DefaultMasksCarryBothWaysAndDeleteNothing) {
  writeAt(src_.at("only-src.txt"), "12345", kT);
  writeAt(src_.at("new-dir/inner/a.txt"), "aa", kT);
  writeAt(trg_.at("only-trg.txt"), "123", kT);
  writeAt(trg_.at("trg-dir/b.txt"), "b", kT);
  writeAt(src_.at("newer-src.txt"), "new source", kT + kHour);
  writeAt(trg_.at("newer-src.txt"), "old", kT);
  writeAt(src_.at("newer-trg.txt"), "old", kT);
  writeAt(trg_.at("newer-trg.txt"), "new target", kT + kHour);
  writeAt(src_.at("other.txt"), "longer", kT);
  writeAt(trg_.at("other.txt"), "short", kT);
  writeAt(src_.at("same.txt"), "same", kT);
  writeAt(trg_.at("same.txt"), "same", kT);
  ASSERT_RC_OK(sync());

  EXPECT_EQ(readFile(trg_.at("only-src.txt")), "12345");
  EXPECT_EQ(modifiedOf(trg_.at("only-src.txt")), kT);
  EXPECT_EQ(readFile(trg_.at("new-dir/inner/a.txt")), "aa");
  EXPECT_EQ(readFile(src_.at("only-trg.txt")), "123");
  EXPECT_EQ(readFile(src_.at("trg-dir/b.txt")), "b");
  EXPECT_EQ(readFile(trg_.at("newer-src.txt")), "new source");
  EXPECT_EQ(readFile(src_.at("newer-trg.txt")), "new target");
  EXPECT_EQ(readFile(trg_.at("other.txt")), "longer");
  EXPECT_EQ(modifiedOf(src_.at("newer-trg.txt")), kT + kHour);
  // Added: 5 + 2 + 3 + 1 bytes; modified: 10 + 10 + 6 bytes written over 3 + 3 + 5 old ones.
  EXPECT_EQ(ok(), (Counts{1, 4, 3, 0, 4, 11 + 26, 11}));
  EXPECT_EQ(failed(), Counts{});
  EXPECT_FALSE(hasTemporaryFile(trg_.path()) || hasTemporaryFile(src_.path()));
}

TEST_F(SyncWalkTest, OnlyInCategoriesOnTheOtherSidesMaskDelete) {
  writeAt(src_.at("gone-from-src.txt"), "1", kT);
  writeAt(src_.at("src-dir/x/y.txt"), "22", kT);
  writeAt(src_.at("src-dir/z.txt"), "333", kT);
  writeAt(trg_.at("gone-from-trg.txt"), "4444", kT);
  writeAt(trg_.at("trg-dir/w.txt"), "55555", kT);
  ASSERT_RC_OK(sync(OnlyInTarget, OnlyInSource));
  EXPECT_FALSE(exists(src_.at("gone-from-src.txt")));
  EXPECT_FALSE(exists(src_.at("src-dir")));
  EXPECT_FALSE(exists(trg_.at("gone-from-trg.txt")));
  EXPECT_FALSE(exists(trg_.at("trg-dir")));
  EXPECT_EQ(ok(), (Counts{0, 0, 0, 5, 0, 0, 15}));
  EXPECT_EQ(failed(), Counts{});
}

TEST_F(SyncWalkTest, AReadOnlyFileToDeleteStaysAndCountsAsFailed) {
  writeAt(trg_.at("locked.txt"), "123", kT);
  writeAt(trg_.at("free.txt"), "1", kT);
  systemFs().setAttributes(trg_.at("locked.txt").c_str(), attr::ReadOnly);
  ASSERT_RC_OK(sync(kMirror, 0));
  EXPECT_TRUE(exists(trg_.at("locked.txt")));
  EXPECT_FALSE(exists(trg_.at("free.txt")));
  EXPECT_EQ(ok(), (Counts{0, 0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(failed(), (Counts{0, 0, 0, 1, 0, 0, 3}));
}

TEST_F(SyncWalkTest, FoldersOnlyInTheSourceAreCreatedEvenWhenEmpty) {
  makeDir(src_.at("empty"));
  makeDir(src_.at("outer/empty-inner"));
  writeAt(src_.at("outer/f.txt"), "f", kT);
  FaultFs fs(systemFs());
  fs.setLogging(true);
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg, &fs));
  EXPECT_TRUE(exists(trg_.at("empty")));
  EXPECT_TRUE(exists(trg_.at("outer/empty-inner")));
  EXPECT_EQ(readFile(trg_.at("outer/f.txt")), "f");
  // The folder comes before anything inside it. (The log shows paths in the long form the
  // walk hands to the file system.)
  std::vector<std::string> log = fs.log();
  auto at = [&](const std::string& op, const std::string& path) {
    for (size_t i = 0; i < log.size(); ++i)
      if (log[i].rfind(op + " ", 0) == 0 && log[i].find(path) != std::string::npos)
        return static_cast<int>(i);
    return -1;
  };
  std::string outer = toUtf8(trg_.at("outer"));
  int folder = at("createDirectory", outer);
  ASSERT_GE(folder, 0);
  EXPECT_LT(folder, at("create", outer + toUtf8(std::u16string(1, kPathSeparator))));
  EXPECT_EQ(ok().added, 1u);
}

TEST_F(SyncWalkTest, AnExcludedFolderWithActionsBelowIsWalked) {
  writeAt(src_.at("ex/new.txt"), "new", kT);
  writeAt(src_.at("ex/skipped.txt"), "s", kT);
  writeAt(trg_.at("ex/kept.txt"), "k", kT);
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg, nullptr, [&] {
    node("ex")->flags |= Excluded;
    node("ex/skipped.txt")->flags |= Excluded;
  }));
  EXPECT_EQ(readFile(trg_.at("ex/new.txt")), "new");
  EXPECT_FALSE(exists(trg_.at("ex/skipped.txt")));
  EXPECT_EQ(readFile(src_.at("ex/kept.txt")), "k");
  EXPECT_EQ(ok().added, 2u);
}

TEST_F(SyncWalkTest, PairsWithAnEmptyRootAreSkippedAndLaterPairsKeepTheirOwnTree) {
  TempDir src2, trg2, src3, trg3;
  writeAt(src_.at("one.txt"), "1", kT);
  writeAt(trg2.at("two.txt"), "2", kT);  // row 2 has no source root
  writeAt(src3.at("three.txt"), "3", kT);
  writeAt(src2.at("stray.txt"), "x", kT);  // not part of any row
  source_.roots = {src_.path(), u"", src3.path()};
  target_.roots = {trg_.path(), trg2.path(), trg3.path()};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  ASSERT_RC_OK(syncMarked(kMirror, 0));
  EXPECT_EQ(readFile(trg_.at("one.txt")), "1");
  EXPECT_EQ(readFile(trg2.at("two.txt")), "2");  // skipped pair: untouched, not deleted
  EXPECT_EQ(readFile(trg3.at("three.txt")), "3");
  EXPECT_FALSE(exists(trg3.at("one.txt")));
  EXPECT_FALSE(exists(trg3.at("two.txt")));
  EXPECT_EQ(ok(), (Counts{0, 2, 0, 0, 0, 2, 0}));

  // The same with the empty root on the target side.
  source_.roots = {src_.path(), src2.path(), src3.path()};
  target_.roots = {trg_.path(), u"", trg3.path()};
  writeAt(src3.at("four.txt"), "4", kT);
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  ASSERT_RC_OK(syncMarked(kMirror, 0));
  EXPECT_EQ(readFile(trg3.at("four.txt")), "4");
  EXPECT_FALSE(exists(trg3.at("stray.txt")));
}

TEST_F(SyncWalkTest, CaseOrAttributesOnlyUpdateTheTargetInPlace) {
  writeAt(src_.at("Report.TXT"), "same", kT);
  writeAt(trg_.at("report.txt"), "same", kT);
  systemFs().setAttributes(src_.at("Report.TXT").c_str(), attr::ReadOnly | attr::Archive);
  FaultFs fs(systemFs());
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg, &fs));
  EXPECT_EQ(fs.calls(FsOp::Create), 0);  // no copy
  EXPECT_TRUE(attributesOf(trg_.at("Report.TXT")) & attr::ReadOnly);
  // A new comparison compares names exactly: the target now has the source's spelling.
  ASSERT_RC_OK(compare());
  EXPECT_EQ(node("Report.TXT")->flags & kCategoryBits, 0u);
  EXPECT_EQ(ok(), (Counts{0, 0, 1, 0, 0, 0, 0}));
}

// Attributes the target does not take are a failure, named, not an update: the next
// comparison would find the same difference again. Both a refused call and a file system that
// answers Ok but keeps nothing.
TEST_F(SyncWalkTest, AttributesTheTargetDoesNotKeepAreAFailureNamedAsSuch) {
  class DropsAttributes : public ForwardingFs {
   public:
    using ForwardingFs::ForwardingFs;
    FsStatus setAttributes(const char16_t*, uint32_t) override { return FsStatus::Ok; }
  } drops(systemFs());
  FaultFs refuses(systemFs());
  refuses.failNth(FsOp::SetAttributes, 2, FsStatus::AccessDenied, false, kDeniedError);
  struct Case {
    Fs* fs;
    const char* reason;
  } cases[] = {{&drops, "cannot set the attributes: the file system does not keep them"},
               {&refuses, "cannot set the attributes: access is denied"}};
  writeAt(src_.at("a.txt"), "same", kT);
  writeAt(trg_.at("a.txt"), "same", kT);
  systemFs().setAttributes(src_.at("a.txt").c_str(), attr::ReadOnly | attr::Archive);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    ASSERT_RC_OK(compare());
    FailureLog failures;
    SyncRequest request =
        requestFor(*c.fs, source_, target_, roots_, kDefaultFlagsSrc, kDefaultFlagsTrg);
    request.failures = &failures;
    ok_.reset();
    failed_.reset();
    ASSERT_RC_OK(syncAll(request, {ok_, failed_}));
    EXPECT_EQ(ok().modified, 0u);
    EXPECT_EQ(failed().modified, 1u);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].reason.rfind(c.reason, 0), 0u) << failures[0].reason;
    EXPECT_EQ(toUtf8(failures[0].path), toUtf8(trg_.at("a.txt")));
    EXPECT_FALSE(attributesOf(trg_.at("a.txt")) & attr::ReadOnly);
  }
}

TEST_F(SyncWalkTest, AFileDifferingInSizeAndAttributesIsCopiedNotJustUpdated) {
  writeAt(src_.at("f.bin"), "new content", kT);
  writeAt(trg_.at("f.bin"), "old", kT);
  systemFs().setAttributes(trg_.at("f.bin").c_str(), attr::ReadOnly);
  ASSERT_RC_OK(sync());
  EXPECT_EQ(readFile(trg_.at("f.bin")), "new content");
  EXPECT_FALSE(attributesOf(trg_.at("f.bin")) & attr::ReadOnly);
  EXPECT_EQ(ok(), (Counts{0, 0, 1, 0, 0, 11, 3}));
}

TEST_F(SyncWalkTest, ACopyFailingHalfWayIsTalliedAndTheRunGoesOn) {
  std::string big(200000, 'n');
  writeAt(src_.at("a.bin"), big, kT + kHour);
  writeAt(trg_.at("a.bin"), "old a", kT);
  writeAt(src_.at("b.bin"), "new b", kT + kHour);
  writeAt(trg_.at("b.bin"), "old b", kT);
  FaultFs fs(systemFs());
  fs.failNth(FsOp::Write, 2, FsStatus::IoError);  // the second block of a.bin
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg, &fs));
  EXPECT_EQ(readFile(trg_.at("a.bin")), "old a");
  EXPECT_EQ(modifiedOf(trg_.at("a.bin")), kT);
  EXPECT_EQ(readFile(trg_.at("b.bin")), "new b");
  EXPECT_FALSE(hasTemporaryFile(trg_.path()));
  // The block written before the failure stays in the live figure.
  EXPECT_EQ(ok(), (Counts{0, 0, 1, 0, 0, 65536 + 5, 5}));
  EXPECT_EQ(failed(), (Counts{0, 0, 1, 0, 0, big.size(), 5}));
}

TEST_F(SyncWalkTest, EachFailureKeepsItsCauseFromTheFailingCallToTheLog) {
  for (const char* folder : {"busy", "denied", "full", "name"})
    systemFs().createDirectory(src_.at(folder).c_str());
  systemFs().createDirectory(trg_.at("busy").c_str());
  writeAt(trg_.at("busy/old.txt"), "old", kT);
  writeAt(src_.at("denied/d.txt"), "d", kT);
  writeAt(src_.at("full/f.txt"), "f", kT);
  writeAt(src_.at("name/n.txt"), "n", kT);
  FaultFs fs(systemFs());
  fs.failPath(FsOp::Delete, u"old.txt", FsStatus::InUse, kBusyError);
  fs.failPath(FsOp::Create, u"denied", FsStatus::AccessDenied, kDeniedError);
  fs.failPath(FsOp::Create, u"full", FsStatus::DiskFull, kFullError);
  fs.failPath(FsOp::Rename, u"n.txt", FsStatus::InvalidName, kNameError);
  ASSERT_RC_OK(compare());
  totals(kMirror, 0);
  FailureLog failures;
  SyncRequest request = requestFor(fs, source_, target_, roots_, kMirror, 0);
  request.cancel = &cancel_;
  request.failures = &failures;
  ASSERT_RC_OK(syncAll(request, {ok_, failed_}));
  ASSERT_EQ(failures.size(), 4u);
  struct Expected {
    std::u16string path;
    const char* reason;
    FsStatus status;
    int osError;
  } expected[] = {
      {trg_.at("busy/old.txt"), "cannot delete: another program has it open", FsStatus::InUse,
       kBusyError},
      {trg_.at("denied/d.txt"), "cannot copy: access is denied", FsStatus::AccessDenied,
       kDeniedError},
      {trg_.at("full/f.txt"), "cannot copy: the disk is full", FsStatus::DiskFull, kFullError},
      {trg_.at("name/n.txt"), "cannot copy: the file system does not allow this name",
       FsStatus::InvalidName, kNameError},
  };
  for (size_t i = 0; i < failures.size(); ++i) {
    const EntryFailure& f = failures[i];
    EXPECT_EQ(toUtf8(f.path), toUtf8(expected[i].path));
    // The words, then the system's own message where it adds something.
    EXPECT_EQ(f.reason.rfind(expected[i].reason, 0), 0u) << f.reason;
    EXPECT_EQ(f.status, expected[i].status) << f.reason;
    EXPECT_EQ(f.osError, expected[i].osError) << f.reason;
  }
  EXPECT_EQ(failures[2].reason, "cannot copy: the disk is full");  // nothing to add there
  EXPECT_EQ(failures[0].reason, "cannot delete: another program has it open");
  EXPECT_EQ(failed().added, 3u);
  EXPECT_EQ(failed().deleted, 1u);
  EXPECT_FALSE(hasTemporaryFile(trg_.at("name")));
}

TEST_F(SyncWalkTest, AFailureOutsideTheFileSystemKeepsItsPlainReason) {
  // A read-only file is refused by the delete itself, as a denial; where no file-system call
  // failed, the reason stays as the run has always put it.
  writeAt(trg_.at("ro.txt"), "r", kT);
  systemFs().setAttributes(trg_.at("ro.txt").c_str(), attr::ReadOnly);
  ASSERT_RC_OK(compare());
  totals(kMirror, 0);
  FailureLog failures;
  SyncRequest request = requestFor(systemFs(), source_, target_, roots_, kMirror, 0);
  request.cancel = &cancel_;
  request.failures = &failures;
  ASSERT_RC_OK(syncAll(request, {ok_, failed_}));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].status, FsStatus::AccessDenied);
  EXPECT_EQ(failures[0].reason.rfind("cannot delete: access is denied", 0), 0u)
      << failures[0].reason;
  // A refusal of the engine's own is said in words, not by the result code's name.
  for (Rc rc : {Rc::CannotOpen, Rc::CannotWrite, Rc::BadRequest, Rc::Failed}) {
    const std::string text = failureText("cannot copy", rc, {});
    EXPECT_EQ(text.rfind("cannot copy: ", 0), 0u) << text;
    EXPECT_EQ(text.find(rcName(rc)), std::string::npos) << text;
  }
  EXPECT_EQ(failureText("cannot copy", Rc::OutOfMemory, {}), "cannot copy: out of memory");
}

TEST_F(SyncWalkTest, CancelDuringACopyStopsTheRunAndDamagesNothing) {
  writeAt(src_.at("a.bin"), std::string(20 * 65536, 'a'), kT + kHour);
  writeAt(trg_.at("a.bin"), "old a", kT);
  writeAt(src_.at("b.bin"), "new b", kT + kHour);
  writeAt(trg_.at("b.bin"), "old b", kT);
  CancelAtWriteFs fs(systemFs(), 3, cancel_);
  ASSERT_RC_OK(sync(kDefaultFlagsSrc, kDefaultFlagsTrg, &fs));
  EXPECT_EQ(readFile(trg_.at("a.bin")), "old a");
  EXPECT_EQ(readFile(trg_.at("b.bin")), "old b");
  EXPECT_FALSE(hasTemporaryFile(trg_.path()));
  EXPECT_EQ(failed(), Counts{});
  EXPECT_EQ(ok().modified, 0u);
}

TEST_F(SyncWalkTest, MissingRootFoldersAreCreatedWithTheirAncestors) {
  writeAt(src_.at("f.txt"), "f", kT);
  target_.roots = {trg_.at("not/yet")};
  source_.roots = {src_.path()};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  ASSERT_RC_OK(syncMarked(kDefaultFlagsSrc, kDefaultFlagsTrg));
  EXPECT_EQ(readFile(trg_.at("not/yet/f.txt")), "f");
}

}  // namespace
}  // namespace fw
