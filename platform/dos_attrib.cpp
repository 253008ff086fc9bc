#include "platform/dos_attrib.h"

namespace fw {

bool parseDosAttrib(const char* value, size_t size, uint32_t* attributes) {
  while (size > 0 && value[size - 1] == 0) --size;
  if (size < 3 || size > 10 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))
    return false;
  uint32_t v = 0;
  for (size_t i = 2; i < size; ++i) {
    char c = value[i];
    uint32_t d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = (v << 4) | d;
  }
  *attributes = v;
  return true;
}

size_t formatDosAttrib(uint32_t attributes, char* out) {
  static const char digits[] = "0123456789abcdef";
  char tmp[8];
  size_t n = 0;
  do {
    tmp[n++] = digits[attributes & 0xF];
    attributes >>= 4;
  } while (attributes != 0);
  out[0] = '0';
  out[1] = 'x';
  for (size_t i = 0; i < n; ++i) out[2 + i] = tmp[n - 1 - i];
  return n + 2;
}

}  // namespace fw
