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

// The times a file here keeps, at the system's own precision (100 ns on Windows, 1 ns on the
// file systems of Linux, which lose nothing of a tick). Windows keeps every FILETIME up to
// kMaxFileTime. On POSIX it depends on the file system; this is the range of ext4 (from
// 1901-12-13 20:45:52 to 2446-05-10 22:38:55 UTC, signed 32-bit seconds and two more bits),
// which XFS, btrfs and tmpfs hold too, and beyond which ext4 silently clamps a time it is
// given. Windows: 1 to kMaxFileTime.
#ifdef _WIN32
inline constexpr uint64_t kFirstKeptFileTime = 1;
inline constexpr uint64_t kLastKeptFileTime = kMaxFileTime;
#else
inline constexpr uint64_t kFirstKeptFileTime =
    static_cast<uint64_t>(-2147483648ll + kEpochDifferenceSeconds) * kTicksPerSecond;
inline constexpr uint64_t kLastKeptFileTime =
    static_cast<uint64_t>(15032385535ll + kEpochDifferenceSeconds) * kTicksPerSecond;
#endif
// A file time as a file here keeps it: clamped into [kFirstKeptFileTime, kLastKeptFileTime].
// 0, a folder's time in the saved files, stays 0. Every time the POSIX layer reads or sets goes
// through it, and so does every time a saved file gives: a time no file here can hold (from a
// saved file made elsewhere, or a file of a wider file system) is compared and applied as the
// nearest one it can, so that what a sync sets compares equal to what it was set from.
uint64_t keptFileTime(uint64_t ticks);

// Times before 1601 clamp to 0 and times after kMaxFileTime to it; nanoseconds are truncated to
// whole ticks.
uint64_t unixToFileTime(int64_t seconds, int64_t nanoseconds);
// Ticks beyond kMaxFileTime are taken as kMaxFileTime.
void fileTimeToUnix(uint64_t ticks, int64_t* seconds, int64_t* nanoseconds);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_FILE_TIME_H
