#include "platform/case_map.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(CaseMapTest, SimpleMappingCoversTheCommonScripts) {
  EXPECT_EQ(simpleLowerCase(u'A'), u'a');
  EXPECT_EQ(simpleLowerCase(u'_'), u'_');
  EXPECT_EQ(simpleLowerCase(u'\u00c9'), u'\u00e9');  // É
  EXPECT_EQ(simpleLowerCase(u'\u00d7'), u'\u00d7');  // × has no case
  EXPECT_EQ(simpleLowerCase(u'\u0100'), u'\u0101');
  EXPECT_EQ(simpleLowerCase(u'\u0101'), u'\u0101');
  EXPECT_EQ(simpleLowerCase(u'\u0139'), u'\u013a');  // odd-start pairs
  EXPECT_EQ(simpleLowerCase(u'\u0178'), u'\u00ff');
  EXPECT_EQ(simpleLowerCase(u'\u0391'), u'\u03b1');  // Greek
  EXPECT_EQ(simpleLowerCase(u'\u0416'), u'\u0436');  // Cyrillic
  EXPECT_EQ(simpleLowerCase(u'\u0401'), u'\u0451');
  EXPECT_EQ(simpleLowerCase(u'\uff21'), u'\uff41');  // full-width
}

TEST(CaseMapTest, TableLowerCasesAsciiAndKeepsTheTerminator) {
  const char16_t* t = lowerCaseTable();
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[u'Z'], u'z');
  EXPECT_EQ(t[u'z'], u'z');
  EXPECT_EQ(t[u'5'], u'5');
  for (unsigned u = 1; u < 65536; ++u) ASSERT_NE(t[u], 0) << u;
}

}  // namespace
}  // namespace fw
