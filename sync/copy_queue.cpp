#include "sync/copy_queue.h"

#include <new>
#include <system_error>
#include <utility>

#include "platform/case_map.h"

namespace fw {
namespace {

void moveFailures(FailureLog& from, FailureLog* log) {
  if (!log) return;
  for (EntryFailure& f : from) {
    try {
      log->push_back(std::move(f));
    } catch (const std::bad_alloc&) {
      // The tallies still count it; only its name is lost.
    }
  }
  from.clear();
}

bool foldInto(const std::u16string& path, std::u16string* folded) {
  const char16_t* lower = lowerCaseTable();
  try {
    folded->resize(path.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (size_t i = 0; i < path.size(); ++i) (*folded)[i] = lower[path[i]];
  return true;
}

}  // namespace

CopyQueue::CopyQueue(int threads, Work work, void* context, FailureLog* log)
    : work_(work), context_(context), log_(log) {
  for (int i = 0; i < threads; ++i) {
    try {
      threads_.emplace_back([this] { run(); });
    } catch (const std::system_error&) {
      break;  // fewer workers; with none, push copies itself
    } catch (const std::bad_alloc&) {
      break;
    }
  }
}

CopyQueue::~CopyQueue() {
  finish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void CopyQueue::push(FileCopy&& copy) {
  if (!threads_.empty()) {
    if (!foldInto(copy.destination, &copy.folded)) {
      finish();  // no memory to compare it by: copied here, alone
      work_(context_, copy);
      moveFailures(copy.failures, log_);
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      retireFinished();
      if (copies_.size() < kWindow) break;
      finished_.wait(lock);
    }
    std::unique_ptr<FileCopy> item;
    try {
      item = std::make_unique<FileCopy>(std::move(copy));
      copies_.push_back(std::move(item));
      lock.unlock();
      wake_.notify_one();
      return;
    } catch (const std::bad_alloc&) {
      // No room to queue it: copied here, once the copies before it are done.
      if (item) copy = std::move(*item);
    }
  }
  finish();
  work_(context_, copy);
  moveFailures(copy.failures, log_);
}

void CopyQueue::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    retireFinished();
    if (copies_.empty()) return;
    finished_.wait(lock);
  }
}

void CopyQueue::retireFinished() {
  while (!copies_.empty() && copies_.front()->done) {
    moveFailures(copies_.front()->failures, log_);
    copies_.pop_front();
    --taken_;
  }
}

void CopyQueue::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || taken_ < copies_.size(); });
    if (taken_ >= copies_.size()) return;  // ending, nothing left
    FileCopy* copy = copies_[taken_++].get();
    // A twin in other letter case goes in after the one running has finished.
    finished_.wait(lock, [&] { return !clashesWithRunning(*copy); });
    copy->running = true;
    lock.unlock();
    work_(context_, *copy);
    lock.lock();
    copy->running = false;
    copy->done = true;
    finished_.notify_all();
  }
}

bool CopyQueue::clashesWithRunning(const FileCopy& copy) const {
  for (size_t i = 0; i < taken_; ++i) {
    const FileCopy& other = *copies_[i];
    if (other.running && &other != &copy && other.folded == copy.folded) return true;
  }
  return false;
}

}  // namespace fw
