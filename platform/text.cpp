#include "platform/text.h"

namespace fw {
namespace {

// Decodes one UTF-8 sequence at in[i]; returns its length and the code point, or 0 when the
// bytes there are not a valid, shortest-form sequence of a scalar value.
size_t decodeUtf8(const unsigned char* in, size_t n, size_t i, char32_t* cp) {
  unsigned char b = in[i];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  size_t len;
  char32_t min;
  char32_t v;
  if ((b & 0xE0) == 0xC0) {
    len = 2, min = 0x80, v = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, min = 0x800, v = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, v = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    unsigned char c = in[i + k];
    if ((c & 0xC0) != 0x80) return 0;
    v = (v << 6) | (c & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

size_t put16(char32_t cp, char16_t* out, size_t at, size_t capacity) {
  if (cp < 0x10000) {
    if (at + 1 > capacity) return kConversionFailed;
    out[at] = static_cast<char16_t>(cp);
    return at + 1;
  }
  if (at + 2 > capacity) return kConversionFailed;
  cp -= 0x10000;
  out[at] = static_cast<char16_t>(0xD800 + (cp >> 10));
  out[at + 1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  return at + 2;
}

size_t put8(char32_t cp, char* out, size_t at, size_t capacity) {
  size_t len = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  if (at + len > capacity) return kConversionFailed;
  if (len == 1) {
    out[at] = static_cast<char>(cp);
  } else {
    static const unsigned char lead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t k = len - 1; k > 0; --k) {
      out[at + k] = static_cast<char>(0x80 | (cp & 0x3F));
      cp >>= 6;
    }
    out[at] = static_cast<char>(lead[len] | cp);
  }
  return at + len;
}

size_t toUtf16Impl(const char* in, size_t n, char16_t* out, size_t capacity, bool escape) {
  const auto* u = reinterpret_cast<const unsigned char*>(in);
  size_t at = 0;
  for (size_t i = 0; i < n;) {
    char32_t cp;
    size_t len = decodeUtf8(u, n, i, &cp);
    if (len == 0) {
      if (!escape) return kConversionFailed;
      cp = 0xDC00 + u[i];  // u[i] >= 0x80 here: ASCII always decodes
      len = 1;
    }
    at = put16(cp, out, at, capacity);
    if (at == kConversionFailed) return at;
    i += len;
  }
  return at;
}

size_t toUtf8Impl(const char16_t* in, size_t n, char* out, size_t capacity, bool escape) {
  size_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (!escape || cp < 0xDC80 || cp > 0xDCFF) return kConversionFailed;
      if (at + 1 > capacity) return kConversionFailed;
      out[at++] = static_cast<char>(cp - 0xDC00);
      continue;
    }
    at = put8(cp, out, at, capacity);
    if (at == kConversionFailed) return at;
  }
  return at;
}

}  // namespace

size_t utf8ToUtf16(const char* in, size_t n, char16_t* out, size_t capacity) {
  return toUtf16Impl(in, n, out, capacity, false);
}
size_t utf16ToUtf8(const char16_t* in, size_t n, char* out, size_t capacity) {
  return toUtf8Impl(in, n, out, capacity, false);
}
size_t utf8ToUtf16Escaped(const char* in, size_t n, char16_t* out, size_t capacity) {
  return toUtf16Impl(in, n, out, capacity, true);
}
size_t utf16ToUtf8Escaped(const char16_t* in, size_t n, char* out, size_t capacity) {
  return toUtf8Impl(in, n, out, capacity, true);
}

bool utf8ToUtf16(std::string_view in, std::u16string* out) {
  out->resize(in.size());
  size_t n = utf8ToUtf16(in.data(), in.size(), out->data(), out->size());
  if (n == kConversionFailed) {
    out->clear();
    return false;
  }
  out->resize(n);
  return true;
}

bool utf16ToUtf8(std::u16string_view in, std::string* out) {
  out->resize(in.size() * 3);
  size_t n = utf16ToUtf8(in.data(), in.size(), out->data(), out->size());
  if (n == kConversionFailed) {
    out->clear();
    return false;
  }
  out->resize(n);
  return true;
}

std::string toUtf8(std::u16string_view in) {
  std::string out;
  if (!utf16ToUtf8(in, &out)) return "?";
  return out;
}

std::u16string toUtf16(std::string_view in) {
  std::u16string out;
  if (!utf8ToUtf16(in, &out)) return u"?";
  return out;
}

std::u16string toUtf16Escaped(std::string_view in) {
  std::u16string out(in.size(), u'\0');  // one unit a byte at the most
  size_t n = utf8ToUtf16Escaped(in.data(), in.size(), out.data(), out.size());
  out.resize(n == kConversionFailed ? 0 : n);
  return out;
}

std::string toUtf8Escaped(std::u16string_view in) {
  std::string out(in.size() * 3, '\0');
  size_t n = utf16ToUtf8Escaped(in.data(), in.size(), out.data(), out.size());
  if (n != kConversionFailed) {
    out.resize(n);
    return out;
  }
  std::u16string cleaned(in);
  for (char16_t& c : cleaned)
    if (c >= 0xD800 && c <= 0xDFFF && (c < 0xDC80 || c > 0xDCFF)) c = u'?';
  n = utf16ToUtf8Escaped(cleaned.data(), cleaned.size(), out.data(), out.size());
  out.resize(n == kConversionFailed ? 0 : n);
  return out;
}

size_t length16(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace fw
