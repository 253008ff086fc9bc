#include "core/temporary_name.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/testing/temp_dir.h"

namespace fw {
namespace {

TEST(TemporaryNameTest, NamesAreRecognisableAndDiffer) {
  char16_t a[kTemporaryNameUnits + 1], b[kTemporaryNameUnits + 1];
  makeTemporaryName(a);
  makeTemporaryName(b);
  EXPECT_NE(std::u16string(a), std::u16string(b));
  EXPECT_TRUE(isTemporaryName(a));
  EXPECT_FALSE(isTemporaryName(u"~fw0123456789abcdef.fwtm"));
  EXPECT_FALSE(isTemporaryName(u"~fw0123456789ABCDEF.fwtmp"));
  EXPECT_FALSE(isTemporaryName(u"~fw0123456789abcdef.fwtmpx"));
}

TEST(TemporaryNameTest, PathBesideADestinationIsInItsFolderAndFree) {
  TempDir dir;
  std::u16string first, second;
  ASSERT_TRUE(temporaryPathBeside(systemFs(), dir.at("file"), &first));
  EXPECT_EQ(first.substr(0, dir.path().size() + 1), dir.path() + kPathSeparator);
  EXPECT_TRUE(isTemporaryName(first.c_str() + dir.path().size() + 1));
  writeFile(first, "taken");
  ASSERT_TRUE(temporaryPathBeside(systemFs(), dir.at("file"), &second));
  EXPECT_NE(first, second);
  // Without a folder part: a name in the current folder.
  ASSERT_TRUE(temporaryPathBeside(systemFs(), u"file", &first));
  EXPECT_TRUE(isTemporaryName(first.c_str()));
}

}  // namespace
}  // namespace fw
