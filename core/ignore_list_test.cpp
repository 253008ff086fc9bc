#include "core/ignore_list.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(IgnoreListTest, DefaultListIgnoresThumbsDbInAnyCaseOnly) {
  EXPECT_TRUE(matchesIgnoreList(kDefaultIgnoreList, u"Thumbs.db"));
  EXPECT_TRUE(matchesIgnoreList(kDefaultIgnoreList, u"THUMBS.DB"));
  EXPECT_FALSE(matchesIgnoreList(kDefaultIgnoreList, u"thumbs.db.old"));
  EXPECT_FALSE(matchesIgnoreList(kDefaultIgnoreList, u"thumbs.d"));
}

TEST(IgnoreListTest, LeadingAsteriskMatchesAnyStart) {
  const char16_t* list = u"*.tmp";
  EXPECT_TRUE(matchesIgnoreList(list, u"a.tmp"));
  EXPECT_TRUE(matchesIgnoreList(list, u"a.b.tmp"));
  EXPECT_TRUE(matchesIgnoreList(list, u".tmp"));
  EXPECT_TRUE(matchesIgnoreList(list, u"A.TMP"));
  EXPECT_FALSE(matchesIgnoreList(list, u"a.tmpx"));
  EXPECT_FALSE(matchesIgnoreList(list, u"tmp"));
}

TEST(IgnoreListTest, SeveralElementsAndTrailingAsterisks) {
  const char16_t* list = u"~*;*.bak";
  EXPECT_TRUE(matchesIgnoreList(list, u"~lock"));
  EXPECT_TRUE(matchesIgnoreList(list, u"~"));
  EXPECT_TRUE(matchesIgnoreList(list, u"old.BAK"));
  EXPECT_FALSE(matchesIgnoreList(list, u"a~b"));
  EXPECT_FALSE(matchesIgnoreList(list, u"bak"));
  EXPECT_TRUE(matchesIgnoreList(u"*", u"anything"));
  EXPECT_TRUE(matchesIgnoreList(u"x* ", u"xylophone"));
  EXPECT_FALSE(matchesIgnoreList(u"x* ", u"axe"));
  EXPECT_TRUE(matchesIgnoreList(u"a*c", u"abbbc"));
  EXPECT_TRUE(matchesIgnoreList(u"a*c", u"acbc"));  // retries after a false start
}

TEST(IgnoreListTest, SpacesBeforeAnElementAreSkippedButNotAfter) {
  EXPECT_TRUE(matchesIgnoreList(u"  a.txt;   b.txt", u"a.txt"));
  EXPECT_TRUE(matchesIgnoreList(u"  a.txt;   b.txt", u"b.txt"));
  EXPECT_FALSE(matchesIgnoreList(u"a.txt ;b.txt", u"a.txt"));
  EXPECT_TRUE(matchesIgnoreList(u"a.txt ;b.txt", u"b.txt"));
}

TEST(IgnoreListTest, SecondAsteriskWithTextAndDoubleAsteriskMatchNothing) {
  EXPECT_FALSE(matchesIgnoreList(u"*a*b", u"ab"));
  EXPECT_FALSE(matchesIgnoreList(u"*a*b", u"xaxb"));
  EXPECT_FALSE(matchesIgnoreList(u"**", u"anything"));
  EXPECT_TRUE(matchesIgnoreList(u"*a*b;c", u"c"));  // the next element still counts
  EXPECT_FALSE(matchesIgnoreList(u"a?c", u"abc"));  // "?" is an ordinary unit
  EXPECT_TRUE(matchesIgnoreList(u"a?c", u"A?C"));
}

TEST(IgnoreListTest, EmptyListsAndMissingArgumentsIgnoreNothing) {
  EXPECT_FALSE(matchesIgnoreList(u"", u"a"));
  EXPECT_FALSE(matchesIgnoreList(u";;;", u"a"));
  EXPECT_FALSE(matchesIgnoreList(nullptr, u"a"));
  EXPECT_FALSE(matchesIgnoreList(u"*", nullptr));
}

}  // namespace
}  // namespace fw
