// Conversions between FILETIME ticks (100 ns since 1601-01-01 UTC, unsigned 64-bit) and the
// POSIX clock (seconds and nanoseconds since 1970-01-01 UTC).
#ifndef FERRYWICK_PLATFORM_FILE_TIME_H
#define FERRYWICK_PLATFORM_FILE_TIME_H

#include <cstdint>

namespace fw {

// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kEpochDifferenceSeconds = 11644473600;
inline constexpr uint64_t kTicksPerSecond = 10000000;

// The latest time a file can carry here: the largest FILETIME that Windows takes (in the year
// 30828). A later POSIX time (tmpfs and others hold times tens of thousands of years ahead)
// reads as this one rather than wrapping round to 1601, where it would pass for the oldest.
inline constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFull;

// Times before 1601 clamp to 0 and times after kMaxFileTime to it; nanoseconds are truncated to
// whole ticks.
uint64_t unixToFileTime(int64_t seconds, int64_t nanoseconds);
// Ticks beyond kMaxFileTime are taken as kMaxFileTime.
void fileTimeToUnix(uint64_t ticks, int64_t* seconds, int64_t* nanoseconds);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_FILE_TIME_H
