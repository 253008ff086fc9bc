// Live progress of a long task on a terminal: files and bytes done, once a second, on stderr.
#ifndef FERRYWICK_CLI_PROGRESS_H
#define FERRYWICK_CLI_PROGRESS_H

#include <condition_variable>
#include <mutex>
#include <thread>

#include "sync/sync_stats.h"

namespace fw {

class Progress {
 public:
  // With stats null it shows nothing (not a terminal, --quiet).
  Progress(const SyncStats* stats, const char* verb);
  ~Progress() { stop(); }
  // Ends the display and clears its line.
  void stop();

 private:
  void show();
  const SyncStats* stats_;
  const char* verb_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool shown_ = false;
  std::thread thread_;
};

}  // namespace fw

#endif  // FERRYWICK_CLI_PROGRESS_H
