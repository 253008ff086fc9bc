// Live progress of a long task on a terminal, once a second on stderr: files and bytes done,
// and, where the comparison gave the task's totals, the share done, the rate and the time left;
// for a comparison, the entries read so far.
#ifndef FERRYWICK_CLI_PROGRESS_H
#define FERRYWICK_CLI_PROGRESS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "sync/progress_estimate.h"
#include "sync/sync_stats.h"

namespace fw {

class Progress {
 public:
  // With stats null it shows nothing (not a terminal, --quiet). failed: the run's other record
  // (what failed counts as handled too); totals: what the task is to do (taskTotals), none
  // known when zero.
  Progress(const SyncStats* stats, const SyncStats* failed, ProgressFigures totals,
           const char* verb);
  // A comparison's: the entries read (null: nothing shown).
  explicit Progress(const std::atomic<uint64_t>* entriesRead);
  ~Progress() { stop(); }
  // Ends the display and clears its line.
  void stop();

 private:
  void start();
  void show();
  void print(const std::string& line);
  const std::atomic<uint64_t>* entries_ = nullptr;
  const SyncStats* stats_ = nullptr;
  const SyncStats* failed_ = nullptr;
  ProgressFigures totals_;
  const char* verb_ = "";
  RateWindow rates_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  int shownLength_ = 0;  // of the line on the terminal, to be overwritten
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace fw

#endif  // FERRYWICK_CLI_PROGRESS_H
