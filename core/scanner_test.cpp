// The scanner on real folders, through the real file system or a failing wrapper of it.
#include "core/scanner.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/compare_fixture.h"
#include <memory>

#include "platform/testing/fault_fs.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fw {
namespace {

using ScannerTest = CompareFixture;

TEST_F(ScannerTest, IgnoredNamesAreLeftOutAtEveryDepthOnBothSides) {
  writeFile(src_.at("Thumbs.db"), "x");
  writeFile(src_.at("a/b/THUMBS.DB"), "x");
  writeFile(src_.at("a/b/thumbs.db.old"), "x");
  writeFile(trg_.at("a/thumbs.db"), "x");
  writeFile(src_.at("cache.tmp/inside.txt"), "x");  // an ignored folder is not entered
  ASSERT_RC_OK(compare(u"thumbs.db;*.tmp"));
  EXPECT_EQ(node("Thumbs.db"), nullptr);
  EXPECT_EQ(node("a/b/thumbs.db"), nullptr);
  EXPECT_EQ(node("a/thumbs.db"), nullptr);
  EXPECT_EQ(node("cache.tmp"), nullptr);
  EXPECT_NE(node("a/b/thumbs.db.old"), nullptr);
}

TEST_F(ScannerTest, LeftoverTemporaryFilesOfASyncAreNotUserData) {
  writeFile(src_.at("~fw0123456789abcdef.fwtmp"), "half a copy");
  writeFile(trg_.at("d/~fwfedcba9876543210.fwtmp"), "half a copy");
  writeFile(src_.at("~fw0123456789abcdeX.fwtmp"), "a user's file");
  writeFile(src_.at("~fw0123456789abcdef.fwtmp.txt"), "a user's file");
  ASSERT_RC_OK(compare());
  EXPECT_EQ(node("~fw0123456789abcdef.fwtmp"), nullptr);
  EXPECT_EQ(node("d/~fwfedcba9876543210.fwtmp"), nullptr);
  EXPECT_NE(node("~fw0123456789abcdeX.fwtmp"), nullptr);
  EXPECT_NE(node("~fw0123456789abcdef.fwtmp.txt"), nullptr);
}

TEST_F(ScannerTest, NewFoldersCarryTheirSideOnEveryEntryBelow) {
  writeFile(src_.at("only/deep/er/f.txt"), "1");
  makeDir(trg_.at("tonly/empty"));
  ASSERT_RC_OK(compare());
  EXPECT_EQ(categories("only"), Folder | OnlyInSource);
  EXPECT_EQ(categories("only/deep/er"), Folder | OnlyInSource);
  EXPECT_EQ(categories("only/deep/er/f.txt"), OnlyInSource);
  EXPECT_EQ(categories("tonly/empty"), Folder | OnlyInTarget);
  FileNode* f = node("only/deep/er/f.txt");
  EXPECT_EQ(f->side[0].size, 1u);
  EXPECT_EQ(f->side[1].size, 0u);
  EXPECT_EQ(f->side[1].modified, 0u);
}

TEST_F(ScannerTest, CaseOnlyDifferencesMeetInOneNodeKeepingBothSpellings) {
  writeFile(src_.at("Docs/Report.txt"), "same");
  writeFile(trg_.at("docs/report.TXT"), "same");
  uint64_t t = 132000000000000000ull;
  setModified(src_.at("Docs/Report.txt"), t);
  setModified(trg_.at("docs/report.TXT"), t);
  ASSERT_RC_OK(compare());
  FileNode* docs = node("Docs");
  ASSERT_NE(docs, nullptr);
  EXPECT_EQ(std::u16string(sideName(docs, 0)), u"Docs");
  EXPECT_EQ(docs->flags & kCategoryBits, 0u);  // a folder met on both sides has no category
  FileNode* f = node("Docs/Report.txt");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::u16string(sideName(f, 0)), u"Report.txt");
  EXPECT_EQ(f->flags & kCategoryBits, static_cast<uint32_t>(CaseOrAttrDiffers));
#ifndef _WIN32
  // A case-sensitive system spells them apart: each side's paths use its own spelling.
  EXPECT_EQ(std::u16string(sideName(docs, 1)), u"docs");
  EXPECT_EQ(std::u16string(sideName(f, 1)), u"report.TXT");
#endif
}

TEST_F(ScannerTest, MissingRootContributesNothingAndNoError) {
  writeFile(trg_.at("t.txt"), "t");
  source_.roots = {src_.at("does-not-exist")};
  target_.roots = {trg_.path()};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  EXPECT_EQ(categories("t.txt"), OnlyInTarget);
  EXPECT_FALSE(node("t.txt")->flags & Excluded);
  EXPECT_TRUE(unlistedFolders(roots_).empty());
}

TEST_F(ScannerTest, FolderThatCannotBeListedExcludesTheOtherSideBelowIt) {
  writeFile(src_.at("locked/a.txt"), "a");
  writeFile(trg_.at("locked/a.txt"), "a");
  writeFile(trg_.at("locked/sub/b.txt"), "b");
  writeFile(trg_.at("open/c.txt"), "c");
  FaultFs faulty(systemFs());
  faulty.failPath(FsOp::FindFirst, src_.at("locked") + kPathSeparator + u"*",
                  FsStatus::AccessDenied);
  fs_ = &faulty;
  ASSERT_RC_OK(compare());
  FileNode* locked = node("locked");
  ASSERT_NE(locked, nullptr);
  EXPECT_TRUE(locked->flags & SourceUnlisted);
  EXPECT_TRUE(locked->flags & Excluded);
  EXPECT_EQ(categories("locked/sub/b.txt"), OnlyInTarget);
  EXPECT_TRUE(node("locked/a.txt")->flags & Excluded);
  EXPECT_TRUE(node("locked/sub/b.txt")->flags & Excluded);
  EXPECT_FALSE(node("open/c.txt")->flags & Excluded);
  // Even with masks that delete what the target alone has, nothing below is touched.
  SideCounts* t = totals(kDefaultFlagsSrc | OnlyInTarget, 0);
  EXPECT_EQ(t[1].filesDelete, 1u);  // open/c.txt only
  std::vector<UnlistedFolder> report = unlistedFolders(roots_);
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].path, u"locked");
  EXPECT_EQ(report[0].side, 0);
}

TEST_F(ScannerTest, RootThatCannotBeListedIsReportedAndExcluded) {
  writeFile(trg_.at("t.txt"), "t");
  FaultFs faulty(systemFs());
  faulty.failPath(FsOp::FindFirst, src_.path() + kPathSeparator + u"*", FsStatus::AccessDenied);
  fs_ = &faulty;
  ASSERT_RC_OK(compare());
  EXPECT_TRUE(roots_->flags & SourceUnlisted);
  EXPECT_TRUE(node("t.txt")->flags & Excluded);
  ASSERT_EQ(unlistedFolders(roots_).size(), 1u);
}

TEST_F(ScannerTest, TargetFolderThatCannotBeListedKeepsSourceEntriesFromActions) {
  writeFile(src_.at("keep/a.txt"), "a");
  writeFile(src_.at("keep/deep/b.txt"), "b");
  makeDir(trg_.at("keep"));
  FaultFs faulty(systemFs());
  // Fails only the target's listing: its path is inside the target folder.
  std::u16string pattern = trg_.at("keep") + kPathSeparator + u"*";
  faulty.failPath(FsOp::FindFirst, pattern, FsStatus::IoError);
  fs_ = &faulty;
  ASSERT_RC_OK(compare());
  EXPECT_TRUE(node("keep")->flags & TargetUnlisted);
  EXPECT_TRUE(node("keep/a.txt")->flags & Excluded);
  EXPECT_TRUE(node("keep/deep/b.txt")->flags & Excluded);
  SideCounts* t = totals(kDefaultFlagsSrc, OnlyInSource);  // deleting only-in-source entries
  EXPECT_EQ(t[0].filesDelete, 0u);
  EXPECT_EQ(t[1].filesAdd, 0u);
}

TEST_F(ScannerTest, ListingThatBreaksOffMidwayCountsAsUnlisted) {
  for (int i = 0; i < 5; ++i) writeFile(trg_.at("d/f" + std::to_string(i)), "x");
  makeDir(src_.at("d"));
  FaultFs faulty(systemFs());
  faulty.failNth(FsOp::FindNext, 3, FsStatus::IoError);
  fs_ = &faulty;
  // The third call is counted in the order the one-thread scan makes them ("." and ".." among
  // them on Windows): there it falls inside d's listing.
  scanThreads_ = 1;
  ASSERT_RC_OK(compare());
  EXPECT_TRUE(node("d")->flags & (SourceUnlisted | TargetUnlisted));
}

// Why a folder could not be listed is kept beside the tree and named with it, whichever
// thread listed it: a root, a folder listed early, one listed by a worker.
TEST_F(ScannerTest, TheCauseOfAFailedListingIsKeptForItsFolder) {
#ifdef _WIN32
  constexpr int kDenied = 5, kBusy = 32, kBroken = 1117;
#else
  constexpr int kDenied = EACCES, kBusy = EBUSY, kBroken = EIO;
#endif
  for (int i = 0; i < 20; ++i) writeFile(src_.at("f" + std::to_string(i) + "/sub/x.txt"), "x");
  writeFile(src_.at("f3/locked/y.txt"), "y");
  writeFile(trg_.at("t.txt"), "t");
  const std::u16string any = std::u16string(1, kPathSeparator) + u"*";
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    FaultFs faulty(systemFs());
    faulty.failPath(FsOp::FindFirst, src_.at("f3/locked") + any, FsStatus::AccessDenied,
                    kDenied);
    faulty.failPath(FsOp::FindFirst, src_.at("f17/sub") + any, FsStatus::InUse, kBusy);
    faulty.failPath(FsOp::FindFirst, trg_.path() + any, FsStatus::IoError, kBroken);
    fs_ = &faulty;
    scanThreads_ = threads;
    ASSERT_RC_OK(compare());
    std::vector<UnlistedFolder> report =
        unlistedFolders(roots_, &source_, &target_, &listingFailures_);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0].path, u"f17/sub");
    EXPECT_EQ(report[0].why.status, FsStatus::InUse);
    EXPECT_EQ(report[0].why.osError, kBusy);
    EXPECT_EQ(report[1].path, u"f3/locked");
    EXPECT_EQ(report[1].why.status, FsStatus::AccessDenied);
    EXPECT_EQ(report[1].why.osError, kDenied);
    EXPECT_EQ(report[2].path, trg_.path());
    EXPECT_EQ(report[2].side, 1);
    EXPECT_EQ(report[2].why.status, FsStatus::IoError);
    EXPECT_EQ(report[2].why.osError, kBroken);
    // Without the list the folders are still named, without a cause.
    for (const UnlistedFolder& u : unlistedFolders(roots_, &source_, &target_))
      EXPECT_FALSE(u.why.failed());
  }
  // A listing that breaks off midway keeps the failed findNext's cause.
  FaultFs faulty(systemFs());
  faulty.failNth(FsOp::FindNext, 1, FsStatus::InUse, true, kBusy);
  fs_ = &faulty;
  scanThreads_ = 1;
  ASSERT_RC_OK(compare());
  std::vector<UnlistedFolder> report =
      unlistedFolders(roots_, &source_, &target_, &listingFailures_);
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report[0].path, src_.path());
  EXPECT_EQ(report[0].why.status, FsStatus::InUse);
}

TEST_F(ScannerTest, PoolFailureStopsTheScanAndEmptiesTheResult) {
  for (int i = 0; i < 50; ++i) writeFile(src_.at("f" + std::to_string(i)), "x");
  pool_.setBlockSize(128);  // names fit, a node does not
  EXPECT_EQ(compare(), Rc::BadRequest);
  EXPECT_EQ(roots_, nullptr);
  EXPECT_EQ(pool_.blockCount(), 0u);
}

TEST_F(ScannerTest, CancelBeforeTheScanGivesAnEmptyResult) {
  writeFile(src_.at("a"), "x");
  cancel_ = 1;
  ASSERT_RC_OK(compare());
  EXPECT_EQ(roots_, nullptr);
}

TEST_F(ScannerTest, FileAgainstFolderOfTheSameNameSharesOneNode) {
  writeFile(src_.at("x"), "file");
  writeFile(trg_.at("x/inner.txt"), "in");
  writeFile(src_.at("y/inner.txt"), "in");
  writeFile(trg_.at("y"), "file");
  ASSERT_RC_OK(compare());
  FileNode* x = node("x");
  ASSERT_NE(x, nullptr);
  EXPECT_FALSE(x->flags & Folder);
  EXPECT_FALSE(x->flags & (OnlyInSource | OnlyInTarget));
  FileNode* y = node("y");
  EXPECT_TRUE(y->flags & Folder);
  // Tallies stay consistent: each file counts once per side it exists on, with its bytes,
  // whichever side's kind the node has; a folder's unlisted entries do not count.
  SideCounts* t = totals();
  EXPECT_EQ(t[0].filesExisting, 2u);  // x, y/inner.txt
  EXPECT_EQ(t[0].bytesExisting, 6u);
  EXPECT_EQ(t[1].filesExisting, 1u);  // y
  EXPECT_EQ(t[1].bytesExisting, 4u);
  EXPECT_EQ(t[0].filesAdd + t[0].filesDelete + t[1].filesAdd + t[1].filesDelete, 0u);
}

#ifndef _WIN32
TEST_F(ScannerTest, SymlinkCycleTerminatesAndIsNotEntered) {
  writeFile(src_.at("a/f.txt"), "f");
  ASSERT_EQ(symlink("..", toUtf8(src_.at("a/up")).c_str()), 0);
  ASSERT_EQ(symlink(toUtf8(src_.at("a")).c_str(), toUtf8(src_.at("a/self")).c_str()), 0);
  writeFile(src_.at("b/g.txt"), "g");
  ASSERT_EQ(symlink(toUtf8(src_.at("b")).c_str(), toUtf8(src_.at("linkb")).c_str()), 0);
  ASSERT_RC_OK(compare());
  FileNode* up = node("a/up");
  ASSERT_NE(up, nullptr);
  EXPECT_TRUE(up->flags & Folder);
  EXPECT_EQ(up->children, nullptr);
  EXPECT_TRUE(up->flags & SourceUnlisted);
  EXPECT_EQ(node("a/self")->children, nullptr);
  // No link to a folder is entered: what it leads to is outside the tree, and a sync must not
  // write or delete there.
  FileNode* linkb = node("linkb");
  ASSERT_NE(linkb, nullptr);
  EXPECT_EQ(linkb->children, nullptr);
  EXPECT_TRUE(linkb->flags & SourceUnlisted);
  EXPECT_TRUE(linkb->flags & Excluded);
}

TEST_F(ScannerTest, UnreadableFolderOnDiskIsNotEmpty) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  writeFile(src_.at("secret/a.txt"), "a");
  writeFile(trg_.at("secret/a.txt"), "a");
  ASSERT_EQ(chmod(toUtf8(trg_.at("secret")).c_str(), 0), 0);
  Rc rc = compare();
  chmod(toUtf8(trg_.at("secret")).c_str(), 0755);
  ASSERT_RC_OK(rc);
  EXPECT_TRUE(node("secret")->flags & TargetUnlisted);
  EXPECT_TRUE(node("secret/a.txt")->flags & Excluded);
}
#endif

TEST_F(ScannerTest, DeepFolderBeyondTheBufferIsMarkedNotOverrun) {
  // 32,768 units cannot hold this chain's pattern: the scan stops entering and marks the folder.
  ScanContext ctx;
  std::unique_ptr<char16_t[]> buffer(new char16_t[kPathBufferUnits]);
  std::u16string pattern = src_.path() + kPathSeparator + u"*";
  std::copy(pattern.begin(), pattern.end(), buffer.get());
  buffer[pattern.size()] = 0;
  // Fake a listing with a folder whose name fills the buffer.
  struct OneFolderFs : ForwardingFs {
    using ForwardingFs::ForwardingFs;
    int calls = 0;
    FsStatus findFirst(const char16_t*, FindHandle* h, FindEntry* e) override {
      ++calls;
      *h = 1;
      std::u16string name(250, u'n');
      std::copy(name.begin(), name.end(), e->name);
      e->name[name.size()] = 0;
      e->attributes = attr::Directory;
      e->modified = e->size = 0;
      return FsStatus::Ok;
    }
    FsStatus findNext(FindHandle, FindEntry*) override { return FsStatus::NoMoreFiles; }
    void findClose(FindHandle) override {}
  } fake(systemFs());
  ctx.pathBuffer = buffer.get();
  ctx.pool = &pool_;
  ctx.fs = &fake;
  ctx.cancel = &cancel_;
  FileNode* tree = nullptr;
  ASSERT_RC_OK(scanFolder(ctx, pattern.size(), &tree, 0));
  // Each level adds 251 units: about 130 levels fit, and the last one is marked.
  EXPECT_GT(fake.calls, 100);
  EXPECT_LT(fake.calls, 140);
  FileNode* n = tree;
  while (n->children) n = n->children;
  EXPECT_TRUE(n->flags & SourceUnlisted);
}

}  // namespace
}  // namespace fw
