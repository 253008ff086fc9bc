#include "app/logic/sync_plan.h"

#include <gtest/gtest.h>

#include "core/result_test_util.h"
#include "platform/testing/temp_dir.h"
#include "core/sibling_tree.h"
#include "platform/text.h"
#include "sync/progress_estimate.h"
#include "sync/task.h"

namespace fw {
namespace {

constexpr uint32_t kEverythingToTarget = 0xFC;  // every category; the other side wins none

class SyncPlanTest : public ::testing::Test {
 protected:
  // Compares the rows and marks the tree with the masks, as the File Tree window leaves it.
  void compare(const MarkMasks& masks) {
    s.fs = &systemFs();
    ASSERT_RC_OK(runTask(TaskId::Compare, s));
    markTree(s.firstRoot, masks, nullptr);
  }
  SyncPlan plan(const MarkMasks& masks) {
    return planSync(s.firstRoot, s.inputs[0][0], s.inputs[1][0], masks);
  }
  // The progress window measures the sync against the same files and bytes as the plan.
  void expectProgressTotalsOf(const SyncPlan& p) {
    uint64_t files = 0, bytes = 0;
    for (const SidePlan& side : p.side) {
      files += uint64_t{side.total.filesToCopy} + side.total.filesToReplace +
               side.total.filesToDelete;
      bytes += side.total.bytesToWrite;
    }
    const ProgressFigures total = taskTotals(TaskId::Sync, s);
    EXPECT_EQ(total.files, files);
    EXPECT_EQ(total.bytes, bytes);
  }

  TempDir dir;
  TaskState s;
};

TEST_F(SyncPlanTest, CountsEachSideOfEachRowFromTheMarkingPassAndNewFolders) {
  // Row 1: a new tree of two folders and a file, a newer file, a file only in the target.
  writeFile(dir.at("a/src/new/deep/n.txt"), "12345");
  writeFile(dir.at("a/src/changed.txt"), "new content");
  writeFile(dir.at("a/trg/changed.txt"), "old");
  setModified(dir.at("a/trg/changed.txt"), 130000000000000000ULL);
  writeFile(dir.at("a/trg/gone.txt"), "gone");
  // Row 2: the same on both sides. Row 3: only an empty folder to create.
  writeFile(dir.at("b/src/same.txt"), "s");
  writeFile(dir.at("b/trg/same.txt"), "s");
  setModified(dir.at("b/trg/same.txt"), 130000000000000000ULL);
  setModified(dir.at("b/src/same.txt"), 130000000000000000ULL);
  writeFile(dir.at("c/trg/keep.txt"), "k");
  writeFile(dir.at("c/src/keep.txt"), "k");
  setModified(dir.at("c/trg/keep.txt"), 130000000000000000ULL);
  setModified(dir.at("c/src/keep.txt"), 130000000000000000ULL);
  makeDir(dir.at("c/src/empty"));
  s.inputs[0][0].roots = {dir.at("a/src"), dir.at("b/src"), dir.at("c/src")};
  s.inputs[1][0].roots = {dir.at("a/trg"), dir.at("b/trg"), dir.at("c/trg")};
  const MarkMasks mirror = makeMarkMasks(kEverythingToTarget, 0, 0);
  compare(mirror);

  const SyncPlan p = plan(mirror);
  expectProgressTotalsOf(p);
  EXPECT_FALSE(p.side[0].total.any());
  EXPECT_TRUE(p.side[0].rows.empty());
  const SidePlan& t = p.side[1];
  ASSERT_EQ(t.rows.size(), 2u);  // the unchanged row is left out
  EXPECT_EQ(t.rows[0].row, 0u);
  EXPECT_EQ(t.rows[0].root, dir.at("a/trg"));
  EXPECT_EQ(t.rows[0].changes.filesToCopy, 1u);
  EXPECT_EQ(t.rows[0].changes.filesToReplace, 1u);
  EXPECT_EQ(t.rows[0].changes.filesToDelete, 1u);
  EXPECT_EQ(t.rows[0].changes.foldersToCreate, 2u);  // new and new/deep
  EXPECT_EQ(t.rows[0].changes.bytesToWrite, 5u + 11u);
  EXPECT_EQ(t.rows[1].row, 2u);
  EXPECT_EQ(t.rows[1].changes.foldersToCreate, 1u);
  EXPECT_EQ(t.total.foldersToCreate, 3u);
  EXPECT_EQ(t.total.filesToCopy, 1u);

  const std::u16string text = syncPlanText(p);
  EXPECT_EQ(text.find(u"source side"), std::u16string::npos) << toUtf8(text);
  EXPECT_NE(text.find(u"On the target side: copy 1 file, replace 1 file (16 B to write), delete "
                      u"1 file, create 3 folders\n"),
            std::u16string::npos)
      << toUtf8(text);
  EXPECT_NE(text.find(u"  row 3, " + dir.at("c/trg") + u": create 1 folder\n"),
            std::u16string::npos)
      << toUtf8(text);

  // The other way round the target's new entries would go to the source, and one row changes.
  const MarkMasks back = makeMarkMasks(0, kEverythingToTarget, 0);
  markTree(s.firstRoot, back, nullptr);
  const SyncPlan q = plan(back);
  expectProgressTotalsOf(q);
  EXPECT_FALSE(q.side[1].total.any());
  ASSERT_EQ(q.side[0].rows.size(), 2u);
  EXPECT_EQ(q.side[0].rows[0].changes.filesToCopy, 1u);    // gone.txt
  EXPECT_EQ(q.side[0].rows[0].changes.filesToDelete, 1u);  // new/deep/n.txt
  EXPECT_EQ(q.side[0].rows[0].changes.foldersToCreate, 0u);
  EXPECT_EQ(q.side[0].rows[0].changes.foldersToDelete, 2u);
  // Row 3 deletes only its empty folder: still a change to show.
  EXPECT_EQ(q.side[0].rows[1].row, 2u);
  EXPECT_EQ(q.side[0].rows[1].changes.foldersToDelete, 1u);
}

TEST_F(SyncPlanTest, UntickedEntriesASavedSourceAndNothingToDo) {
  writeFile(dir.at("src/new/n.txt"), "n");
  writeFile(dir.at("trg/old.txt"), "o");
  s.inputs[0][0].roots = {dir.at("src")};
  s.inputs[1][0].roots = {dir.at("trg")};
  const MarkMasks mirror = makeMarkMasks(kEverythingToTarget, 0, 0);
  compare(mirror);
  // Unticking the new folder leaves only the deletion, named with its one row.
  forEachInOrder(s.firstRoot->children, [](FileNode* x) {
    if (!isFolder(x)) return;
    x->flags |= Excluded;
    forEachInOrder(x->children, [](FileNode* y) { y->flags |= Excluded; });
  });
  markTree(s.firstRoot, mirror, nullptr);
  SyncPlan p = plan(mirror);
  EXPECT_EQ(p.side[1].total.foldersToCreate, 0u);
  EXPECT_EQ(p.side[1].total.filesToCopy, 0u);
  EXPECT_EQ(syncPlanText(p),
            u"On the target side: delete 1 file\n  in " + dir.at("trg") + u" (row 1)\n");

  // A saved source is never changed, whatever the masks say.
  const MarkMasks back = makeMarkMasks(0, kEverythingToTarget, 0);
  markTree(s.firstRoot, back, nullptr);
  SideInput saved = s.inputs[0][0];
  saved.savedFile = dir.at("saved.fws");
  EXPECT_FALSE(planSync(s.firstRoot, saved, s.inputs[1][0], back).any());
  EXPECT_TRUE(planSync(s.firstRoot, s.inputs[0][0], s.inputs[1][0], back).side[0].total.any());

  EXPECT_EQ(syncPlanText(SyncPlan{}), u"Nothing to change.");
}

}  // namespace
}  // namespace fw
