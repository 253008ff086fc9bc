#include "platform/windows_name.h"

namespace fw {
namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Whether the part of the name before its first dot (the whole name when it has none) is a
// device's: "CON", "nul", "COM1", "lpt9", "COM\u00b9".
bool isDeviceName(const char16_t* name, size_t length) {
  size_t stem = 0;
  while (stem < length && name[stem] != u'.') ++stem;
  // Windows also drops spaces before the extension: "NUL .txt" is the device too.
  while (stem > 0 && name[stem - 1] == u' ') --stem;
  auto is = [&](const char* word) {
    for (size_t i = 0; i < 3; ++i)
      if (upper(name[i]) != static_cast<char16_t>(word[i])) return false;
    return true;
  };
  if (stem == 3) return is("CON") || is("PRN") || is("AUX") || is("NUL");
  if (stem != 4 || !(is("COM") || is("LPT"))) return false;
  char16_t digit = name[3];
  return (digit >= u'1' && digit <= u'9') || digit == u'\u00b9' || digit == u'\u00b2' ||
         digit == u'\u00b3';
}

}  // namespace

bool holdsCharacterWindowsRefuses(const char16_t* name, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char16_t c = name[i];
    if (c < 32) return true;
    switch (c) {
      case u'<':
      case u'>':
      case u':':
      case u'"':
      case u'/':
      case u'\\':
      case u'|':
      case u'?':
      case u'*': return true;
      default: break;
    }
  }
  return false;
}

bool allowedOnWindows(const char16_t* name, size_t length) {
  if (length == 0 || holdsCharacterWindowsRefuses(name, length)) return false;
  char16_t last = name[length - 1];
  if (last == u'.' || last == u' ') return false;
  return !isDeviceName(name, length);
}

}  // namespace fw
