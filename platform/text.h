// UTF-8 <-> UTF-16 conversion, the same on every build so that files written by one build read
// back identically in another.
//
// The strict functions fail on malformed input (a bad UTF-8 sequence, an unpaired surrogate).
// The escaped pair is lossless for any byte string: each byte that is not part of a valid UTF-8
// sequence becomes the lone surrogate U+DC80 + byte, and back. POSIX names use it, since a POSIX
// name is any byte string; such a name cannot be written into the program's files (the strict
// encoder refuses it), which is a clear failure rather than a silently changed name.
#ifndef FERRYWICK_PLATFORM_TEXT_H
#define FERRYWICK_PLATFORM_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace fw {

inline constexpr size_t kConversionFailed = static_cast<size_t>(-1);

// Converts n bytes of UTF-8 into out (capacity units). Returns the number of units written, or
// kConversionFailed when the input is malformed or does not fit. Nothing is terminated.
size_t utf8ToUtf16(const char* in, size_t n, char16_t* out, size_t capacity);
// Converts n units of UTF-16 into out (capacity bytes); same conventions.
size_t utf16ToUtf8(const char16_t* in, size_t n, char* out, size_t capacity);

bool utf8ToUtf16(std::string_view in, std::u16string* out);
bool utf16ToUtf8(std::u16string_view in, std::string* out);

size_t utf8ToUtf16Escaped(const char* in, size_t n, char16_t* out, size_t capacity);
size_t utf16ToUtf8Escaped(const char16_t* in, size_t n, char* out, size_t capacity);

// Convenience for tests and messages: strict conversion, "?" for what does not convert.
std::string toUtf8(std::u16string_view in);
std::u16string toUtf16(std::string_view in);
// Escaped conversion for display: a name read from a POSIX disk comes back as its bytes; other
// lone surrogates become "?".
std::string toUtf8Escaped(std::u16string_view in);
// Escaped conversion of any byte string (a path given on a POSIX command line), losslessly:
// toUtf8Escaped gives the same bytes back.
std::u16string toUtf16Escaped(std::string_view in);

size_t length16(const char16_t* s);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_TEXT_H
