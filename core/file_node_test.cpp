#include "core/file_node.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(AttrByteTest, MapsTheFourBitsBothWays) {
  EXPECT_EQ(toAttrByte(0x20 | 0x01 | 0x10), 0x05);  // archive + read-only + directory
  EXPECT_EQ(toAttrByte(0x02 | 0x04 | 0x800), 0x0A);  // hidden + system, compressed dropped
  EXPECT_EQ(fromAttrByte(0), 0x80u);
  EXPECT_EQ(fromAttrByte(0x0F), 0x20u | 0x02u | 0x01u | 0x04u);
  EXPECT_EQ(fromAttrByte(0x14), 0x01u);  // bits above 0x08 ignored
}

}  // namespace
}  // namespace fw
