#include "cli/progress.h"

#include <cstdio>
#include <string>

#include "core/format_size.h"

namespace fw {

Progress::Progress(const SyncStats* stats, const SyncStats* failed, ProgressFigures totals,
                   const char* verb)
    : stats_(stats), failed_(failed), totals_(totals), verb_(verb) {
  if (stats_) start();
}

Progress::Progress(const std::atomic<uint64_t>* entriesRead) : entries_(entriesRead) {
  if (entries_) start();
}

void Progress::start() {
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) show();
  });
}

void Progress::show() {
  if (entries_) {
    const uint64_t n = entries_->load(std::memory_order_relaxed);
    if (n > 0) print(entriesReadText(n));
    return;
  }
  uint32_t files = valueOf(stats_->addedFiles) + valueOf(stats_->modifiedFiles);
  std::string line = std::to_string(files) + " files " + verb_ + ", " +
                     formatSize(valueOf(stats_->addedBytes));
  if (workOf(totals_) > 0) {
    static const SyncStats kNone;
    const ProgressFigures done = progressDone(*stats_, failed_ ? *failed_ : kNone);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    addSample(rates_, seconds, done.bytes, workOf(done));
    line += " (" + progressText(totals_, progressFraction(totals_, done)) + ")";
    const std::string estimate = estimateText(estimateRate(rates_, workOf(totals_)));
    if (!estimate.empty()) line += ", " + estimate;
  }
  print(line);
}

void Progress::print(const std::string& line) {
  // Spaces over what is left of a longer line before.
  const int length = static_cast<int>(line.size());
  std::fprintf(stderr, "\r%s%*s", line.c_str(), shownLength_ > length ? shownLength_ - length : 0,
               "");
  std::fflush(stderr);
  if (length > shownLength_) shownLength_ = length;
}

void Progress::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (shownLength_ > 0) std::fprintf(stderr, "\r%*s\r", shownLength_, "");
}

}  // namespace fw
