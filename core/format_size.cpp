#include "core/format_size.h"

#include <cstdio>

namespace fw {

std::string formatSize(uint64_t n, char decimalPoint) {
  static const char* const units[] = {" B", " kB", " MB", " GB", " TB", " PB", " EB"};
  char text[64];
  if (n <= 1024) {
    std::snprintf(text, sizeof text, "%llu%s", static_cast<unsigned long long>(n), units[0]);
    return text;
  }
  double q = 0;
  int unit = 0;
  while (n > 1024) {
    q = static_cast<double>(n) / 1024.0;
    n = n / 1024 + ((n % 1024) >= 512 ? 1 : 0);  // (n + 512) / 1024 without overflow
    ++unit;
  }
  if (q < 10) {
    std::snprintf(text, sizeof text, "%.1f%s", q, units[unit]);
    for (char* c = text; *c; ++c)
      if (*c == '.') *c = decimalPoint;
  } else {
    std::snprintf(text, sizeof text, "%llu%s", static_cast<unsigned long long>(n), units[unit]);
  }
  return text;
}

}  // namespace fw
