#include "cli/progress.h"

#include <chrono>
#include <cstdio>

#include "core/format_size.h"

namespace fw {

Progress::Progress(const SyncStats* stats, const char* verb) : stats_(stats), verb_(verb) {
  if (!stats_) return;
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) show();
  });
}

void Progress::show() {
  uint32_t files = valueOf(stats_->addedFiles) + valueOf(stats_->modifiedFiles);
  std::fprintf(stderr, "\r%u files %s, %s   ", files, verb_,
               formatSize(valueOf(stats_->addedBytes)).c_str());
  std::fflush(stderr);
  shown_ = true;
}

void Progress::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (shown_) std::fprintf(stderr, "\r%60s\r", "");
}

}  // namespace fw
