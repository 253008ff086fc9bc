#include "platform/long_path.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fs.h"

namespace fw {
namespace {

std::u16string longForm(const char16_t* path) {
  char16_t buffer[64];
  size_t n = toWindowsLongPath(buffer, 64, path);
  EXPECT_EQ(n, std::u16string(buffer).size());
  return buffer;
}

TEST(LongPathTest, WindowsFormsOfDrivesSharesAndPrefixedPaths) {
  EXPECT_EQ(longForm(u"C:\\data"), u"\\\\?\\C:\\data");
  EXPECT_EQ(longForm(u"\\\\server\\share\\dir"), u"\\\\?\\UNC\\server\\share\\dir");
  EXPECT_EQ(longForm(u"\\\\?\\C:\\x"), u"\\\\?\\C:\\x");
  EXPECT_EQ(longForm(u"relative"), u"\\\\?\\relative");
}

TEST(LongPathTest, RefusesWhatDoesNotFit) {
  char16_t buffer[8];
  EXPECT_EQ(toWindowsLongPath(buffer, 8, u"C:\\abc"), 0u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(toWindowsLongPath(buffer, 8, u"C:\\"), 7u);  // 7 units + terminator
}

TEST(LongPathTest, ExtendPatternDescendsAndStaysInsideTheBuffer) {
  char16_t buffer[16] = u"r\\*";
  buffer[1] = kPathSeparator;
  size_t n = extendPattern(buffer, 16, 3, u"dir");
  ASSERT_EQ(n, 7u);
  std::u16string expect = u"r?dir?*";
  expect[1] = expect[5] = kPathSeparator;
  EXPECT_EQ(std::u16string(buffer), expect);
  // 7 + 8 + 1 = 16 units would leave no room for the terminator.
  EXPECT_EQ(extendPattern(buffer, 16, 7, u"12345678"), 0u);
  EXPECT_EQ(std::u16string(buffer), expect);
  EXPECT_EQ(extendPattern(buffer, 16, 7, u"1234567"), 15u);
}

TEST(LongPathTest, FromLongPathGivesBackWhatTheUserTyped) {
  for (const char16_t* typed : {u"C:\\data\\x", u"\\\\server\\share\\x", u"/home/x"}) {
    char16_t buffer[64];
    ASSERT_GT(toWindowsLongPath(buffer, 64, typed), 0u);
    EXPECT_EQ(fromLongPath(buffer), std::u16string(typed));
  }
  EXPECT_EQ(fromLongPath(u"relative"), u"relative");
}

}  // namespace
}  // namespace fw
