#include "core/format_size.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(FormatSizeTest, SwitchesUnitAbove1024AndRoundsHalfUp) {
  EXPECT_EQ(formatSize(0), "0 B");
  EXPECT_EQ(formatSize(1024), "1024 B");
  EXPECT_EQ(formatSize(1536), "1.5 kB");
  EXPECT_EQ(formatSize(10240), "10 kB");
  EXPECT_EQ(formatSize(1048576), "1024 kB");
  EXPECT_EQ(formatSize(1049088), "1.0 MB");
  EXPECT_EQ(formatSize(1536, ','), "1,5 kB");
  EXPECT_EQ(formatSize(UINT64_MAX), "16 EB");
}

}  // namespace
}  // namespace fw
