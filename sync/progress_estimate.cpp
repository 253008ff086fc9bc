#include "sync/progress_estimate.h"

#include <cmath>

#include "core/format_size.h"
#include "platform/text.h"
#include "sync/deletion_guard.h"

namespace fw {
namespace {

void addCounts(ProgressFigures& into, const SideCounts& c) {
  into.files += uint64_t{c.filesAdd} + c.filesModify + c.filesDelete;
  into.bytes += c.bytesAdd;
}

const RateSample& sampleAt(const RateWindow& w, size_t i) {
  return w.samples[(w.first + i) % RateWindow::kCapacity];
}

std::string number(uint64_t n) { return toUtf8(groupedNumber(n)); }

}  // namespace

ProgressFigures taskTotals(TaskId id, const TaskState& state) {
  ProgressFigures total;
  if (id != TaskId::Sync && id != TaskId::SaveDifference) return total;
  const SideInput& source = state.currentInput(0);
  // The inputs runTask hands the task: a sync always writes into the target's folders.
  const SideInput& target = id == TaskId::Sync
                                ? state.inputs[1][static_cast<int>(SideKind::FileSystem)]
                                : state.currentInput(1);
  if (id == TaskId::SaveDifference) {  // the data that travels; deletions are in the tree
    const FileNode* root = state.firstRoot;
    for (size_t row = 0; row < source.roots.size() && root; ++row, root = root->link[1]) {
      if (source.roots[row].empty()) continue;
      const SideCounts& c = root->counts[1];
      total.files += uint64_t{c.filesAdd} + c.filesModify;
      total.bytes += c.bytesAdd;
    }
    return total;
  }
  forEachSyncedRow(state.firstRoot, source, target, [&](size_t, const FileNode* root) {
    addCounts(total, root->counts[1]);
    if (!source.hasSavedFile()) addCounts(total, root->counts[0]);
  });
  return total;
}

ProgressFigures progressDone(const SyncStats& ok, const SyncStats& failed) {
  ProgressFigures done;
  for (const SyncStats* s : {&ok, &failed}) {
    done.files += uint64_t{valueOf(s->addedFiles)} + valueOf(s->modifiedFiles) +
                  valueOf(s->deletedFiles);
    done.bytes += valueOf(s->addedBytes);
  }
  return done;
}

uint64_t workOf(const ProgressFigures& f) { return f.bytes + f.files * kFileWork; }

double progressFraction(const ProgressFigures& total, const ProgressFigures& done) {
  const uint64_t all = workOf(total);
  if (all == 0) return 0;
  const uint64_t part = workOf(done);
  return part >= all ? 1.0 : static_cast<double>(part) / static_cast<double>(all);
}

void addSample(RateWindow& w, double seconds, uint64_t bytes, uint64_t work) {
  if (w.count > 0) {
    const RateSample& last = sampleAt(w, w.count - 1);
    if (bytes < last.bytes || work < last.work || seconds <= last.seconds) w.count = 0;
  }
  if (w.count == RateWindow::kCapacity) {  // a display sampling faster than the span needs
    w.first = (w.first + 1) % RateWindow::kCapacity;
    --w.count;
  }
  w.samples[(w.first + w.count) % RateWindow::kCapacity] = {seconds, bytes, work};
  ++w.count;
  // Rest the window on the newest sample at least span old.
  while (w.count > 2 && sampleAt(w, 1).seconds <= seconds - w.span) {
    w.first = (w.first + 1) % RateWindow::kCapacity;
    --w.count;
  }
}

RateEstimate estimateRate(const RateWindow& w, uint64_t totalWork) {
  RateEstimate e;
  if (w.count < 2) return e;
  const RateSample& from = sampleAt(w, 0);
  const RateSample& to = sampleAt(w, w.count - 1);
  const double elapsed = to.seconds - from.seconds;
  if (elapsed < kMinSpan) return e;
  e.hasRate = true;
  e.bytesPerSecond = static_cast<double>(to.bytes - from.bytes) / elapsed;
  const double workRate = static_cast<double>(to.work - from.work) / elapsed;
  if (to.work >= totalWork) {
    e.hasTimeLeft = true;  // the last file is being finished
  } else if (workRate > 0) {
    e.hasTimeLeft = true;
    e.secondsLeft = static_cast<double>(totalWork - to.work) / workRate;
  }
  return e;
}

std::string rateText(double bytesPerSecond, char decimalPoint) {
  const double rounded = std::floor(bytesPerSecond + 0.5);
  return formatSize(rounded > 0 ? static_cast<uint64_t>(rounded) : 0, decimalPoint) + "/s";
}

std::string timeLeftText(double seconds) {
  if (seconds < 5) return "a few seconds left";
  if (seconds < 60) {
    const int steps = static_cast<int>(std::ceil(seconds / 5));
    return "about " + std::to_string(5 * steps) + " s left";
  }
  const double minutes = std::ceil(seconds / 60);
  if (minutes >= 24 * 60) return "more than a day left";
  const int m = static_cast<int>(minutes);
  if (m < 60) return "about " + std::to_string(m) + " min left";
  std::string text = "about " + std::to_string(m / 60) + " h";
  if (m % 60) text += " " + std::to_string(m % 60) + " min";
  return text + " left";
}

std::string progressText(const ProgressFigures& total, double fraction, char decimalPoint) {
  // Rounded down, so that 100% means done.
  const int percent = static_cast<int>(std::floor(fraction * 100));
  std::string text = std::to_string(percent) + "% of " + number(total.files) +
                     (total.files == 1 ? " file" : " files");
  if (total.bytes > 0) text += ", " + formatSize(total.bytes, decimalPoint);
  return text;
}

std::string entriesReadText(uint64_t entries) {
  return number(entries) + (entries == 1 ? " entry read" : " entries read");
}

std::string estimateText(const RateEstimate& e, char decimalPoint) {
  std::string text;
  if (e.hasRate) text = rateText(e.bytesPerSecond, decimalPoint);
  if (e.hasTimeLeft) text += (text.empty() ? "" : ", ") + timeLeftText(e.secondsLeft);
  return text;
}

}  // namespace fw
