#include "core/file_node.h"

namespace fw {

uint8_t toAttrByte(uint32_t a) {
  uint8_t b = 0;
  if (a & 0x20) b |= 0x01;  // archive
  if (a & 0x02) b |= 0x02;  // hidden
  if (a & 0x01) b |= 0x04;  // read-only
  if (a & 0x04) b |= 0x08;  // system
  return b;
}

uint32_t fromAttrByte(uint8_t b) {
  uint32_t a = 0;
  if (b & 0x01) a |= 0x20;
  if (b & 0x02) a |= 0x02;
  if (b & 0x04) a |= 0x01;
  if (b & 0x08) a |= 0x04;
  return b == 0 ? 0x80 : a;
}

}  // namespace fw
