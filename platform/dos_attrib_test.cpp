#include "platform/dos_attrib.h"

#include <gtest/gtest.h>

#include <string>

namespace fw {
namespace {

TEST(DosAttribTest, ReadsAndWritesTheHexTextForm) {
  char out[16];
  EXPECT_EQ(std::string(out, formatDosAttrib(0x26, out)), "0x26");
  EXPECT_EQ(std::string(out, formatDosAttrib(0, out)), "0x0");
  uint32_t a = 0;
  EXPECT_TRUE(parseDosAttrib("0x22", 4, &a));
  EXPECT_EQ(a, 0x22u);
  EXPECT_TRUE(parseDosAttrib("0X2\0", 4, &a));  // terminated, capital X
  EXPECT_EQ(a, 0x2u);
  EXPECT_FALSE(parseDosAttrib("\x03\x00\x00", 3, &a));  // a binary encoding
  EXPECT_FALSE(parseDosAttrib("0x", 2, &a));
  EXPECT_FALSE(parseDosAttrib("0xzz", 4, &a));
}

}  // namespace
}  // namespace fw
