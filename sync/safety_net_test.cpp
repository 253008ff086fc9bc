// The safety net around a sync: the count and sentence of the mass-deletion guard, and old
// versions kept in a backup folder (or the recycle bin) instead of destroyed.
#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/compare_fixture.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/kill_fs.h"
#include "sync/deletion_guard.h"
#include "sync/discard.h"
#include "sync/sync_test_support.h"
#include "sync/sync_all.h"

namespace fw {
namespace {

// ---- The guard's count, over root nodes with the counts markTree leaves.

struct Row {
  uint32_t existing[2];
  uint32_t deleting[2];
};

// The share asks however few files go.
constexpr MassDeleteLimits kEveryShare{kDefaultMassDeletePercent, kDefaultMassDeleteFiles, 1};

class DeletionGuardTest : public ::testing::Test {
 protected:
  // Root nodes with the given counts, one row per entry, roots "S1".."Sn" and "T1".."Tn".
  FileNode* rows(std::initializer_list<Row> list) {
    nodes_.assign(list.size(), FileNode{});
    source_.roots.clear();
    target_.roots.clear();
    size_t i = 0;
    for (const Row& r : list) {
      for (int s = 0; s < 2; ++s) {
        nodes_[i].counts[s].filesExisting = r.existing[s];
        nodes_[i].counts[s].filesDelete = r.deleting[s];
      }
      if (i > 0) nodes_[i - 1].link[1] = &nodes_[i];
      source_.roots.push_back(u"S" + groupedNumber(i + 1));
      target_.roots.push_back(u"T" + groupedNumber(i + 1));
      ++i;
    }
    return nodes_.empty() ? nullptr : &nodes_[0];
  }
  DeletionCount count(FileNode* first, MassDeleteLimits limits = {}) {
    return countDeletions(first, source_, target_, limits);
  }
  std::vector<FileNode> nodes_;
  SideInput source_, target_;
};

TEST_F(DeletionGuardTest, HalfOfASideIsAllowedAndOneFileMoreAsks) {
  // Exactly half: no question. Just above, on either side: the question.
  EXPECT_FALSE(count(rows({{{4, 1000}, {0, 500}}})).needsConfirmation());
  EXPECT_FALSE(count(rows({{{4, 1000}, {2, 0}}})).needsConfirmation());
  DeletionCount above = count(rows({{{4, 1000}, {0, 501}}}));
  EXPECT_TRUE(above.overShare);
  EXPECT_FALSE(above.overTotal);
  EXPECT_TRUE(count(rows({{{5, 10}, {3, 0}}}), kEveryShare).overShare);
  // The share is per side of a row, not of all rows together.
  DeletionCount second = count(rows({{{100, 100}, {0, 0}}, {{0, 3}, {0, 2}}}), kEveryShare);
  EXPECT_TRUE(second.overShare);
  ASSERT_EQ(second.losses.size(), 1u);
  EXPECT_EQ(second.losses[0].row, 1u);
  EXPECT_EQ(second.losses[0].root, u"T2");
  // A limit of 100% never asks for a share.
  EXPECT_FALSE(count(rows({{{0, 1}, {0, 1}}}), {100, 1000}).needsConfirmation());
}

// A small folder loses a large share with every deletion: the share asks only from
// shareFiles files on that side of the row on; the total does not care.
TEST_F(DeletionGuardTest, AShareOfAFewFilesDoesNotAsk) {
  EXPECT_FALSE(count(rows({{{0, 1}, {0, 1}}})).needsConfirmation());  // 1 file of 1
  EXPECT_FALSE(count(rows({{{9, 9}, {9, 9}}})).needsConfirmation());
  DeletionCount ten = count(rows({{{0, 10}, {0, 10}}}));
  EXPECT_TRUE(ten.overShare);
  EXPECT_EQ(massDeletionText(ten, {}),
            u"This sync would delete 10 of the 10 files on the target side of row 1 (T1): more "
            u"than half of them.");
  EXPECT_FALSE(count(rows({{{0, 20}, {0, 10}}})).needsConfirmation());  // half
  EXPECT_TRUE(count(rows({{{0, 20}, {0, 11}}})).needsConfirmation());
  // Two small sides do not add up to a share.
  EXPECT_FALSE(count(rows({{{5, 5}, {5, 5}}})).needsConfirmation());
  EXPECT_TRUE(count(rows({{{0, 1}, {0, 1}}}), kEveryShare).overShare);
  EXPECT_TRUE(count(rows({{{0, 5}, {0, 5}}}), {50, 4, 10}).overTotal);
}

TEST_F(DeletionGuardTest, AThousandFilesInAllAreAllowedAndOneMoreAsks) {
  // 1,000 files over two rows, neither losing more than half.
  EXPECT_FALSE(count(rows({{{0, 1600}, {0, 600}}, {{900, 900}, {400, 0}}})).needsConfirmation());
  DeletionCount more = count(rows({{{0, 1600}, {0, 601}}, {{900, 900}, {400, 0}}}));
  EXPECT_EQ(more.total, 1001u);
  EXPECT_TRUE(more.overTotal);
  EXPECT_FALSE(more.overShare);
  EXPECT_EQ(massDeletionText(more, {}),
            u"This sync would delete 1,001 files in all, more than 1,000; the most, 601, on the "
            u"target side of row 1 (T1).");
  EXPECT_FALSE(count(rows({{{0, 50}, {0, 20}}}), {50, 20}).needsConfirmation());
  EXPECT_TRUE(count(rows({{{0, 50}, {0, 21}}}), {50, 20}).needsConfirmation());
}

TEST_F(DeletionGuardTest, TheSentenceNamesHowManyOnWhichSideOfWhichRow) {
  DeletionCount c = count(rows({{{10, 10}, {0, 1}}, {{0, 2000}, {0, 1234}}}));
  EXPECT_EQ(massDeletionText(c, {}),
            u"This sync would delete 1,234 of the 2,000 files on the target side of row 2 (T2): "
            u"more than half of them. In all it would delete 1,235 files, more than 1,000.");
  c = count(rows({{{3, 0}, {2, 0}}, {{4, 4}, {3, 3}}}), {30, 1000, 1});
  EXPECT_EQ(massDeletionText(c, {30, 1000, 1}),
            u"This sync would delete 3 of the 4 files on the source side of row 2 (S2): more "
            u"than 30% of them. 2 more sides of rows would lose as large a share.");
  EXPECT_EQ(massDeletionText(count(rows({{{4, 4}, {1, 1}}})), {}), u"");
  EXPECT_EQ(groupedNumber(0), u"0");
  EXPECT_EQ(groupedNumber(999), u"999");
  EXPECT_EQ(groupedNumber(1234567), u"1,234,567");
}

TEST_F(DeletionGuardTest, RowsTheSyncSkipsAndASavedSourceLoseNothing) {
  FileNode* first = rows({{{0, 4}, {0, 4}}, {{4, 0}, {4, 0}}});
  target_.roots[0].clear();      // no target: the sync skips the row
  source_.savedFile = u"d.fwd";  // a difference: never deleted from
  EXPECT_FALSE(count(first).needsConfirmation());
  EXPECT_TRUE(count(first).losses.empty());
}

// ---- Through a real comparison: what markTree counts is what the guard reads.

class SafetyNetTest : public CompareFixture {
 protected:
  Rc syncWith(const DiscardPolicy* discard, uint32_t flagsSrc = kMirror, Fs* fs = nullptr) {
    Rc rc = compare();
    if (rc != Rc::Ok) return rc;
    totals(flagsSrc, 0);
    ok_.reset();
    failed_.reset();
    failures_.clear();
    SyncRequest request = requestFor(fs ? *fs : *fs_, source_, target_, roots_, flagsSrc, 0);
    request.cancel = &cancel_;
    request.failures = &failures_;
    request.discard = discard;
    return syncAll(request, {ok_, failed_});
  }
  DiscardPolicy backupPolicy() {
    DiscardPolicy p;
    p.backupRoot = backup_.path();
    p.stamp = discardStamp(2026, 12, 7, 10, 15, 30);
    return p;
  }
  TempDir backup_;
  SyncStats ok_, failed_;
  FailureLog failures_;
};

TEST_F(SafetyNetTest, AMirrorThatEmptiesATargetIsCountedFromTheMarkedTree) {
  for (const char* f : {"a", "d/b", "d/e/c"}) writeAt(trg_.at(f), f, kT);
  writeAt(src_.at("a"), "a", kT);
  ASSERT_RC_OK(compare());
  totals(kMirror, 0);
  DeletionCount c = countDeletions(roots_, source_, target_, kEveryShare);
  EXPECT_EQ(c.total, 2u);  // the files below the deleted folder, not the folders
  ASSERT_EQ(c.losses.size(), 1u);
  EXPECT_EQ(c.losses[0].existing, 3u);
  EXPECT_TRUE(c.overShare);
  totals();  // the defaults delete nothing
  EXPECT_FALSE(countDeletions(roots_, source_, target_, {}).needsConfirmation());
}

TEST_F(SafetyNetTest, DeletedAndReplacedFilesLandInTheBackupWithTheirContents) {
  writeAt(src_.at("keep.txt"), "same", kT);
  writeAt(trg_.at("keep.txt"), "same", kT);
  writeAt(src_.at("report.txt"), "new report", kT + kHour * 5);
  writeAt(trg_.at("report.txt"), "old report", kT);
  writeAt(trg_.at("gone.dat"), "gone", kT);
  writeAt(trg_.at("old/deep/inner"), "inner", kT);
  writeAt(trg_.at(".profile"), "dot", kT);
  DiscardPolicy policy = backupPolicy();
  ASSERT_RC_OK(syncWith(&policy));
  EXPECT_EQ(failures_.size(), 0u);
  EXPECT_EQ(valueOf(ok_.deletedFiles), 3u);
  EXPECT_EQ(valueOf(ok_.modifiedFiles), 1u);
  EXPECT_EQ(readFile(trg_.at("report.txt")), "new report");
  EXPECT_FALSE(exists(trg_.at("gone.dat")));
  EXPECT_FALSE(exists(trg_.at("old")));
  EXPECT_EQ(readFile(backup_.at("report 2026-12-07 101530.txt")), "old report");
  EXPECT_EQ(readFile(backup_.at("gone 2026-12-07 101530.dat")), "gone");
  EXPECT_EQ(readFile(backup_.at("old/deep/inner 2026-12-07 101530")), "inner");
  EXPECT_EQ(readFile(backup_.at(".profile 2026-12-07 101530")), "dot");
  EXPECT_EQ(modifiedOf(backup_.at("gone 2026-12-07 101530.dat")), kT);
  EXPECT_EQ(namesIn(backup_.path()).size(), 4u);  // keep.txt was left alone

  // The same stamp again (a second run within the second): a numbered name, nothing lost.
  writeAt(trg_.at("gone.dat"), "gone again", kT);
  ASSERT_RC_OK(syncWith(&policy));
  EXPECT_EQ(readFile(backup_.at("gone 2026-12-07 101530 (2).dat")), "gone again");
  EXPECT_EQ(readFile(backup_.at("gone 2026-12-07 101530.dat")), "gone");
}

TEST_F(SafetyNetTest, FilesWithNamesNearTheLimitAreKeptUnderShortenedStampedNames) {
  // 240 characters and ".txt": stamped whole, the backup's name would pass 255.
  const std::string name = std::string(240, 'r') + ".txt";
  const std::string gone = std::string(250, 'g');
  writeAt(src_.at(name), "new", kT + kHour);
  writeAt(trg_.at(name), "old", kT);
  writeAt(trg_.at(gone), "gone", kT);
  DiscardPolicy policy = backupPolicy();
  ASSERT_RC_OK(syncWith(&policy));
  EXPECT_EQ(failures_.size(), 0u);
  EXPECT_EQ(valueOf(ok_.modifiedFiles), 1u);
  EXPECT_EQ(valueOf(ok_.deletedFiles), 1u);
  EXPECT_EQ(readFile(trg_.at(name)), "new");
  EXPECT_FALSE(exists(trg_.at(gone)));
  EXPECT_EQ(readFile(backup_.at(std::string(233, 'r') + " 2026-12-07 101530.txt")), "old");
  EXPECT_EQ(readFile(backup_.at(std::string(237, 'g') + " 2026-12-07 101530")), "gone");
}

TEST_F(SafetyNetTest, ABackupFolderThatCannotBeWrittenLosesNothing) {
  writeAt(src_.at("report.txt"), "new", kT + kHour);
  writeAt(trg_.at("report.txt"), "old", kT);
  writeAt(trg_.at("gone.txt"), "gone", kT);
  writeAt(trg_.at("dir/inner.txt"), "inner", kT);
  FaultFs faulty(systemFs());
  // Neither a rename into the backup nor a folder or file created there succeeds.
  std::u16string inBackup = backup_.path();
  faulty.failPath(FsOp::Rename, inBackup, FsStatus::AccessDenied);
  faulty.failPath(FsOp::CreateHardLink, inBackup, FsStatus::AccessDenied);
  faulty.failPath(FsOp::CreateDirectory, inBackup, FsStatus::AccessDenied);
  faulty.failPath(FsOp::Create, inBackup, FsStatus::AccessDenied);
  DiscardPolicy policy = backupPolicy();
  ASSERT_RC_OK(syncWith(&policy, kMirror, &faulty));
  EXPECT_EQ(readFile(trg_.at("report.txt")), "old");
  EXPECT_EQ(readFile(trg_.at("gone.txt")), "gone");
  EXPECT_EQ(readFile(trg_.at("dir/inner.txt")), "inner");
  EXPECT_EQ(valueOf(failed_.deletedFiles), 2u);
  EXPECT_EQ(valueOf(failed_.modifiedFiles), 1u);
  EXPECT_EQ(valueOf(ok_.deletedFiles) + valueOf(ok_.modifiedFiles), 0u);
  EXPECT_FALSE(hasTemporaryFile(trg_.path()));
  EXPECT_TRUE(namesIn(backup_.path()).empty());
  EXPECT_EQ(failures_.size(), 3u);
}

TEST_F(SafetyNetTest, AnotherVolumeIsCopiedThenRemovedAndAFailedCopyKeepsTheOriginal) {
  writeAt(src_.at("report.txt"), "new", kT + kHour);
  writeAt(trg_.at("report.txt"), "old", kT);
  writeAt(trg_.at("dir/inner.txt"), "inner", kT);
  // Renames from outside into the backup say "another volume", as across drives.
  class OtherVolumeFs : public FaultFs {
   public:
    OtherVolumeFs(Fs& base, std::u16string volume) : FaultFs(base), volume_(std::move(volume)) {}
    FsStatus rename(const char16_t* f, const char16_t* t, bool r) override {
      auto on = [&](const char16_t* p) {
        return std::u16string_view(p).find(volume_) != std::u16string_view::npos;
      };
      if (on(t) && !on(f)) return FsStatus::CrossDevice;
      return FaultFs::rename(f, t, r);
    }
    FsStatus createHardLink(const char16_t* e, const char16_t* n) override {
      if (std::u16string_view(n).find(volume_) != std::u16string_view::npos &&
          std::u16string_view(e).find(volume_) == std::u16string_view::npos)
        return FsStatus::CrossDevice;
      return FaultFs::createHardLink(e, n);
    }

   private:
    std::u16string volume_;
  };
  OtherVolumeFs faulty(systemFs(), backup_.path());
  DiscardPolicy policy = backupPolicy();
  ASSERT_RC_OK(syncWith(&policy, kMirror, &faulty));
  EXPECT_EQ(failures_.size(), 0u);
  EXPECT_EQ(readFile(trg_.at("report.txt")), "new");
  EXPECT_FALSE(exists(trg_.at("dir")));
  EXPECT_EQ(readFile(backup_.at("report 2026-12-07 101530.txt")), "old");
  EXPECT_EQ(readFile(backup_.at("dir/inner 2026-12-07 101530.txt")), "inner");
  EXPECT_FALSE(hasTemporaryFile(backup_.at("dir")));

  // The copy fails on a full disk: the original stays, no part of the copy remains.
  writeAt(trg_.at("second.txt"), std::string(200000, 's'), kT);
  faulty.diskFullAfter(1000);
  ASSERT_RC_OK(syncWith(&policy, kMirror, &faulty));
  EXPECT_EQ(readFile(trg_.at("second.txt")), std::string(200000, 's'));
  EXPECT_EQ(valueOf(failed_.deletedFiles), 1u);
  EXPECT_FALSE(exists(backup_.at("second 2026-12-07 101530.txt")));
  EXPECT_FALSE(hasTemporaryFile(backup_.path()));
}

// A sync that replaces a read-only file and keeps the old one in the backup folder, stopped
// at every instant: the file's name holds the old version or the new one, whole, and the
// backup folder holds nothing but the old version (and temporary files). With hard links, and
// with copies where the file system has none.
TEST_F(SafetyNetTest, AKillAtAnyInstantOfABackedUpReplacementLeavesTheNameFilled) {
  class NoLinksFs : public ForwardingFs {
   public:
    using ForwardingFs::ForwardingFs;
    FsStatus createHardLink(const char16_t*, const char16_t*) override {
      return FsStatus::Unsupported;
    }
  };
  const std::string before = noise(200000, 31), after = noise(150000, 32);
  const std::u16string kept = backup_.at("report 2026-12-07 101530.txt");
  auto empty = [](const std::u16string& folder) {
    for (const std::u16string& name : namesIn(folder)) {
      std::u16string path = folder + kPathSeparator + name;
      systemFs().setAttributes(path.c_str(), attr::Normal);
      systemFs().deleteFile(path.c_str());
    }
  };
  writeAt(src_.at("report.txt"), after, kT + kHour);
  DiscardPolicy policy = backupPolicy();
  for (bool links : {true, false}) {
    NoLinksFs noLinks(systemFs());
    Fs& base = links ? systemFs() : static_cast<Fs&>(noLinks);
    for (int n = 0;; ++n) {
      ASSERT_LT(n, 5000);
      SCOPED_TRACE(std::string(links ? "links" : "copies") + ", killed after " +
                   std::to_string(n) + " calls");
      empty(trg_.path());
      empty(backup_.path());
      writeAt(trg_.at("report.txt"), before, kT);
      ASSERT_EQ(systemFs().setAttributes(trg_.at("report.txt").c_str(), attr::ReadOnly),
                FsStatus::Ok);
      KillFs fs(base, n);
      Rc rc = syncWith(&policy, kMirror, &fs);
      ASSERT_TRUE(exists(trg_.at("report.txt")));
      std::string now = readFile(trg_.at("report.txt"));
      EXPECT_TRUE(now == before || now == after);
      for (const std::u16string& name : namesIn(backup_.path())) {
        if (isTemporaryName(name.c_str())) continue;
        EXPECT_EQ(readFile(backup_.path() + kPathSeparator + name), before);
      }
      if (!fs.killed()) {
        ASSERT_RC_OK(rc);
        EXPECT_EQ(failures_.size(), 0u);
        EXPECT_EQ(now, after);
        EXPECT_EQ(namesIn(backup_.path()), std::set<std::u16string>{
                                              u"report 2026-12-07 101530.txt"});
        EXPECT_EQ(readFile(kept), before);
        EXPECT_TRUE(attributesOf(kept) & attr::ReadOnly);
        EXPECT_FALSE(hasTemporaryFile(trg_.path()));
        break;
      }
    }
  }
}

#ifndef _WIN32
TEST_F(SafetyNetTest, PosixNothingIsWrittenThroughALinkInsideTheBackupFolder) {
  TempDir elsewhere;
  writeAt(trg_.at("sub/x.txt"), "x", kT);
  writeAt(trg_.at("sub/deeper/y.txt"), "y", kT);
  makeDir(src_.at("sub"));
  ASSERT_EQ(symlink(toUtf8(elsewhere.path()).c_str(), toUtf8(backup_.at("sub")).c_str()), 0);
  DiscardPolicy policy = backupPolicy();
  ASSERT_RC_OK(syncWith(&policy));
  EXPECT_EQ(readFile(trg_.at("sub/x.txt")), "x");
  EXPECT_EQ(readFile(trg_.at("sub/deeper/y.txt")), "y");
  EXPECT_TRUE(namesIn(elsewhere.path()).empty());
  EXPECT_EQ(valueOf(failed_.deletedFiles), 2u);
}
#endif

TEST_F(SafetyNetTest, ABackupFolderInsideARootOrHoldingOneIsRefused) {
  source_.roots = {src_.path()};
  target_.roots = {trg_.path()};
  std::u16string longForm;
  std::string why;
  EXPECT_RC(Rc::BadRequest,
            prepareBackupFolder(*fs_, trg_.at("versions"), source_, target_, &longForm, &why));
  EXPECT_NE(why.find("must lie outside"), std::string::npos) << why;
  EXPECT_FALSE(exists(trg_.at("versions/x")));
  EXPECT_RC(Rc::BadRequest,
            prepareBackupFolder(*fs_, src_.path(), source_, target_, &longForm, &why));
  // The check alone refuses the same, and makes nothing where it passes.
  EXPECT_RC(Rc::BadRequest, checkBackupFolder(*fs_, trg_.at("versions"), source_, target_, &why));
  EXPECT_NE(why.find("must lie outside"), std::string::npos) << why;
  ASSERT_RC_OK(checkBackupFolder(*fs_, backup_.at("later"), source_, target_, &why));
  EXPECT_FALSE(exists(backup_.at("later")));
  // A folder that holds a root: the target below the backup folder.
  target_.roots = {backup_.at("nested/target")};
  EXPECT_RC(Rc::BadRequest,
            prepareBackupFolder(*fs_, backup_.path(), source_, target_, &longForm, &why));
  target_.roots = {trg_.path()};
  // Only the folder itself is made, never its parents.
  EXPECT_RC(Rc::CannotWrite,
            prepareBackupFolder(*fs_, backup_.at("no/such"), source_, target_, &longForm, &why));
  EXPECT_FALSE(exists(backup_.at("no")));
  ASSERT_RC_OK(prepareBackupFolder(*fs_, backup_.at("fresh"), source_, target_, &longForm, &why));
  EXPECT_TRUE(exists(backup_.at("fresh")));
  EXPECT_FALSE(longForm.empty());
}

TEST_F(SafetyNetTest, ARecycleBinThisSystemLacksDeletesNothing) {
  writeAt(trg_.at("gone.txt"), "gone", kT);
  DiscardPolicy policy;
  policy.recycleBin = true;
#ifdef _WIN32
  GTEST_SKIP() << "the shell's recycle bin is the Windows tests'";
#endif
  ASSERT_RC_OK(syncWith(&policy));
  EXPECT_EQ(readFile(trg_.at("gone.txt")), "gone");
  EXPECT_EQ(valueOf(failed_.deletedFiles), 1u);
}

// ---- Room on the volumes: a sync that does not fit is refused before it writes anything.

// The target's volume needs what the sync adds less what it frees; files moved into a backup
// folder free nothing.
TEST_F(SafetyNetTest, ASyncThatDoesNotFitItsVolumeChangesNothing) {
  writeAt(src_.at("new.bin"), noise(3000, 1), kT);
  writeAt(src_.at("report.txt"), noise(2000, 2), kT + kHour);
  writeAt(trg_.at("report.txt"), noise(1500, 3), kT);
  writeAt(trg_.at("gone.dat"), noise(1000, 4), kT);
  FaultFs full(systemFs());
  full.setLogging(true);
  full.reportFreeSpace(2499);  // 5,000 bytes in, 2,500 out
  EXPECT_EQ(syncWith(nullptr, kMirror, &full), Rc::CannotWrite);
  EXPECT_EQ(full.mutatingCalls(), 0);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].path, trg_.path());
  EXPECT_EQ(failures_[0].reason,
            "not enough free space for the sync: 2.4 kB needed, 2.4 kB free (1 B short); "
            "nothing was changed");
  EXPECT_EQ(failures_[0].status, FsStatus::DiskFull);
  EXPECT_EQ(valueOf(ok_.addedFiles) + valueOf(failed_.addedFiles), 0u);

  DiscardPolicy policy = backupPolicy();
  full.reportFreeSpace(4999);
  EXPECT_EQ(syncWith(&policy, kMirror, &full), Rc::CannotWrite);
  EXPECT_EQ(full.mutatingCalls(), 0);
  EXPECT_TRUE(namesIn(backup_.path()).empty());

  full.reportFreeSpace(2500);
  ASSERT_RC_OK(syncWith(nullptr, kMirror, &full));
  EXPECT_TRUE(failures_.empty());
  EXPECT_FALSE(exists(trg_.at("gone.dat")));
  EXPECT_EQ(readFile(trg_.at("new.bin")), noise(3000, 1));
}

// Both sides of a row, and rows on one volume, add up; a root not made yet is checked on the
// volume of the folder it will be made in.
TEST_F(SafetyNetTest, EverythingAVolumeReceivesCountsTogether) {
  writeAt(src_.at("a.bin"), noise(3000, 5), kT);
  writeAt(trg_.at("b.bin"), noise(3000, 6), kT);
  FaultFs full(systemFs());
  full.reportFreeSpace(5999);
  ASSERT_RC_OK(compare());
  totals(kDefaultFlagsSrc, kDefaultFlagsTrg);
  SyncRequest both = requestFor(full, source_, target_, roots_, kDefaultFlagsSrc, kDefaultFlagsTrg);
  both.failures = &failures_;
  EXPECT_EQ(syncAll(both, {ok_, failed_}), Rc::CannotWrite);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].path, src_.path());  // the first root the sync writes into
  EXPECT_NE(failures_[0].reason.find("5.9 kB needed, 5.9 kB free (1 B short)"),
            std::string::npos)
      << failures_[0].reason;
  EXPECT_FALSE(exists(src_.at("b.bin")));

  TempDir second;
  writeAt(second.at("c.bin"), noise(1000, 7), kT);
  source_.roots = {src_.path(), second.path()};
  target_.roots = {trg_.at("new/backup"), trg_.at("other/new")};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  totals(kMirror, 0);
  failures_.clear();
  SyncRequest request = requestFor(full, source_, target_, roots_, kMirror, 0);
  request.failures = &failures_;
  full.reportFreeSpace(3999);
  EXPECT_EQ(syncAll(request, {ok_, failed_}), Rc::CannotWrite);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0].path, trg_.at("new/backup"));
  EXPECT_FALSE(exists(trg_.at("new")));
  full.reportFreeSpace(4000);
  ASSERT_RC_OK(syncAll(request, {ok_, failed_}));
  EXPECT_EQ(readFile(trg_.at("other/new/c.bin")), noise(1000, 7));
}

TEST(DiscardNameTest, TheStampGoesBeforeTheExtension) {
  const std::u16string stamp = discardStamp(2026, 1, 2, 3, 4, 5);
  EXPECT_EQ(stamp, u" 2026-01-02 030405");
  EXPECT_EQ(stampedName(u"a.tar.gz", stamp), u"a.tar 2026-01-02 030405.gz");
  EXPECT_EQ(stampedName(u"Makefile", stamp), u"Makefile 2026-01-02 030405");
  EXPECT_EQ(stampedName(u".bashrc", stamp), u".bashrc 2026-01-02 030405");
  EXPECT_EQ(stampedName(u"x.txt", stamp, 12), u"x 2026-01-02 030405 (12).txt");
}

TEST(DiscardNameTest, ANameNearTheLimitLosesTheEndOfItsNameButNeverTheStampOrAHalfCharacter) {
  const std::u16string stamp = discardStamp(2026, 1, 2, 3, 4, 5);
  // 250 units of name and ".txt": the name part gives way, stamp and extension stay.
  std::u16string longName(250, u'n');
  std::u16string got = stampedName(longName + u".txt", stamp);
  EXPECT_EQ(storedNameSize(got), kLongestNameOnDisk);
  EXPECT_EQ(got, std::u16string(kLongestNameOnDisk - 22, u'n') + stamp + u".txt");
  got = stampedName(longName + u".txt", stamp, 7);
  EXPECT_EQ(storedNameSize(got), kLongestNameOnDisk);
  EXPECT_EQ(got.substr(got.size() - 26), stamp + u" (7).txt");
  // Characters of several units are dropped whole: an emoji is a surrogate pair (and 4 bytes
  // of UTF-8), an e with an acute accent one unit (2 bytes).
  std::u16string wide;
  for (int i = 0; i < 100; ++i) wide += u"\U0001F600\u00E9";
  got = stampedName(wide + u".md", stamp);
  EXPECT_LE(storedNameSize(got), kLongestNameOnDisk);
  EXPECT_GT(storedNameSize(got), kLongestNameOnDisk - 4);
  std::u16string part = got.substr(0, got.size() - stamp.size() - 3);
  EXPECT_EQ(part, wide.substr(0, part.size()));
  EXPECT_FALSE(part.back() >= 0xD800 && part.back() < 0xDC00);  // no half pair at the cut
  std::string bytes;
  EXPECT_TRUE(utf16ToUtf8(got, &bytes));
  // An extension that leaves no room is part of the name; names that fit are left alone.
  got = stampedName(u"a." + std::u16string(250, u'e'), stamp);
  EXPECT_EQ(storedNameSize(got), kLongestNameOnDisk);
  EXPECT_EQ(got.substr(got.size() - stamp.size()), stamp);
  std::u16string fits(kLongestNameOnDisk - 22, u'f');
  EXPECT_EQ(stampedName(fits + u".txt", stamp), fits + stamp + u".txt");
}

}  // namespace
}  // namespace fw
