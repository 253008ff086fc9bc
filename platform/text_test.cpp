#include "platform/text.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(TextTest, RoundTripsEveryPlaneAndRefusesMalformedInput) {
  std::u16string wide = u"a\u00e9\u20ac\U0001F600z";
  std::string narrow;
  ASSERT_TRUE(utf16ToUtf8(wide, &narrow));
  EXPECT_EQ(narrow, "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z");
  std::u16string back;
  ASSERT_TRUE(utf8ToUtf16(narrow, &back));
  EXPECT_EQ(back, wide);

  EXPECT_FALSE(utf8ToUtf16(std::string("\xc0\xaf"), &back));      // overlong "/"
  EXPECT_FALSE(utf8ToUtf16(std::string("\xed\xa0\x80"), &back));   // encoded surrogate
  EXPECT_FALSE(utf8ToUtf16(std::string("ab\xe2\x82"), &back));     // cut sequence
  EXPECT_FALSE(utf16ToUtf8(std::u16string(1, u'\xd800'), &narrow));  // lone surrogate
}

TEST(TextTest, EscapedConversionIsLosslessForAnyBytes) {
  const std::string names[] = {"plain", "caf\xe9", "\xff\xfe", "ok\xc3\xa9\x80"};
  for (const std::string& name : names) {
    char16_t wide[64];
    size_t n = utf8ToUtf16Escaped(name.data(), name.size(), wide, 64);
    ASSERT_NE(n, kConversionFailed);
    char back[64];
    size_t m = utf16ToUtf8Escaped(wide, n, back, 64);
    ASSERT_NE(m, kConversionFailed);
    EXPECT_EQ(std::string(back, m), name);
    // The same through the string forms a command line's paths take, never "?".
    EXPECT_EQ(toUtf16Escaped(name), std::u16string(wide, n));
    EXPECT_EQ(toUtf8Escaped(toUtf16Escaped(name)), name);
  }
  EXPECT_EQ(toUtf16Escaped("\xf0\x9f\x98\x80"), u"\U0001F600");  // four bytes, two units
  // An escaped name never equals a valid one: "caf\xe9" is not "café".
  char16_t wide[8];
  size_t n = utf8ToUtf16Escaped("caf\xe9", 4, wide, 8);
  EXPECT_EQ(std::u16string(wide, n), std::u16string(u"caf\xdce9"));
  // The strict encoder refuses escaped names, so they cannot reach a file silently changed.
  char out[16];
  EXPECT_EQ(utf16ToUtf8(wide, n, out, 16), kConversionFailed);
}

TEST(TextTest, ReportsOutputThatDoesNotFit) {
  char16_t small[2];
  EXPECT_EQ(utf8ToUtf16("abc", 3, small, 2), kConversionFailed);
  char tiny[3];
  EXPECT_EQ(utf16ToUtf8(u"\u20ac", 1, tiny, 2), kConversionFailed);
  EXPECT_EQ(utf16ToUtf8(u"\u20ac", 1, tiny, 3), 3u);
}

}  // namespace
}  // namespace fw
