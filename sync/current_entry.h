// The entry a run is copying now, for a progress display: the worker names each file as it
// begins it, the window thread (or the command line's display) reads the latest name.
#ifndef FERRYWICK_SYNC_CURRENT_ENTRY_H
#define FERRYWICK_SYNC_CURRENT_ENTRY_H

#include <cstdint>
#include <mutex>
#include <new>
#include <string>

namespace fw {

class CurrentEntry {
 public:
  // Worker: once per file, never per block. The buffer keeps its capacity across files, so
  // only a path longer than any before allocates; without memory the old name stays.
  void set(const char16_t* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      path_.assign(path);
    } catch (const std::bad_alloc&) {
      return;
    }
    ++changes_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    path_.clear();
    ++changes_;
  }
  // Copies the name into *out when it changed since *seen (a count the reader keeps, 0 at
  // first); false when it did not, so that a display polling it copies nothing meanwhile.
  bool readIfChanged(uint64_t* seen, std::u16string* out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (changes_ == *seen) return false;
    try {
      *out = path_;
    } catch (const std::bad_alloc&) {
      return false;
    }
    *seen = changes_;
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::u16string path_;
  uint64_t changes_ = 0;
};

}  // namespace fw

#endif  // FERRYWICK_SYNC_CURRENT_ENTRY_H
