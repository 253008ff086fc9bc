#include "core/sibling_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/node_pool.h"
#include "core/result_test_util.h"
#include "platform/text.h"

namespace fw {
namespace {

class SiblingTreeTest : public ::testing::Test {
 protected:
  FileNode* add(const char16_t* name) {
    FileNode* n;
    EXPECT_EQ(pool_.allocateNode(&n), Rc::Ok);
    EXPECT_EQ(pool_.allocateName(name, length16(name), &n->name), Rc::Ok);
    root_ = insertNode(root_, n);
    root_->flags &= ~Red;
    return n;
  }
  std::vector<std::u16string> inOrder() {
    std::vector<std::u16string> out;
    forEachInOrder(root_, [&](FileNode* n) { out.push_back(n->name); });
    return out;
  }
  // Black height of a subtree, or -1 when a red-black rule is broken.
  static int check(FileNode* n) {
    if (!n) return 1;
    if ((n->flags & Red) && (((n->link[0] && (n->link[0]->flags & Red))) ||
                             (n->link[1] && (n->link[1]->flags & Red))))
      return -1;
    int l = check(n->link[0]);
    int r = check(n->link[1]);
    if (l < 0 || r < 0 || l != r) return -1;
    return l + ((n->flags & Red) ? 0 : 1);
  }
  static int height(FileNode* n) {
    return n ? 1 + std::max(height(n->link[0]), height(n->link[1])) : 0;
  }

  NodePool pool_;
  FileNode* root_ = nullptr;
};

TEST_F(SiblingTreeTest, OrdersWithoutRegardToCaseAndFindsTheExactSpelling) {
  add(u"b");
  add(u"A");
  add(u"c");
  EXPECT_EQ(inOrder(), (std::vector<std::u16string>{u"A", u"b", u"c"}));
  FileNode* b = findNode(root_, u"b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::u16string(b->name), u"b");
  EXPECT_EQ(findNode(root_, u"B"), nullptr);
  EXPECT_EQ(findNode(root_, u"d"), nullptr);
  EXPECT_EQ(findNode(nullptr, u"a"), nullptr);
}

TEST_F(SiblingTreeTest, ThreeAscendingInsertsRotateToABlackRoot) {
  add(u"a");
  add(u"b");
  add(u"c");
  ASSERT_EQ(std::u16string(root_->name), u"b");
  EXPECT_FALSE(root_->flags & Red);
  EXPECT_EQ(std::u16string(root_->link[0]->name), u"a");
  EXPECT_EQ(std::u16string(root_->link[1]->name), u"c");
  EXPECT_TRUE(root_->link[0]->flags & Red);
  EXPECT_TRUE(root_->link[1]->flags & Red);
}

TEST_F(SiblingTreeTest, LongAscendingAndDescendingRunsStayBalanced) {
  for (int i = 0; i < 5000; ++i) add(toUtf16("n" + std::to_string(100000 + i)).c_str());
  for (int i = 0; i < 5000; ++i) add(toUtf16("m" + std::to_string(900000 - i)).c_str());
  EXPECT_GT(check(root_), 0);
  EXPECT_LE(height(root_), 2 * 14 + 2);  // 2 log2(10000) + slack
  EXPECT_FALSE(root_->flags & Red);
  std::vector<std::u16string> all = inOrder();
  ASSERT_EQ(all.size(), 10000u);
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LE(compareNames(all[i - 1].c_str(), all[i].c_str()), 0);
}

TEST(CompareNamesTest, UnderscoreSortsBeforeLettersAndShorterFirst) {
  EXPECT_LT(compareNames(u"_x", u"ax"), 0);
  EXPECT_LT(compareNames(u"_x", u"AX"), 0);  // 'A' lowers to 'a' (0x61) > '_' (0x5F)
  EXPECT_LT(compareNames(u"ab", u"abc"), 0);
  EXPECT_GT(compareNames(u"abc", u"AB"), 0);
  EXPECT_EQ(compareNames(u"MiXeD", u"mixed"), 0);
  EXPECT_EQ(compareNames(u"\u00c9t\u00e9", u"\u00e9T\u00c9"), 0);
  EXPECT_EQ(compareNames(u"", u""), 0);
}

TEST_F(SiblingTreeTest, CaseTwinsAreKeptSideBySideInExactOrder) {
  add(u"same");
  add(u"x");
  add(u"Same");
  add(u"SAME");
  EXPECT_EQ(inOrder(), (std::vector<std::u16string>{u"SAME", u"Same", u"same", u"x"}));
  for (const char16_t* n : {u"same", u"Same", u"SAME"}) {
    FileNode* f = findNode(root_, n);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::u16string(f->name), n);
  }
  EXPECT_EQ(findNode(root_, u"sAme"), nullptr);
}

}  // namespace
}  // namespace fw
