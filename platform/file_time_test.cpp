#include "platform/file_time.h"

#include <gtest/gtest.h>

#include <cstdint>

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

TEST(FileTimeTest, TimesBeyondTheLastFileTimeClampInsteadOfWrapping) {
  // A file dated in the year 60,056 (tmpfs holds such a time): once it wrapped round to 1601.
  const int64_t year60056 = (60056 - 1970) * 31556952ll;
  EXPECT_EQ(unixToFileTime(year60056, 0), kMaxFileTime);
  EXPECT_EQ(unixToFileTime(INT64_MAX, 999999999), kMaxFileTime);
  // The last whole second below the limit is still exact, and later is never earlier.
  const int64_t last =
      static_cast<int64_t>(kMaxFileTime / kTicksPerSecond) - kEpochDifferenceSeconds;
  EXPECT_EQ(unixToFileTime(last - 1, 0), (kMaxFileTime / kTicksPerSecond - 1) * kTicksPerSecond);
  EXPECT_LE(unixToFileTime(last - 1, 999999999), unixToFileTime(last, 999999999));
  EXPECT_LE(unixToFileTime(last, 999999999), kMaxFileTime);
  // The other way, a time beyond the limit (a damaged or hostile saved file) is the limit.
  int64_t s, ns, maxS, maxNs;
  fileTimeToUnix(UINT64_MAX, &s, &ns);
  fileTimeToUnix(kMaxFileTime, &maxS, &maxNs);
  EXPECT_EQ(s, maxS);
  EXPECT_EQ(ns, maxNs);
  EXPECT_EQ(unixToFileTime(maxS, maxNs), kMaxFileTime);
}

TEST(FileTimeTest, TimesNoFileHereKeepsAreTakenAsTheNearestItDoes) {
  EXPECT_EQ(keptFileTime(0), 0u);  // a folder's time in the saved files
  EXPECT_EQ(keptFileTime(1), kFirstKeptFileTime);
  EXPECT_EQ(keptFileTime(UINT64_MAX), kLastKeptFileTime);
  const uint64_t now = unixToFileTime(1765000000, 123456700);
  EXPECT_EQ(keptFileTime(now), now);
  EXPECT_EQ(keptFileTime(kLastKeptFileTime), kLastKeptFileTime);
#ifndef _WIN32
  // ext4's range: signed 32-bit seconds before 1970, 34 bits' worth after 1901.
  int64_t s, ns;
  fileTimeToUnix(kFirstKeptFileTime, &s, &ns);
  EXPECT_EQ(s, INT32_MIN);
  fileTimeToUnix(kLastKeptFileTime, &s, &ns);
  EXPECT_EQ(s, (int64_t{1} << 34) - 1 + INT32_MIN);
  EXPECT_EQ(ns, 0);
#endif
}

}  // namespace
}  // namespace fw
