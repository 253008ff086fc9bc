#include "platform/file_time.h"

namespace fw {

uint64_t unixToFileTime(int64_t seconds, int64_t nanoseconds) {
  if (seconds < -kEpochDifferenceSeconds) return 0;
  uint64_t s = static_cast<uint64_t>(seconds) + kEpochDifferenceSeconds;
  if (s > kMaxFileTime / kTicksPerSecond) return kMaxFileTime;
  uint64_t ticks = s * kTicksPerSecond + static_cast<uint64_t>(nanoseconds / 100);
  return ticks > kMaxFileTime ? kMaxFileTime : ticks;
}

uint64_t keptFileTime(uint64_t ticks) {
  if (ticks == 0) return 0;
  if (ticks < kFirstKeptFileTime) return kFirstKeptFileTime;
  return ticks > kLastKeptFileTime ? kLastKeptFileTime : ticks;
}

void fileTimeToUnix(uint64_t ticks, int64_t* seconds, int64_t* nanoseconds) {
  if (ticks > kMaxFileTime) ticks = kMaxFileTime;
  *seconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kEpochDifferenceSeconds;
  *nanoseconds = static_cast<int64_t>(ticks % kTicksPerSecond) * 100;
}

}  // namespace fw
