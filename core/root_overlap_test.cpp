// The rule that folder roots stay apart, on real folders: the same folder or one inside the
// other, however spelled, within a row and across rows.
#include "core/root_overlap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/result_test_util.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace fw {
namespace {

class RootOverlapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    makeDir(dir_.at("A/sub/deep"));
    makeDir(dir_.at("AB"));
    makeDir(dir_.at("B"));
  }
  std::u16string at(const std::string& relative) const { return dir_.at(relative); }
  std::string p(const std::string& relative) const { return toUtf8(dir_.at(relative)); }
  // The sentences for the rows given (source and target per row, "" for none).
  std::vector<std::string> overlaps(const std::vector<std::u16string>& sources,
                                    const std::vector<std::u16string>& targets,
                                    const std::u16string& sourceFile = u"") {
    SideInput source{sources, sourceFile};
    SideInput target{targets, u""};
    std::vector<RootOverlap> found;
    EXPECT_EQ(findOverlappingRoots(systemFs(), &source, &target, &found), Rc::Ok);
    std::vector<std::string> out;
    for (const RootOverlap& o : found) out.push_back(toUtf8(rootOverlapText(o)));
    return out;
  }
  // A symbolic link to a folder, or false where none can be made (Windows without the right).
  bool link(const std::string& to, const std::string& at) {
    std::error_code ec;
    std::filesystem::create_directory_symlink(std::filesystem::path(dir_.at(to)),
                                              std::filesystem::path(dir_.at(at)), ec);
    return !ec;
  }
  using Texts = std::vector<std::string>;
  TempDir dir_;
};

TEST_F(RootOverlapTest, ARowsSourceAndTargetMustBeApart) {
  EXPECT_EQ(overlaps({at("A")}, {at("A")}),
            Texts{"row 1: the source " + p("A") + " and the target " + p("A") +
                  " are the same folder"});
  EXPECT_EQ(overlaps({at("A")}, {at("A/sub")}),
            Texts{"row 1: the target " + p("A/sub") + " lies inside the source " + p("A")});
  EXPECT_EQ(overlaps({at("A/sub/deep")}, {at("A")}),
            Texts{"row 1: the source " + p("A/sub/deep") + " lies inside the target " + p("A")});
  // Other spellings of one folder.
  const std::u16string dots = at("B") + kPathSeparator + u".." + kPathSeparator + u"A";
  EXPECT_EQ(overlaps({dots}, {at("A/sub")}).size(), 1u);
  EXPECT_EQ(overlaps({at("A/sub/..")}, {at("A")}).size(), 1u);
  EXPECT_EQ(overlaps({at("A") + kPathSeparator}, {at("A")}).size(), 1u);
  // A target that the sync would create inside the source, and missing folders that are one.
  EXPECT_EQ(overlaps({at("A")}, {at("A/new/deeper")}),
            Texts{"row 1: the target " + p("A/new/deeper") + " lies inside the source " +
                  p("A")});
  EXPECT_EQ(overlaps({at("B/new")}, {at("B/new")}).size(), 1u);
  EXPECT_EQ(overlaps({at("B/new/x")}, {at("B/new")}).size(), 1u);
  // Neighbours, also those whose names begin alike, and missing folders side by side.
  EXPECT_EQ(overlaps({at("A")}, {at("AB")}), Texts{});
  EXPECT_EQ(overlaps({at("A/sub")}, {at("AB")}), Texts{});
  EXPECT_EQ(overlaps({at("B/new")}, {at("B/newer")}), Texts{});
  EXPECT_EQ(overlaps({at("A/new")}, {at("AB/new")}), Texts{});
}

TEST_F(RootOverlapTest, RowsMustNotActTwiceOnOneFolder) {
  // Two trees spread into one another: row 2's target inside row 1's.
  EXPECT_EQ(overlaps({at("A"), at("AB")}, {at("B"), at("B/Documents")}),
            Texts{"row 2's target " + p("B/Documents") + " lies inside row 1's target " +
                  p("B")});
  EXPECT_EQ(overlaps({at("A"), at("AB")}, {at("B"), at("B")}),
            Texts{"row 1's target " + p("B") + " and row 2's target " + p("B") +
                  " are the same folder"});
  EXPECT_EQ(overlaps({at("A"), at("A")}, {at("B/x"), at("B/y")}),
            Texts{"row 1's source " + p("A") + " and row 2's source " + p("A") +
                  " are the same folder"});
  // One row's target inside another row's source, named in the order of the rows.
  EXPECT_EQ(overlaps({at("A"), at("AB")}, {at("B"), at("A/sub")}),
            Texts{"row 2's target " + p("A/sub") + " lies inside row 1's source " + p("A")});
  EXPECT_EQ(overlaps({at("B"), at("A/sub")}, {at("AB"), at("A")}),
            Texts{"row 2: the source " + p("A/sub") + " lies inside the target " + p("A")});
  // Every pair is found: A holds both targets, and one target holds the other.
  EXPECT_EQ(overlaps({at("A"), at("AB")}, {at("A/sub"), at("A/sub/deep")}).size(), 3u);
  // Separate folders below one backup folder are fine, and so are rows without a folder.
  EXPECT_EQ(overlaps({at("A"), at("AB"), u""}, {at("B/A"), at("B/AB"), u""}), Texts{});
}

TEST_F(RootOverlapTest, SavedSidesAreNotFolders) {
  writeFile(at("saved.fws"), "x");
  EXPECT_EQ(overlaps({at("A")}, {at("A")}, at("saved.fws")), Texts{});
  EXPECT_EQ(overlaps({at("A"), at("A")}, {at("B")}, at("saved.fws")), Texts{});
  // Only the other side is looked at: its own rows still must be apart.
  EXPECT_EQ(overlaps({at("A")}, {at("B"), at("B/x")}, at("saved.fws")).size(), 1u);
}

TEST_F(RootOverlapTest, LinksAreFollowedToWhereTheFolderLies) {
  if (!link("A/sub", "toSub") || !link("A", "toA")) GTEST_SKIP() << "no symbolic links here";
  // The link's own parent holds neither A nor A/sub: only where it leads counts.
  EXPECT_EQ(overlaps({at("A")}, {at("toSub")}),
            Texts{"row 1: the target " + p("toSub") + " lies inside the source " + p("A")});
  EXPECT_EQ(overlaps({at("toA")}, {at("A")}).size(), 1u);
  EXPECT_EQ(overlaps({at("toA/sub/deep")}, {at("toSub")}).size(), 1u);
  EXPECT_EQ(overlaps({at("toSub")}, {at("A/new")}), Texts{});
  // A folder still to be made behind a link.
  EXPECT_EQ(overlaps({at("A/sub")}, {at("toSub/new")}).size(), 1u);
  EXPECT_EQ(overlaps({at("B")}, {at("toA/new")}), Texts{});
  // A link inside a folder that leads elsewhere is not part of it: the scan does not enter it.
  ASSERT_TRUE(link("B", "A/toB"));
  EXPECT_EQ(overlaps({at("A")}, {at("A/toB/x")}), Texts{});
}

}  // namespace
}  // namespace fw
