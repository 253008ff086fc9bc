#include "cli/json.h"

#include <cstdio>

#include "platform/text.h"

namespace fw {

std::string jsonString(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    // Copy one valid multi-byte sequence as it is, or replace one bad byte.
    size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    char16_t probe[2];
    if (len > 1 && i + len <= s.size() &&
        utf8ToUtf16(s.data() + i, len, probe, 2) != kConversionFailed) {
      out.append(s.data() + i, len);
      i += len;
    } else {
      out += "\\ufffd";
      ++i;
    }
  }
  out += '"';
  return out;
}

}  // namespace fw
