#include "app/logic/shell_entry.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

namespace fw {
namespace {

std::u16string joined(std::initializer_list<std::u16string> parts) {
  std::u16string out;
  for (const std::u16string& p : parts) {
    if (!out.empty()) out += kPathSeparator;
    out += p;
  }
  return out;
}

TEST(CopiesOnDiskTest, EachSideHasACopyWhereTheComparisonSawOneOnDisk) {
  char16_t pairName[] = u"/t";
  char16_t folderName[] = u"Docs";
  char16_t fileName[] = u"Read.txt\0read.TXT";  // the target spells it otherwise
  FileNode pair{}, folder{}, file{};
  pair.name = pairName;
  pair.flags = Folder;
  folder.name = folderName;
  folder.flags = Folder;
  file.name = fileName;
  file.flags = OtherSpelling;
  const std::vector<const FileNode*> chain = {&pair, &folder, &file};
  // The source's root ends in a separator, as a drive's top does.
  const std::u16string roots[2] = {joined({u"", u"src", u""}), joined({u"", u"trg"})};
  const bool both[2] = {true, true};

  SidePaths c = copiesOnDisk(chain, roots, both);
  EXPECT_EQ(c.path[0], joined({u"", u"src", u"Docs", u"Read.txt"}));
  EXPECT_EQ(c.path[1], joined({u"", u"trg", u"Docs", u"read.TXT"}));
  EXPECT_EQ(sideToOpen(c), 1);  // the target's copy when both have one

  // Only in the source: the target has no copy to open or offer.
  file.flags = OnlyInSource;
  c = copiesOnDisk(chain, roots, both);
  EXPECT_TRUE(c.path[1].empty());
  EXPECT_EQ(sideToOpen(c), 0);
  // Its place there is still known, for a look whether something has come since.
  EXPECT_EQ(sidePaths(chain, roots).path[1], joined({u"", u"trg", u"Docs", u"Read.txt"}));
  file.flags = OnlyInTarget;
  EXPECT_EQ(sideToOpen(copiesOnDisk(chain, roots, both)), 1);
  EXPECT_TRUE(copiesOnDisk(chain, roots, both).path[0].empty());

  // A saved side holds no files, and a row without a root on a side has nothing there.
  file.flags = 0;
  const bool savedTarget[2] = {true, false};
  c = copiesOnDisk(chain, roots, savedTarget);
  EXPECT_TRUE(c.path[1].empty());
  EXPECT_EQ(sideToOpen(c), 0);
  const std::u16string noTarget[2] = {roots[0], u""};
  EXPECT_EQ(sideToOpen(copiesOnDisk(chain, noTarget, both)), 0);
  const bool neither[2] = {false, false};
  EXPECT_EQ(sideToOpen(copiesOnDisk(chain, roots, neither)), -1);

  // The pair root itself is its root folder.
  EXPECT_EQ(copiesOnDisk({&pair}, roots, both).path[1], roots[1]);
}

TEST(ShellFormTest, ALongPathIsHandedOverInItsShortFormOrNotAtAll) {
  std::vector<std::u16string> asked;
  std::u16string answer;
  auto shortForm = [&](const std::u16string& p) {
    asked.push_back(p);
    return answer;
  };
  const std::u16string fits = u"C:\\" + std::u16string(kShellPathLimit - 3, u'a');
  EXPECT_EQ(shellFormOf(fits, shortForm), fits);
  EXPECT_TRUE(asked.empty());

  // One unit longer: looked up in the long form, which the shortened answer loses again.
  const std::u16string tooLong = fits + u"b";
  answer = u"\\\\?\\C:\\AAAAAA~1";
  EXPECT_EQ(shellFormOf(tooLong, shortForm), u"C:\\AAAAAA~1");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], u"\\\\?\\" + tooLong);

  const std::u16string share = u"\\\\server\\share\\" + std::u16string(kShellPathLimit, u'x');
  answer = u"\\\\?\\UNC\\server\\share\\XXXXXX~1";
  EXPECT_EQ(shellFormOf(share, shortForm), u"\\\\server\\share\\XXXXXX~1");
  EXPECT_EQ(asked.back(), u"\\\\?\\UNC" + share.substr(1));

  // No short form (the volume keeps none, or the entry is not there), or one still too long.
  answer = u"";
  EXPECT_EQ(shellFormOf(tooLong, shortForm), u"");
  answer = u"\\\\?\\" + tooLong;
  EXPECT_EQ(shellFormOf(tooLong, shortForm), u"");
}

class RecheckTest : public ::testing::Test {
 protected:
  // A node for entries that both sides held as they are on disk now.
  FileNode recorded(const std::u16string& path, uint32_t flags) {
    FileStamp stamp;
    EXPECT_EQ(fs.getEntryStamp(path.c_str(), &stamp), FsStatus::Ok);
    FileNode n{};
    n.flags = flags;
    for (SideInfo& s : n.side) s = {stamp.modified, stamp.size, 0};
    return n;
  }
  DiskState state(const std::u16string& path, const FileNode& n, int side = 1) {
    return recheckSide(fs, path, &n, side);
  }
  Fs& fs = systemFs();
  TempDir dir;
};

TEST_F(RecheckTest, GoneChangedAndUnchangedEntriesOnEitherSide) {
  const std::u16string file = dir.at("f.txt"), other = dir.at("g.txt"), folder = dir.at("d");
  writeFile(file, "1234");
  writeFile(other, "1234");
  makeDir(folder);
  FileNode f = recorded(file, 0), g = recorded(other, 0), d = recorded(folder, Folder);
  EXPECT_EQ(state(file, f), DiskState::AsCompared);
  EXPECT_EQ(state(folder, d), DiskState::AsCompared);

  // Rewritten with the same size at another time; removed; a folder turned into a file.
  setModified(other, modifiedOf(other) - 50000000ull);
  EXPECT_EQ(state(other, g), DiskState::Changed);
  removeTree(file);
  EXPECT_EQ(state(file, f), DiskState::Gone);
  removeTree(folder);
  writeFile(folder, "");
  EXPECT_EQ(state(folder, d), DiskState::Changed);

  // A side that had no copy: still nothing is as compared, something new there is a change.
  f.flags = OnlyInSource;
  EXPECT_EQ(state(file, f, 1), DiskState::AsCompared);
  EXPECT_EQ(state(file, f, 0), DiskState::Gone);
  g.flags = OnlyInSource;
  EXPECT_EQ(state(other, g, 1), DiskState::Changed);

  // A conflicting entry is never acted on, and a side that could not be read as a whole (a
  // link to a folder, say) is not judged by a plain look: neither is looked at.
  g.flags = Conflict;
  EXPECT_EQ(state(other, g), DiskState::NotLooked);
  g.flags = TargetUnlisted;
  EXPECT_EQ(state(other, g, 1), DiskState::NotLooked);
  EXPECT_EQ(state(other, g, 0), DiskState::Changed);
}

TEST(ChangedLabelTest, SaysWhichSideAnEntryIsGoneFromUnlessItChanged) {
  using D = DiskState;
  const struct {
    D source, target;
    bool marked;
    const char16_t* label;
  } cases[] = {
      {D::AsCompared, D::AsCompared, false, u"a.txt"},
      {D::NotLooked, D::Unknown, false, u"a.txt"},
      {D::Gone, D::AsCompared, true, u"a.txt (gone from the source)"},
      {D::NotLooked, D::Gone, true, u"a.txt (gone from the target)"},
      {D::Gone, D::Gone, true, u"a.txt (gone from both sides)"},
      {D::Gone, D::Changed, true, u"a.txt (changed since the comparison)"},
      {D::Changed, D::Unknown, true, u"a.txt (changed since the comparison)"},
  };
  for (const auto& c : cases) {
    const DiskState states[2] = {c.source, c.target};
    EXPECT_EQ(changedOnDisk(states), c.marked) << static_cast<int>(c.source);
    EXPECT_EQ(changedLabel(u"a.txt", states), c.label) << static_cast<int>(c.source);
  }
}

}  // namespace
}  // namespace fw
