#include "platform/file_time.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(FileTimeTest, ConvertsBothWaysAtTheEpochAndBeyond) {
  EXPECT_EQ(unixToFileTime(0, 0), 116444736000000000ull);
  EXPECT_EQ(unixToFileTime(1, 999), 116444736010000009ull);
  int64_t s, ns;
  fileTimeToUnix(116444736010000009ull, &s, &ns);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(ns, 900);
  fileTimeToUnix(0, &s, &ns);
  EXPECT_EQ(s, -kEpochDifferenceSeconds);
  EXPECT_EQ(unixToFileTime(-kEpochDifferenceSeconds - 1, 0), 0u);
}

}  // namespace
}  // namespace fw
