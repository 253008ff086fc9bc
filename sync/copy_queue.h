// The file copies of a sync walk, run on other threads while the walk goes on: a first copy
// of many files spends its time in the system, per file, and two cores do it in about half
// the time. The walk hands each copy over with everything it needs and goes on with the next
// entry; what a copy reports (its failures) reaches the run's log in the order the walk
// handed the copies over, so a run logs exactly what it would log copying every file itself.
// Two copies whose destinations differ only in letter case never run at the same time: where
// the file system ignores case they are one name, and the second must find the first in place
// (and fail as a new file whose name is taken) rather than race it into the same entry.
#ifndef FERRYWICK_SYNC_COPY_QUEUE_H
#define FERRYWICK_SYNC_COPY_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/file_node.h"
#include "sync/sync_stats.h"

namespace fw {

// One copy: the changed side's path and the winner's, and what the walk knew of the entry.
struct FileCopy {
  std::u16string destination;
  std::u16string source;
  size_t nameStart = 0;  // where the entry's name begins in destination
  size_t rootStart = 0;  // where the part below the row's root begins in destination
  FileNode* node = nullptr;
  int changed = 1;  // the side written: 1 the target, 0 the source
  bool added = false;
  FailureLog failures;  // filled by the copy
  bool done = false;
  // The queue's own: destination with every unit folded to lower case, and whether a worker
  // is carrying the copy out.
  std::u16string folded;
  bool running = false;
};

class CopyQueue {
 public:
  // Carries out one copy; called on a worker thread, never for two copies of one queue at the
  // same time on one thread.
  using Work = void (*)(void* context, FileCopy& copy);

  // Starts up to threads workers that call work(context, copy); finished copies' failures go
  // to *log (none: dropped). With no worker (threads < 1, or none could be started) push
  // carries out each copy itself.
  CopyQueue(int threads, Work work, void* context, FailureLog* log);
  ~CopyQueue();
  CopyQueue(const CopyQueue&) = delete;
  CopyQueue& operator=(const CopyQueue&) = delete;

  // Hands a copy over; waits while kWindow copies are unfinished.
  void push(FileCopy&& copy);
  // Waits until every copy handed over is finished and its failures are in the log.
  void finish();

  int workers() const { return static_cast<int>(threads_.size()); }

  static constexpr size_t kWindow = 64;

 private:
  void run();
  // Moves the failures of the finished copies at the front into the log; mutex_ held.
  void retireFinished();
  // Whether a running copy's destination is copy's in other letter case; mutex_ held.
  bool clashesWithRunning(const FileCopy& copy) const;

  Work work_;
  void* context_;
  FailureLog* log_;
  std::mutex mutex_;
  std::condition_variable wake_;      // a copy to take, or the end
  std::condition_variable finished_;  // a copy finished
  std::deque<std::unique_ptr<FileCopy>> copies_;  // handed over and not retired, in order
  size_t taken_ = 0;                              // copies_[0, taken_) are taken by workers
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace fw

#endif  // FERRYWICK_SYNC_COPY_QUEUE_H
