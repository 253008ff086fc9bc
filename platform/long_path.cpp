#include "platform/long_path.h"

#include "platform/fs.h"
#include "platform/text.h"

namespace fw {
namespace {

size_t concat(char16_t* dest, size_t capacity, const char16_t* prefix, const char16_t* rest) {
  size_t p = length16(prefix);
  size_t r = length16(rest);
  if (p + r + 1 > capacity) {
    if (capacity > 0) dest[0] = 0;
    return 0;
  }
  for (size_t i = 0; i < p; ++i) dest[i] = prefix[i];
  for (size_t i = 0; i < r; ++i) dest[p + i] = rest[i];
  dest[p + r] = 0;
  return p + r;
}

}  // namespace

size_t toWindowsLongPath(char16_t* dest, size_t capacity, const char16_t* path) {
  if (path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\')
    return concat(dest, capacity, u"", path);
  if (path[0] == u'\\' && path[1] == u'\\') return concat(dest, capacity, u"\\\\?\\UNC", path + 1);
  return concat(dest, capacity, u"\\\\?\\", path);
}

size_t toLongPath(char16_t* dest, size_t capacity, const char16_t* path) {
#ifdef _WIN32
  return toWindowsLongPath(dest, capacity, path);
#else
  return concat(dest, capacity, u"", path);
#endif
}

size_t extendPattern(char16_t* buffer, size_t capacity, size_t patternLength,
                     const char16_t* name) {
  size_t n = length16(name);
  size_t length = patternLength + n + 1;
  if (patternLength == 0 || length + 1 > capacity) return 0;
  char16_t* at = buffer + patternLength - 1;
  for (size_t i = 0; i < n; ++i) at[i] = name[i];
  at[n] = kPathSeparator;
  at[n + 1] = u'*';
  at[n + 2] = 0;
  return length;
}

std::u16string fromLongPath(const char16_t* path) {
  std::u16string_view p(path);
  if (p.substr(0, 8) == u"\\\\?\\UNC\\") return u"\\" + std::u16string(p.substr(7));
  if (p.substr(0, 4) == u"\\\\?\\") return std::u16string(p.substr(4));
  return std::u16string(p);
}

}  // namespace fw
