#include "app/logic/file_tree_model.h"

#include <gtest/gtest.h>

#include <deque>

#include "core/comparison.h"
#include "core/sibling_tree.h"
#include "platform/text.h"

namespace fw {
namespace {

// A small hand-built comparison tree; nodes live as long as the fixture.
class TreeBuilder {
 public:
  FileNode* add(FileNode* parent, const char16_t* name, uint32_t flags) {
    names_.emplace_back(name);
    FileNode& n = nodes_.emplace_back();
    n = FileNode{};
    n.name = names_.back().data();
    n.flags = flags;
    if (parent) {
      parent->children = insertNode(parent->children, &n);
      parent->children->flags &= ~Red;
    }
    return &n;
  }

 private:
  std::deque<FileNode> nodes_;
  std::deque<std::u16string> names_;
};

TEST(IconForTest, CategoriesFollowTheColorizeMask) {
  FileNode n{};
  n.flags = Folder | OnlyInTarget | HasColor;
  EXPECT_EQ(iconFor(&n, kDefaultFlagsColorize), 1);
  n.flags = Folder | OnlyInSource;
  EXPECT_EQ(iconFor(&n, kDefaultFlagsColorize), 2);
  n.flags = Folder | HasColor;
  EXPECT_EQ(iconFor(&n, kDefaultFlagsColorize), 3);
  n.flags = Folder;
  EXPECT_EQ(iconFor(&n, kDefaultFlagsColorize), 0);
  const uint32_t files[][2] = {{OnlyInTarget, 5}, {OnlyInSource, 6}, {NewerInSource, 7},
                               {NewerInTarget, 8}, {SizeDiffers, 9}, {CaseOrAttrDiffers, 9},
                               {0, 4}};
  for (const auto& f : files) {
    n.flags = f[0];
    EXPECT_EQ(iconFor(&n, kDefaultFlagsColorize), static_cast<int>(f[1])) << f[0];
  }
  // A category that is not colorized shows the plain icon; only-in-target wins over newer.
  n.flags = NewerInSource;
  EXPECT_EQ(iconFor(&n, kDefaultFlagsColorize & ~NewerInSource), 4);
  n.flags = Folder | OnlyInSource;
  EXPECT_EQ(iconFor(&n, 0), 0);
  n.flags = NewerInSource | SizeDiffers;
  EXPECT_EQ(iconFor(&n, kDefaultFlagsColorize), 7);
}

TEST(ChildrenInOrderTest, FoldersFirstEachGroupAscendingWithoutCase) {
  TreeBuilder b;
  FileNode* root = b.add(nullptr, u"root", Folder);
  b.add(root, u"b.txt", 0);
  b.add(root, u"Zeta", Folder);
  b.add(root, u"A.txt", 0);
  b.add(root, u"alpha", Folder);
  b.add(root, u"c", 0);
  std::vector<std::u16string> names;
  for (FileNode* n : childrenInOrder(root->children)) names.emplace_back(n->name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"alpha", u"Zeta", u"A.txt", u"b.txt", u"c"}));
  EXPECT_TRUE(childrenInOrder(nullptr).empty());
}

TEST(ApplyCheckTest, UntickingExcludesEverythingBelowAndTickingRestores) {
  TreeBuilder b;
  FileNode* pair = b.add(nullptr, u"C:\\t", Folder);
  FileNode* sub = b.add(pair, u"sub", Folder);
  FileNode* deep = b.add(sub, u"deep", Folder);
  FileNode* file = b.add(deep, u"f", NewerInSource);
  FileNode* other = b.add(pair, u"g", 0);
  EXPECT_EQ(applyCheck(pair, {}, false, kDefaultFlagsSrc, kDefaultFlagsTrg), 0u);
  for (FileNode* n : {pair, sub, deep, file, other}) EXPECT_TRUE(n->flags & Excluded);
  applyCheck(sub, {pair}, true, kDefaultFlagsSrc, kDefaultFlagsTrg);
  // The pair root exists on both sides, so it is not taken along.
  EXPECT_TRUE(pair->flags & Excluded);
  EXPECT_TRUE(other->flags & Excluded);
  for (FileNode* n : {sub, deep, file}) EXPECT_FALSE(n->flags & Excluded);
}

TEST(TickStateTest, AFolderWithSomethingUntickedBelowIsPartlyTicked) {
  TreeBuilder b;
  FileNode* pair = b.add(nullptr, u"C:\\t", Folder);
  FileNode* sub = b.add(pair, u"sub", Folder);
  FileNode* deep = b.add(sub, u"deep", Folder);
  FileNode* file = b.add(deep, u"f", 0);
  // Siblings on both sides of the sibling tree, so the walk must look left and right.
  FileNode* first = b.add(pair, u"a", 0);
  FileNode* last = b.add(pair, u"z", 0);
  EXPECT_EQ(tickStateOf(pair), TickState::Ticked);
  EXPECT_EQ(tickStateOf(file), TickState::Ticked);  // a file has nothing below

  // Unticked deep down: every folder above it is partly ticked, the file itself unticked.
  applyCheck(file, {deep, sub, pair}, false, kDefaultFlagsSrc, kDefaultFlagsTrg);
  EXPECT_EQ(tickStateOf(file), TickState::Unticked);
  for (FileNode* n : {deep, sub, pair}) EXPECT_EQ(tickStateOf(n), TickState::PartlyTicked);
  applyCheck(file, {deep, sub, pair}, true, kDefaultFlagsSrc, kDefaultFlagsTrg);
  EXPECT_EQ(tickStateOf(pair), TickState::Ticked);

  for (FileNode* n : {first, last}) {
    applyCheck(n, {pair}, false, kDefaultFlagsSrc, kDefaultFlagsTrg);
    EXPECT_EQ(tickStateOf(pair), TickState::PartlyTicked) << (n == first ? "first" : "last");
    EXPECT_EQ(tickStateOf(sub), TickState::Ticked);
    applyCheck(n, {pair}, true, kDefaultFlagsSrc, kDefaultFlagsTrg);
  }
  // Everything below unticked but the folder itself kept: still partly ticked. The folder
  // unticked: unticked, whatever is below.
  setExcludedBelow(pair, true);
  EXPECT_EQ(tickStateOf(pair), TickState::PartlyTicked);
  applyCheck(pair, {}, false, kDefaultFlagsSrc, kDefaultFlagsTrg);
  EXPECT_EQ(tickStateOf(pair), TickState::Unticked);
  file->flags &= ~Excluded;
  EXPECT_EQ(tickStateOf(pair), TickState::Unticked);
}

// The one-walk boxes against tickStateOf on every node, for marks at the top, deep down, on
// both sides of a sibling tree, and on a folder whose entries are still ticked.
TEST(TickStatesTest, OneWalkAgreesWithTickStateOfEverywhere) {
  TreeBuilder b;
  FileNode* pair = b.add(nullptr, u"C:\\t", Folder);
  std::vector<FileNode*> all{pair};
  for (const char16_t* top : {u"m", u"c", u"x", u"a", u"z"}) {
    FileNode* folder = all.emplace_back(b.add(pair, top, Folder));
    for (const char16_t* sub : {u"k", u"d", u"q"}) {
      FileNode* inner = all.emplace_back(b.add(folder, sub, Folder));
      for (const char16_t* file : {u"5", u"2", u"8", u"1", u"9"})
        all.push_back(b.add(inner, file, 0));
    }
    all.push_back(b.add(folder, u"f", 0));
  }
  auto agrees = [&](const char* what) {
    const TickStates states(pair);
    int partly = 0;
    for (FileNode* n : all) {
      EXPECT_EQ(states.of(n), tickStateOf(n)) << what << ": " << toUtf8(n->name);
      partly += states.of(n) == TickState::PartlyTicked;
    }
    return partly;
  };
  EXPECT_EQ(agrees("nothing unticked"), 0);
  // Each mark alone: the first and last in a sibling tree's order and one in its middle, at
  // every depth.
  for (FileNode* n : all) {
    n->flags |= Excluded;
    const int partly = agrees("one unticked");
    if (n != pair) {
      EXPECT_GT(partly, 0) << toUtf8(n->name);
    }
    n->flags &= ~Excluded;
  }
  // A folder unticked with everything below it ticked, and another partly ticked inside an
  // unticked one.
  all[1]->flags |= Excluded;   // m
  all[21]->flags |= Excluded;  // c
  all[30]->flags |= Excluded;  // a file in c\d
  agrees("several");
}

TEST(ApplyCheckTest, TickingDeepInsideASourceOnlyTreeTicksTheFoldersToCreate) {
  TreeBuilder b;
  FileNode* rootNode = b.add(nullptr, u"Root", Folder);
  FileNode* pair = b.add(nullptr, u"C:\\t", Folder);
  FileNode* both = b.add(pair, u"both", Folder);
  FileNode* a = b.add(both, u"a", Folder | OnlyInSource | Excluded);
  FileNode* bb = b.add(a, u"b", Folder | OnlyInSource | Excluded);
  FileNode* c = b.add(bb, u"c", Folder | OnlyInSource | Excluded);
  FileNode* file = b.add(c, u"f", OnlyInSource | Excluded);
  both->flags |= Excluded;
  EXPECT_EQ(applyCheck(file, {c, bb, a, both, pair, rootNode}, true, kDefaultFlagsSrc,
                       kDefaultFlagsTrg),
            3u);
  for (FileNode* n : {file, c, bb, a}) EXPECT_FALSE(n->flags & Excluded);
  EXPECT_TRUE(both->flags & Excluded);

  // With only-in-source set to the target winning, unticking the file unticks the folders
  // the sync would delete; ticking takes none along.
  const uint32_t src = kDefaultFlagsSrc & ~CategoryOnlyInSource;
  const uint32_t trg = kDefaultFlagsTrg | CategoryOnlyInSource;
  EXPECT_EQ(applyCheck(file, {c, bb, a, both, pair, rootNode}, false, src, trg), 3u);
  for (FileNode* n : {file, c, bb, a}) EXPECT_TRUE(n->flags & Excluded);
  for (FileNode* n : {c, bb, a}) n->flags &= ~Excluded;
  EXPECT_EQ(applyCheck(file, {c, bb, a}, true, src, trg), 0u);
  // With the default actions, unticking a source-only file leaves its folders as they were.
  EXPECT_EQ(applyCheck(file, {c, bb, a}, false, kDefaultFlagsSrc, kDefaultFlagsTrg), 0u);
  EXPECT_FALSE(c->flags & Excluded);
}

TEST(ApplyCheckTest, TargetOnlyFoldersFollowTheirOwnActions) {
  TreeBuilder b;
  FileNode* pair = b.add(nullptr, u"p", Folder);
  FileNode* t = b.add(pair, u"t", Folder | OnlyInTarget);
  FileNode* file = b.add(t, u"f", OnlyInTarget);
  // Default: only-in-target is copied to the source (target wins): ticking takes the folder
  // along, unticking leaves it.
  t->flags |= Excluded;
  EXPECT_EQ(applyCheck(file, {t, pair}, true, kDefaultFlagsSrc, kDefaultFlagsTrg), 1u);
  EXPECT_FALSE(t->flags & Excluded);
  EXPECT_EQ(applyCheck(file, {t, pair}, false, kDefaultFlagsSrc, kDefaultFlagsTrg), 0u);
  EXPECT_FALSE(t->flags & Excluded);
  // With the source winning it would be deleted: unticking keeps it.
  EXPECT_EQ(applyCheck(file, {t, pair}, false, kDefaultFlagsSrc | CategoryOnlyInTarget,
                       kDefaultFlagsTrg & ~CategoryOnlyInTarget),
            1u);
  EXPECT_TRUE(t->flags & Excluded);
}

TEST(EntryPathTest, NamesJoinedAndThePairRootReplaced) {
  EXPECT_EQ(entryPath({u"D:\\target", u"sub", u"f.txt"}), u"D:\\target\\sub\\f.txt");
  EXPECT_EQ(entryPath({u"D:\\target"}), u"D:\\target");
  const std::u16string source = u"C:\\source";
  EXPECT_EQ(entryPath({u"D:\\target", u"f.txt"}, &source), u"C:\\source\\f.txt");
  EXPECT_EQ(folderPart(u"D:\\target\\sub\\f.txt"), u"D:\\target\\sub\\");
  EXPECT_EQ(folderPart(u"nothing"), u"");

  TreeBuilder b;
  FileNode* r0 = b.add(nullptr, u"a", Folder);
  FileNode* r1 = b.add(nullptr, u"b", Folder);
  FileNode* stray = b.add(nullptr, u"c", Folder);
  r0->link[1] = r1;
  EXPECT_EQ(pairRowOf(r0, r0), 0);
  EXPECT_EQ(pairRowOf(r0, r1), 1);
  EXPECT_EQ(pairRowOf(r0, stray), -1);
}

TEST(PanelTextTest, CountsBytesAndDetails) {
  SideCounts c{3, 1, 2, 0, 1025, 1024, 0};
  EXPECT_EQ(fileCountsText(c), "3\n1\n2\n0");
  EXPECT_EQ(byteCountsText(c, ','), "1,0 kB\n1024 B\n0 B\n");
  EXPECT_EQ(fileDetailText({2024, 3, 9, 7, 5}, 0x0F), "  2024-03-09 07:05\n  Attr:  ASHR");
  EXPECT_EQ(fileDetailText({1999, 12, 31, 23, 59}, 0x04), "  1999-12-31 23:59\n  Attr:  R");
}

}  // namespace
}  // namespace fw
