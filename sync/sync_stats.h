// The tallies of a sync or a difference save. A run keeps two records: okStats for what
// succeeded and failedStats for what failed. The worker writes them while the window thread
// reads them once a second for display, so every field is atomic; relaxed order is enough,
// since the display only needs each number to be whole, not the set to be consistent.
#ifndef FERRYWICK_SYNC_SYNC_STATS_H
#define FERRYWICK_SYNC_SYNC_STATS_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "sync/current_entry.h"

namespace fw {

struct SyncStats {
  std::atomic<uint32_t> untouchedFiles{0};  // files on the target that the run left alone
  std::atomic<uint32_t> addedFiles{0};      // files copied to a side that did not have them
  std::atomic<uint32_t> modifiedFiles{0};   // files replaced, or whose attributes were updated
  std::atomic<uint32_t> deletedFiles{0};    // files removed, directly or with their folder
  std::atomic<uint64_t> untouchedBytes{0};  // bytes of the untouched files
  std::atomic<uint64_t> addedBytes{0};      // bytes written into files; grows during a copy
  std::atomic<uint64_t> deletedBytes{0};    // bytes of removed files and of replaced versions
  CurrentEntry current;  // okStats only: the file being copied or stored now, full path

  void reset() {
    for (auto* f : {&untouchedFiles, &addedFiles, &modifiedFiles, &deletedFiles})
      f->store(0, std::memory_order_relaxed);
    for (auto* f : {&untouchedBytes, &addedBytes, &deletedBytes})
      f->store(0, std::memory_order_relaxed);
    current.clear();
  }
};

// One entry that a run could not handle, for the user: its full path and why. Written by the
// worker and read by others only after the run has ended.
struct EntryFailure {
  std::u16string path;
  // A short English phrase: "cannot delete: access is denied", "left alone: cannot be
  // paired ...", with the file system's cause in words where one failed (failureText).
  std::string reason;
  // The file-system call that failed, with the system's error; status Ok where the cause lies
  // elsewhere (a conflict, data a difference does not carry, a link on the path).
  FsStatus status = FsStatus::Ok;
  int osError = 0;
};
using FailureLog = std::vector<EntryFailure>;

template <typename T, typename V>
inline void tally(std::atomic<T>& field, V amount) {
  field.fetch_add(static_cast<T>(amount), std::memory_order_relaxed);
}

template <typename T>
inline T valueOf(const std::atomic<T>& field) {
  return field.load(std::memory_order_relaxed);
}

}  // namespace fw

#endif  // FERRYWICK_SYNC_SYNC_STATS_H
