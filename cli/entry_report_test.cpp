#include "cli/entry_report.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/compare_fixture.h"

namespace fw {
namespace {

using EntryReportTest = CompareFixture;

TEST_F(EntryReportTest, WalkOrderFolderFirstAndActionsUnderBothMaskSets) {
  writeFile(src_.at("B/new.txt"), "n");
  writeFile(trg_.at("a_old.txt"), "o");
  writeFile(src_.at("same.txt"), "s");
  writeFile(trg_.at("same.txt"), "s");
  setModified(src_.at("same.txt"), 132000000000000000ull);
  setModified(trg_.at("same.txt"), 132000000000000000ull);
  ASSERT_RC_OK(compare());
  std::vector<std::string> lines;
  auto collect = [&](uint32_t s, uint32_t t) {
    lines.clear();
    forEachCategorizedEntry(roots_, s, t, [&](const EntryRow& e) {
      lines.push_back(e.path + " " + actionName(e.action) + " " + std::to_string(e.action.changes));
    });
  };
  collect(kDefaultFlagsSrc, kDefaultFlagsTrg);
  EXPECT_EQ(lines, (std::vector<std::string>{"a_old.txt add 0", "B add 1", "B/new.txt add 1"}));
  collect(0xFC, 0);  // mirror
  EXPECT_EQ(lines,
            (std::vector<std::string>{"a_old.txt delete 1", "B add 1", "B/new.txt add 1"}));
  node("B/new.txt")->flags |= Excluded;
  collect(0xFC, 0);
  EXPECT_EQ(lines[2], "B/new.txt none -1");
}

// A file against a folder of the same name is in no category, but is reported as what it is,
// whichever side has the folder.
TEST_F(EntryReportTest, AFileAgainstAFolderIsReportedAsAConflict) {
  writeFile(src_.at("x"), "file");
  writeFile(trg_.at("x/inner.txt"), "in");
  writeFile(src_.at("y/inner.txt"), "in");
  writeFile(trg_.at("y"), "file");
  ASSERT_RC_OK(compare());
  std::vector<std::string> lines;
  forEachCategorizedEntry(roots_, 0xFC, 0, [&](const EntryRow& e) {
    lines.push_back(e.path + " " + actionName(e.action) + " " +
                    categoryNames(e.node->flags, ",") + (e.onSource && e.onTarget ? " both" : ""));
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"x none Conflict both", "y none Conflict both",
                                             "y/inner.txt none OnlyInSource"}));
}

TEST(EntryReportNamesTest, CategoryNamesInBitOrder) {
  EXPECT_EQ(categoryNames(NewerInTarget | SizeDiffers | Folder, ","), "NewerInTarget,SizeDiffers");
  EXPECT_EQ(categoryNames(OnlyInSource | Conflict, ","), "OnlyInSource,Conflict");
  EXPECT_EQ(categoryNames(0, ","), "");
}

}  // namespace
}  // namespace fw
