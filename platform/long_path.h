// Long-path forms of root folders, and the pattern of a folder's enumeration.
#ifndef FERRYWICK_PLATFORM_LONG_PATH_H
#define FERRYWICK_PLATFORM_LONG_PATH_H

#include <cstddef>
#include <string>

namespace fw {

// The Windows extended-length form: "\\?\..." unchanged; "\\server\share" becomes
// "\\?\UNC\server\share"; anything else gets "\\?\" in front. The path is not otherwise
// examined. Writes the terminated result into dest (capacity units) and returns its length, or
// 0 when it does not fit (dest then holds an empty string).
size_t toWindowsLongPath(char16_t* dest, size_t capacity, const char16_t* path);

// The form in which this build hands a root to the file functions: the Windows form above on
// Windows, the path unchanged on POSIX. Same return convention.
size_t toLongPath(char16_t* dest, size_t capacity, const char16_t* path);

// A path as a user gave it: without the long-path prefix that toWindowsLongPath adds
// ("\\?\C:\x" is "C:\x", "\\?\UNC\s\x" is "\\s\x"); any other path unchanged.
std::u16string fromLongPath(const char16_t* path);

// A pattern is a folder's path followed by kPathSeparator and "*"; patternLength counts the
// asterisk. Writes name, kPathSeparator and "*" over the asterisk, so that the pattern lists
// the folder name inside the old one, and returns the new length (patternLength + name length
// + 1). When that would not fit into capacity units with the terminator, nothing is written
// and 0 is returned.
size_t extendPattern(char16_t* buffer, size_t capacity, size_t patternLength,
                     const char16_t* name);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_LONG_PATH_H
