// Lower-case mapping of UTF-16 units, the basis of every name comparison that ignores case.
#ifndef FERRYWICK_PLATFORM_CASE_MAP_H
#define FERRYWICK_PLATFORM_CASE_MAP_H

namespace fw {

// A fixed, simple (one unit to one unit) lower-case mapping covering Latin, Greek, Cyrillic,
// Armenian, Georgian and the full-width Latin letters; independent of locale and environment,
// so that the POSIX build orders the same names the same way on every machine.
char16_t simpleLowerCase(char16_t unit);

// The table of 65,536 units that this build compares names with, built on first use
// (thread-safe). Windows: the user's default locale; POSIX: simpleLowerCase.
const char16_t* lowerCaseTable();

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_CASE_MAP_H
