// Progress of a running sync or difference save for a display: how much the task has to do
// (from the comparison), how much it has done (from its statistics), and its rate and time
// left over the last seconds. Window-free, so that the progress window and the command line's
// terminal display show the same figures.
#ifndef FERRYWICK_SYNC_PROGRESS_ESTIMATE_H
#define FERRYWICK_SYNC_PROGRESS_ESTIMATE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "sync/sync_stats.h"
#include "sync/task.h"

namespace fw {

struct ProgressFigures {
  uint64_t files = 0;
  uint64_t bytes = 0;
};

// What task id is about to do with the comparison in state, from the counts the last marking
// pass left on the root nodes (the figures planSync reads, summed):
//   Sync: the files to copy, replace and delete on both sides of every row with both roots
//     (a saved source is never changed), and the bytes to write;
//   SaveDifference: the files the difference carries to the target (copied or replaced
//     there) and their bytes;
//   any other task: nothing.
ProgressFigures taskTotals(TaskId id, const TaskState& state);

// What a run has handled so far: the files added, modified or deleted, successfully or not,
// and the bytes written (including those of failed copies, which are then counted whole).
ProgressFigures progressDone(const SyncStats& ok, const SyncStats& failed);

// Both figures in one: the bytes plus kFileWork per file, since a file costs time beyond its
// data (creating, stamping, removing it); a run of many small files or only deletions moves
// by its files, one of a few big files by its bytes.
inline constexpr uint64_t kFileWork = 64 * 1024;
uint64_t workOf(const ProgressFigures& figures);

// The share of the work done, from 0 to 1 (done beyond the total counts as all; no total: 0).
double progressFraction(const ProgressFigures& total, const ProgressFigures& done);

// The last samples of a run's progress, taken by the display's timer: the rates are those
// over the last span seconds, not since the start, so that they follow a run that speeds up
// or stalls.
struct RateSample {
  double seconds = 0;  // on a clock that only goes forward
  uint64_t bytes = 0;
  uint64_t work = 0;
};
struct RateWindow {
  static constexpr size_t kCapacity = 64;
  double span = 8.0;
  RateSample samples[kCapacity];
  size_t first = 0;  // the oldest sample kept
  size_t count = 0;
};

// Adds a sample. Samples that are older than span before it are dropped, but for the newest
// of them, on which the window then rests; a sample that counts less than the one before (a
// run that took bytes back) starts the window afresh, as does one no later than it.
void addSample(RateWindow& window, double seconds, uint64_t bytes, uint64_t work);

// No rate before the samples span kMinSpan seconds. The time left is the work left over the
// work rate: 0 once the total is reached, none while the run stands still.
inline constexpr double kMinSpan = 2.0;
struct RateEstimate {
  bool hasRate = false;
  double bytesPerSecond = 0;
  bool hasTimeLeft = false;
  double secondsLeft = 0;
};
RateEstimate estimateRate(const RateWindow& window, uint64_t totalWork);

// "12.3 MB/s" (formatSize per second).
std::string rateText(double bytesPerSecond, char decimalPoint = '.');
// "a few seconds left" (under 5 s), "about 40 s left" (in steps of 5 s), "about 2 min left",
// "about 1 h 5 min left", "more than a day left"; always rounded up.
std::string timeLeftText(double seconds);
// "42% of 35 files, 1.2 GB", or without the bytes while the total has none.
std::string progressText(const ProgressFigures& total, double fraction,
                         char decimalPoint = '.');
// A comparison's "1,234 entries read" (TaskState::entriesRead), "1 entry read".
std::string entriesReadText(uint64_t entries);
// "12.3 MB/s, about 2 min left", what of it is known, or empty.
std::string estimateText(const RateEstimate& estimate, char decimalPoint = '.');

}  // namespace fw

#endif  // FERRYWICK_SYNC_PROGRESS_ESTIMATE_H
