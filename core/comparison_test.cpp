#include "core/comparison.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/compare_fixture.h"
#include "core/entry_action.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fw {
namespace {

constexpr uint64_t kT = 132500000000000000ull;  // some time in 2020
constexpr uint64_t kTwoSeconds = 20000000;

using ComparisonTest = CompareFixture;

TEST_F(ComparisonTest, NeitherSideGivenIsABadRequest) {
  EXPECT_EQ(compareInputs(nullptr, nullptr), Rc::BadRequest);
  EXPECT_EQ(roots_, nullptr);
}

TEST_F(ComparisonTest, TimesTwoSecondsApartAreEqualAndOneTickMoreIsNewer) {
  writeFile(src_.at("equal"), "x");
  writeFile(trg_.at("equal"), "x");
  writeFile(src_.at("newer"), "x");
  writeFile(trg_.at("newer"), "x");
  writeFile(src_.at("older"), "x");
  writeFile(trg_.at("older"), "x");
  setModified(src_.at("equal"), kT + kTwoSeconds);
  setModified(trg_.at("equal"), kT);
  setModified(src_.at("newer"), kT + kTwoSeconds + 1);
  setModified(trg_.at("newer"), kT);
  setModified(src_.at("older"), kT);
  setModified(trg_.at("older"), kT + kTwoSeconds + 1);
  ASSERT_RC_OK(compare());
  EXPECT_EQ(categories("equal"), 0u);
  EXPECT_EQ(categories("newer"), static_cast<uint32_t>(NewerInSource));
  EXPECT_EQ(categories("older"), static_cast<uint32_t>(NewerInTarget));
}

// Pairs of files, same content unless named "size", whose target is later by the given ticks.
struct ShiftCase {
  const char* name;
  uint64_t later;
};
constexpr uint64_t kHour = 36000000000ull;
constexpr ShiftCase kShiftCases[] = {
    {"one-hour", kHour},
    {"one-hour-less-2s", kHour - kTwoSeconds},
    {"two-hours", 2 * kHour},
    {"one-hour-3s", kHour + 3 * kTwoSeconds / 2},
    {"size-one-hour", kHour},
    {"half-hour", kHour / 2},
};

TEST_F(ComparisonTest, WholeHourShiftsCountAsEqualUpToTheAllowance) {
  for (const ShiftCase& c : kShiftCases) {
    writeFile(src_.at(c.name), "same");
    writeFile(trg_.at(c.name), std::string(c.name).rfind("size", 0) == 0 ? "longer" : "same");
    setModified(src_.at(c.name), kT);
    setModified(trg_.at(c.name), kT + c.later);
  }
  // The source later instead: the shift counts either way.
  writeFile(src_.at("back"), "x");
  writeFile(trg_.at("back"), "x");
  setModified(src_.at("back"), kT + kHour);
  setModified(trg_.at("back"), kT);
  const uint32_t newer = NewerInTarget;
  const uint32_t sized = NewerInTarget | SizeDiffers;
  struct Want {
    uint32_t hours;
    uint32_t oneHour, lessTwo, twoHours, plusThree, size, half, back;
  };
  const Want wants[] = {
      {0, newer, newer, newer, newer, sized, newer, NewerInSource},  // as without the option
      {1, 0, 0, newer, newer, sized, newer, 0},
      {2, 0, 0, 0, newer, sized, newer, 0},
      {99, 0, 0, 0, newer, sized, newer, 0},  // beyond 24 counts as 24
  };
  for (const Want& w : wants) {
    timeShiftHours_ = w.hours;
    ASSERT_RC_OK(compare());
    SCOPED_TRACE(w.hours);
    EXPECT_EQ(categories("one-hour"), w.oneHour);
    EXPECT_EQ(categories("one-hour-less-2s"), w.lessTwo);
    EXPECT_EQ(categories("two-hours"), w.twoHours);
    EXPECT_EQ(categories("one-hour-3s"), w.plusThree);
    EXPECT_EQ(categories("size-one-hour"), w.size);
    EXPECT_EQ(categories("half-hour"), w.half);
    EXPECT_EQ(categories("back"), w.back);
  }
  EXPECT_FALSE(withinTimeShift(kT, kT, 1));  // equal times are the tolerance's, not a shift's
  EXPECT_TRUE(withinTimeShift(kT, kT + 24 * kHour, 24));
  EXPECT_FALSE(withinTimeShift(kT, kT + 25 * kHour, 24));
}

TEST_F(ComparisonTest, ClassifyComparesTimesAsNumbersNearZero) {
  FileNode n{};
  char16_t name[] = u"f";
  n.name = name;
  n.side[0] = SideInfo{0, 5, 1};
  classifyEntry(&n, 1, u"f", 0, 5, 1);
  EXPECT_EQ(n.flags, 0u);  // both zero
  n.flags = 0;
  n.side[0] = SideInfo{kTwoSeconds + 1, 5, 1};
  classifyEntry(&n, 1, u"f", 0, 5, 1);
  EXPECT_EQ(n.flags, static_cast<uint32_t>(NewerInSource));
  n.flags = 0;
  n.side[0] = SideInfo{5, 5, 1};
  classifyEntry(&n, 1, u"F", kTwoSeconds + 6, 6, 3);
  EXPECT_EQ(n.flags, static_cast<uint32_t>(NewerInTarget | SizeDiffers | CaseOrAttrDiffers));
  EXPECT_EQ(n.side[1].size, 6u);
  EXPECT_EQ(n.side[1].attributes, 3);
}

TEST_F(ComparisonTest, IdenticalTreeOfThousandsHasNoCategoryAnywhere) {
  int files = 0;
  for (int d = 0; d < 30; ++d)
    for (int f = 0; f < 70; ++f, ++files) {
      std::string rel = "d" + std::to_string(d) + "/sub" + std::to_string(f % 3) + "/f" +
                        std::to_string(f) + ".txt";
      writeFile(src_.at(rel), rel);
      writeFile(trg_.at(rel), rel);
      setModified(src_.at(rel), kT + f);
      setModified(trg_.at(rel), kT + f);
    }
  ASSERT_RC_OK(compare());
  int seen = 0;
  std::function<void(FileNode*)> walk = [&](FileNode* tree) {
    forEachInOrder(tree, [&](FileNode* n) {
      EXPECT_EQ(n->flags & kCategoryBits, 0u) << toUtf8(n->name);
      if (!isFolder(n)) ++seen;
      if (n->children) walk(n->children);
    });
  };
  walk(roots_->children);
  EXPECT_EQ(seen, files);
  SideCounts* t = totals();
  for (int s = 0; s < 2; ++s) {
    EXPECT_EQ(t[s].filesExisting, static_cast<uint32_t>(files));
    EXPECT_EQ(t[s].filesAdd + t[s].filesModify + t[s].filesDelete, 0u);
  }
}

TEST_F(ComparisonTest, DefaultMasksTallyAddsAndAttributeOnlyChanges) {
  writeFile(trg_.at("only-target.bin"), std::string(300, 't'));
  writeFile(src_.at("attrs"), "same");
  writeFile(trg_.at("attrs"), "same");
  setModified(src_.at("attrs"), kT);
  setModified(trg_.at("attrs"), kT);
  systemFs().setAttributes(src_.at("attrs").c_str(), attr::ReadOnly | attr::Archive);
  ASSERT_RC_OK(compare());
  EXPECT_EQ(categories("attrs"), static_cast<uint32_t>(CaseOrAttrDiffers));
  SideCounts* t = totals();
  // Only in the target: copied to the source.
  EXPECT_EQ(t[0].filesAdd, 1u);
  EXPECT_EQ(t[0].bytesAdd, 300u);
  EXPECT_EQ(t[1].filesExisting, 2u);
  // Attributes alone: one modified target file, no bytes moved.
  EXPECT_EQ(t[1].filesModify, 1u);
  EXPECT_EQ(t[1].bytesAdd, 0u);
  EXPECT_EQ(t[1].bytesDelete, 0u);
  systemFs().setAttributes(src_.at("attrs").c_str(), attr::Archive);
}

TEST_F(ComparisonTest, DeletingMaskTalliesDeletionsAndExcludedFilesOnlyExist) {
  writeFile(trg_.at("gone.txt"), std::string(42, 'g'));
  writeFile(trg_.at("dir/skip.txt"), std::string(7, 's'));
  ASSERT_RC_OK(compare());
  node("dir/skip.txt")->flags |= Excluded;
  SideCounts* t = totals(kDefaultFlagsSrc | OnlyInTarget, 0);
  EXPECT_EQ(t[1].filesDelete, 1u);
  EXPECT_EQ(t[1].bytesDelete, 42u);
  EXPECT_EQ(t[1].filesExisting, 2u);
  EXPECT_EQ(t[1].bytesExisting, 49u);
  // The excluded file's folder still says that something below it has an action.
  EXPECT_TRUE(node("dir")->flags & HasAction);
}

TEST_F(ComparisonTest, EmptySourceOnlyFolderCountsNothingButMarksItsParent) {
  makeDir(src_.at("parent/empty"));
  makeDir(trg_.at("parent"));
  ASSERT_RC_OK(compare());
  EXPECT_EQ(categories("parent/empty"), Folder | OnlyInSource);
  SideCounts* t = totals();
  EXPECT_EQ(t[0].filesExisting + t[1].filesAdd, 0u);
  EXPECT_TRUE(node("parent")->flags & HasAction);
  EXPECT_TRUE(node("parent")->flags & HasColor);
  // With the category at "No change" the mark goes away.
  totals(kDefaultFlagsSrc & ~CategoryOnlyInSource, kDefaultFlagsTrg);
  EXPECT_FALSE(node("parent")->flags & HasAction);
}

TEST_F(ComparisonTest, SyncDirectionLetsPresenceAndTimeDecideBeforeOtherDifferences) {
  EXPECT_EQ(syncDirection(NewerInTarget | SizeDiffers, kDefaultFlagsSrc, kDefaultFlagsTrg), 0);
  EXPECT_EQ(syncDirection(NewerInSource | SizeDiffers, 0xC0, kDefaultFlagsTrg), 1);
  EXPECT_EQ(syncDirection(SizeDiffers, 0, 0xC0), 0);
  EXPECT_EQ(syncDirection(OnlyInTarget, kDefaultFlagsSrc | OnlyInTarget, 0), 1);
}

TEST_F(ComparisonTest, RowsPairByIndexAndAnEmptyTargetNamesTheRootAfterTheSource) {
  TempDir second;
  writeFile(src_.at("a.txt"), "a");
  writeFile(second.at("b.txt"), "b");
  source_.roots = {src_.path(), second.path()};
  target_.roots = {trg_.path(), u""};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  ASSERT_NE(roots_, nullptr);
  FileNode* r2 = roots_->link[1];
  ASSERT_NE(r2, nullptr);
  EXPECT_EQ(roots_->link[0], nullptr);
  EXPECT_EQ(std::u16string(roots_->name), trg_.path());
  EXPECT_EQ(std::u16string(r2->name), second.path());
  EXPECT_EQ(roots_->flags, static_cast<uint32_t>(Folder));
  EXPECT_EQ(categories("a.txt"), static_cast<uint32_t>(OnlyInSource));
  EXPECT_EQ(node("b.txt", r2)->flags & kCategoryBits, static_cast<uint32_t>(OnlyInSource));
  // A shorter target list counts as empty rows.
  target_.roots = {trg_.path()};
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  ASSERT_NE(roots_->link[1], nullptr);
  EXPECT_EQ(std::u16string(roots_->link[1]->name), second.path());
}

// A root that does not exist: the masks decide whether that spares what the sync would delete
// on the other side (an unmounted drive under a mirror), or whether the sync creates the root
// by copying into it (a new backup folder, here below a folder that does not exist either).
TEST_F(ComparisonTest, AMissingRootSparesDeletionsOrIsCreatedAsTheMasksSay) {
  TempDir second;
  writeFile(src_.at("docs/a.txt"), "a");
  writeFile(second.at("b.txt"), "b");
  source_.roots = {src_.path(), second.at("unplugged"), src_.at("empty")};
  target_.roots = {trg_.at("new/backup"), second.path(), trg_.at("also-new")};
  makeDir(src_.at("empty"));
  ASSERT_RC_OK(compareInputs(&source_, &target_));
  const std::vector<MissingRoot> missing = missingRoots(*fs_, &source_, &target_);
  ASSERT_EQ(missing.size(), 3u);  // the source's first
  auto effects = [&](uint32_t flagsSrc, uint32_t flagsTrg) {
    std::string out;
    for (const MissingRoot& m : missing) {
      MissingRootEffect e = missingRootEffect(roots_, m, makeMarkMasks(flagsSrc, flagsTrg, 0));
      out += std::to_string(m.row) + ":" + (e.keepsEntries ? "k" : "") +
             (e.writesInto ? "w" : "") + " ";
    }
    return out;
  };
  EXPECT_EQ(effects(kDefaultFlagsSrc, kDefaultFlagsTrg), "1:w 0:w 2: ");
  EXPECT_EQ(effects(0xFC, 0), "1:k 0:w 2: ");
  // Nothing goes either way: the unplugged side spares nothing.
  EXPECT_EQ(effects(0xD8, 0), "1: 0:w 2: ");
  // An unticked entry is spared by the user, not by the missing root.
  node("b.txt", roots_->link[1])->flags |= Excluded;
  EXPECT_EQ(effects(0xFC, 0), "1: 0:w 2: ");
  // A row the tree does not have.
  EXPECT_FALSE(missingRootEffect(roots_, MissingRoot{7, 1, u""}, makeMarkMasks(0xFC, 0, 0))
                   .writesInto);
}

// Every node below a folder in name order, as "path flags side0 side1".
void flatten(FileNode* tree, const std::string& at, std::vector<std::string>* out) {
  forEachInOrder(tree, [&](FileNode* x) {
    std::string path = at + "/" + toUtf8(sideName(x, 0)) + "|" + toUtf8(sideName(x, 1));
    std::string line = path + " " + std::to_string(x->flags & ~static_cast<uint32_t>(Red));
    for (const SideInfo& i : x->side)
      line += " " + std::to_string(i.modified) + "," + std::to_string(i.size) + "," +
              std::to_string(i.attributes);
    out->push_back(line);
    if (x->children) flatten(x->children, path, out);
  });
}

TEST_F(ComparisonTest, FolderPairedAcrossLetterCaseHoldsWhatTheSameSpellingWouldGive) {
  // The same entries below "alike" on both sides and below "Paired"/"paired": the pairing
  // moves the target's entries over one by one and must merge them as the listing did.
  for (std::string source : {"alike", "Paired"}) {
    std::string target = source == "alike" ? source : "paired";
    auto put = [&](const TempDir& side, const std::string& rel, const std::string& content,
                   uint64_t t = kT) {
      writeFile(side.at(rel), content);
      setModified(side.at(rel), t);
    };
    auto both = [&](const std::string& rel, const std::string& content, uint64_t t = kT) {
      put(src_, source + "/" + rel, content);
      put(trg_, target + "/" + rel, content, t);
    };
    both("same.txt", "same");
    both("newer.txt", "target's", kT + 10 * kTwoSeconds);
    both("sub/deeper/in.txt", "in");
    put(src_, source + "/sub/only-source.txt", "s");
    put(trg_, target + "/sub/only-target.txt", "t");
    // A file against a folder, either way round.
    put(src_, source + "/mixed", "file");
    put(trg_, target + "/mixed/in.txt", "in a folder");
    put(src_, source + "/mixed2/in.txt", "in a folder");
    put(trg_, target + "/mixed2", "file");
#ifndef _WIN32
    // A FIFO against a file, and a link to a folder against a folder.
    put(src_, source + "/pipe", "a file on the source");
    ASSERT_EQ(mkfifo(toUtf8(trg_.at(target + "/pipe")).c_str(), 0600), 0);
    put(src_, source + "/linked/x.txt", "x");
    ASSERT_EQ(symlink(toUtf8(trg_.path()).c_str(), toUtf8(trg_.at(target + "/linked")).c_str()),
              0);
#endif
  }
  ASSERT_RC_OK(compare());
  FileNode* alike = node("alike");
  FileNode* paired = node("Paired");
  ASSERT_NE(alike, nullptr);
  ASSERT_NE(paired, nullptr);
  EXPECT_EQ(paired->flags & (Folder | OtherSpelling | kCategoryBits),
            static_cast<uint32_t>(Folder | OtherSpelling));
  std::vector<std::string> listed, moved;
  flatten(alike->children, "", &listed);
  flatten(paired->children, "", &moved);
  EXPECT_EQ(moved, listed);
  EXPECT_EQ(categories("alike/mixed") & (OnlyInSource | OnlyInTarget), 0u);
}

TEST_F(ComparisonTest, SavedSideWithoutAReaderIsRefused) {
  SideInput saved;
  saved.roots = {u"x"};
  saved.savedFile = u"state.fws";
  EXPECT_EQ(compareInputs(&saved, nullptr), Rc::BadRequest);
  EXPECT_EQ(roots_, nullptr);
}

}  // namespace
}  // namespace fw
