#include "sync/progress_estimate.h"

#include <gtest/gtest.h>

#include "sync/sync_test_support.h"
#include "sync/task.h"

namespace fw {
namespace {

constexpr uint64_t kMB = 1 << 20;

// Samples once a second, as the display's timer does, at bytesPerSecond from where it left off.
struct SampledRun {
  RateWindow window;
  double now = 0;
  uint64_t bytes = 0;
  void seconds(int n, uint64_t bytesPerSecond) {
    for (int i = 0; i < n; ++i) {
      now += 1;
      bytes += bytesPerSecond;
      addSample(window, now, bytes, bytes);
    }
  }
};

TEST(RateEstimateTest, NothingIsEstimatedBeforeTwoSecondsOfSamples) {
  SampledRun run;
  EXPECT_FALSE(estimateRate(run.window, 100 * kMB).hasRate);
  run.seconds(1, kMB);
  EXPECT_FALSE(estimateRate(run.window, 100 * kMB).hasRate);
  run.seconds(1, kMB);
  EXPECT_FALSE(estimateRate(run.window, 100 * kMB).hasRate) << "two samples one second apart";
  EXPECT_EQ(estimateText(estimateRate(run.window, 100 * kMB)), "");
  run.seconds(1, kMB);
  EXPECT_TRUE(estimateRate(run.window, 100 * kMB).hasRate);
}

TEST(RateEstimateTest, ASteadyRunIsEstimatedAtItsRate) {
  SampledRun run;
  run.seconds(20, 2 * kMB);  // 40 MB of 100
  const RateEstimate e = estimateRate(run.window, 100 * kMB);
  ASSERT_TRUE(e.hasRate && e.hasTimeLeft);
  EXPECT_DOUBLE_EQ(e.bytesPerSecond, 2.0 * kMB);
  EXPECT_DOUBLE_EQ(e.secondsLeft, 30);
  EXPECT_EQ(estimateText(e), "2.0 MB/s, about 30 s left");
}

// The window follows the run: a burst long past no longer speeds the estimate up, and a stall
// takes the rate to zero and the time left away (not infinite, not the old figure).
TEST(RateEstimateTest, TheEstimateFollowsTheLastSecondsNotTheStart) {
  SampledRun run;
  run.seconds(3, 50 * kMB);
  run.seconds(20, kMB);
  RateEstimate e = estimateRate(run.window, 1000 * kMB);
  ASSERT_TRUE(e.hasTimeLeft);
  EXPECT_DOUBLE_EQ(e.bytesPerSecond, 1.0 * kMB);
  EXPECT_DOUBLE_EQ(e.secondsLeft, 1000 - 170);

  run.seconds(3, 0);  // partly stalled: still moving over the window
  e = estimateRate(run.window, 1000 * kMB);
  EXPECT_GT(e.bytesPerSecond, 0);
  EXPECT_LT(e.bytesPerSecond, 1.0 * kMB);
  run.seconds(10, 0);
  e = estimateRate(run.window, 1000 * kMB);
  EXPECT_TRUE(e.hasRate);
  EXPECT_EQ(e.bytesPerSecond, 0);
  EXPECT_FALSE(e.hasTimeLeft);
  EXPECT_EQ(estimateText(e), "0 B/s");

  run.seconds(1, 8 * kMB);  // a burst after the stall shows at once, diluted by the window
  e = estimateRate(run.window, 1000 * kMB);
  EXPECT_DOUBLE_EQ(e.bytesPerSecond, 1.0 * kMB);
  EXPECT_TRUE(e.hasTimeLeft);
}

// The last file: once the work reaches the total (or passes it, when the totals fell short)
// the time left is none, and a count that goes back starts the window afresh.
TEST(RateEstimateTest, TheEndOfARunAndACountGoingBack) {
  SampledRun run;
  run.seconds(10, kMB);
  RateEstimate e = estimateRate(run.window, 10 * kMB);
  ASSERT_TRUE(e.hasTimeLeft);
  EXPECT_EQ(e.secondsLeft, 0);
  EXPECT_EQ(timeLeftText(e.secondsLeft), "a few seconds left");
  e = estimateRate(run.window, 4 * kMB);
  EXPECT_TRUE(e.hasTimeLeft);
  EXPECT_EQ(e.secondsLeft, 0);

  addSample(run.window, run.now + 1, kMB, kMB);  // bytes taken back
  EXPECT_FALSE(estimateRate(run.window, 10 * kMB).hasRate);
  addSample(run.window, run.now + 2, 2 * kMB, 2 * kMB);
  addSample(run.window, run.now + 3, 3 * kMB, 3 * kMB);
  e = estimateRate(run.window, 10 * kMB);
  EXPECT_DOUBLE_EQ(e.bytesPerSecond, 1.0 * kMB);
  EXPECT_DOUBLE_EQ(e.secondsLeft, 7);
}

TEST(RateEstimateTest, SamplingFasterThanTheWindowHoldsKeepsTheNewest) {
  RateWindow w;
  for (int i = 1; i <= 1000; ++i) addSample(w, i * 0.01, i * 1000u, i * 1000u);
  const RateEstimate e = estimateRate(w, 0);
  EXPECT_FALSE(e.hasRate) << "64 samples 10 ms apart span less than two seconds";
  addSample(w, 12.0, 1001000u, 1001000u);
  EXPECT_TRUE(estimateRate(w, 0).hasRate);
}

TEST(ProgressTextTest, TimesAreShortAndRoundedUp) {
  EXPECT_EQ(timeLeftText(0), "a few seconds left");
  EXPECT_EQ(timeLeftText(4.9), "a few seconds left");
  EXPECT_EQ(timeLeftText(5), "about 5 s left");
  EXPECT_EQ(timeLeftText(9.9), "about 10 s left");
  EXPECT_EQ(timeLeftText(41), "about 45 s left");
  EXPECT_EQ(timeLeftText(59), "about 60 s left");
  EXPECT_EQ(timeLeftText(61), "about 2 min left");
  EXPECT_EQ(timeLeftText(3600), "about 1 h left");
  EXPECT_EQ(timeLeftText(3661), "about 1 h 2 min left");
  EXPECT_EQ(timeLeftText(86400 * 3), "more than a day left");
  EXPECT_EQ(rateText(12.3 * kMB, ','), "12 MB/s");
  EXPECT_EQ(rateText(1.5 * 1024, ','), "1,5 kB/s");
  EXPECT_EQ(rateText(0), "0 B/s");
}

TEST(ProgressTextTest, TheShareBlendsFilesAndBytes) {
  const ProgressFigures total{4, 8 * kFileWork};
  EXPECT_EQ(progressFraction(total, {0, 0}), 0);
  EXPECT_DOUBLE_EQ(progressFraction(total, {2, 4 * kFileWork}), 0.5);
  // Deletions (files, no bytes) move it too, and so do bytes within one file.
  EXPECT_DOUBLE_EQ(progressFraction(total, {3, 0}), 0.25);
  EXPECT_DOUBLE_EQ(progressFraction(total, {0, 6 * kFileWork}), 0.5);
  EXPECT_EQ(progressFraction(total, {9, 100 * kFileWork}), 1.0);
  EXPECT_EQ(progressFraction({}, {3, 3}), 0);
  EXPECT_EQ(progressText(total, 0.999), "99% of 4 files, 512 kB");
  EXPECT_EQ(progressText({1, 0}, 1.0), "100% of 1 file");
  EXPECT_EQ(progressText({12345, 0}, 0), "0% of 12,345 files");
  EXPECT_EQ(entriesReadText(1), "1 entry read");
  EXPECT_EQ(entriesReadText(1234567), "1,234,567 entries read");
}

// What a sync and a difference save count as done comes to exactly the totals planned from the
// comparison, so that the bar ends full and no further.
class ProgressTotalsTest : public ::testing::Test {
 protected:
  TempDir src_, trg_, transfer_;
  TaskState state_;
  void SetUp() override {
    writeAt(src_.at("new.bin"), noise(200000, 1), kT + kHour);
    writeAt(src_.at("newer.txt"), "newer text", kT + kHour);
    writeAt(trg_.at("newer.txt"), "old", kT);
    makeDir(src_.at("sub"));
    writeAt(src_.at("sub/a"), "aaaa", kT);
    writeAt(trg_.at("gone.txt"), "only in the target", kT);
    makeDir(trg_.at("old/deep"));
    writeAt(trg_.at("old/deep/x"), "x", kT);
    writeAt(trg_.at("old/y"), "yy", kT);
    state_.fs = &systemFs();
    state_.inputs[0][0].roots = {src_.path()};
    state_.inputs[1][0].roots = {trg_.path()};
    state_.settings.flagsSrc = kMirror;
    state_.settings.flagsTrg = 0;
    ASSERT_RC_OK(runTask(TaskId::Compare, state_));
    EXPECT_EQ(valueOf(state_.entriesRead), 10u);  // 4 in the source, 6 in the target
    mark(state_.firstRoot, kMirror, 0);
  }
};

TEST_F(ProgressTotalsTest, ASyncEndsAtItsTotals) {
  const ProgressFigures total = taskTotals(TaskId::Sync, state_);
  EXPECT_EQ(total.files, 6u);  // 2 copies, 1 replacement, 3 deletions
  EXPECT_EQ(total.bytes, 200000u + 10 + 4);
  ASSERT_RC_OK(runTask(TaskId::Sync, state_));
  const ProgressFigures done = progressDone(state_.okStats, state_.failedStats);
  EXPECT_EQ(done.files, total.files);
  EXPECT_EQ(done.bytes, total.bytes);
  EXPECT_EQ(progressFraction(total, done), 1.0);
  uint64_t seen = 0;
  std::u16string current;
  ASSERT_TRUE(state_.okStats.current.readIfChanged(&seen, &current));
  EXPECT_NE(current.find(src_.path()), std::u16string::npos) << toUtf8(current);
  EXPECT_FALSE(state_.okStats.current.readIfChanged(&seen, &current));
}

TEST_F(ProgressTotalsTest, ADifferenceSaveEndsAtItsTotals) {
  state_.saveFileName = transfer_.at("d.fwd");
  const ProgressFigures total = taskTotals(TaskId::SaveDifference, state_);
  EXPECT_EQ(total.files, 3u);  // the deletions travel as the tree, without data
  EXPECT_EQ(total.bytes, 200000u + 10 + 4);
  ASSERT_RC_OK(runTask(TaskId::SaveDifference, state_));
  const ProgressFigures done = progressDone(state_.okStats, state_.failedStats);
  EXPECT_EQ(done.bytes, total.bytes);
  EXPECT_EQ(done.files, total.files);
  EXPECT_EQ(taskTotals(TaskId::Compare, state_).files, 0u);

  // A comparison against the saved difference counts its entries as it reads them too.
  state_.kind[0] = SideKind::SavedDifference;
  state_.inputs[0][2].roots = {src_.path()};
  state_.inputs[0][2].savedFile = state_.saveFileName;
  ASSERT_RC_OK(runTask(TaskId::Compare, state_));
  EXPECT_EQ(valueOf(state_.entriesRead), 10u);
}

}  // namespace
}  // namespace fw
