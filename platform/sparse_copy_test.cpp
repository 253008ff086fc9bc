#include "platform/sparse_copy.h"

#include <gtest/gtest.h>

namespace fw {

void PrintTo(const SparseStep& s, std::ostream* os) {
  *os << (s.hole ? "hole " : "data ") << s.bytes;
}

namespace {

constexpr uint32_t kSparseBlock = 65536;

constexpr SparseStep holeOf(uint32_t n) { return {true, n}; }
constexpr SparseStep dataOf(uint32_t n) { return {false, n}; }

// A file of 1 MiB with data at 256 KiB..320 KiB, walked as the copy walks it.
TEST(SparseCopyTest, HolesAreSkippedAndDataIsCopiedUpToTheEndOfItsRange) {
  const uint64_t end = 1 << 20;
  const AllocatedRange range{256 << 10, 64 << 10};
  EXPECT_EQ(sparseStep(0, end, &range, kSparseBlock), holeOf(kSparseBlock));  // a block of it
  EXPECT_EQ(sparseStep(250 << 10, end, &range, kSparseBlock), holeOf(6 << 10));  // up to the data
  EXPECT_EQ(sparseStep(256 << 10, end, &range, kSparseBlock), dataOf(kSparseBlock));
  EXPECT_EQ(sparseStep(300 << 10, end, &range, kSparseBlock), dataOf(20 << 10));  // up to its end
  EXPECT_EQ(sparseStep(300 << 10, end, &range, 100), dataOf(100));
  // After the last range: a hole up to the end of the file, a block at a time.
  EXPECT_EQ(sparseStep(320 << 10, end, nullptr, kSparseBlock), holeOf(kSparseBlock));
  EXPECT_EQ(sparseStep(end - 10, end, nullptr, kSparseBlock), holeOf(10));
  EXPECT_EQ(sparseStep(end, end, nullptr, kSparseBlock), dataOf(0)) << "the end";
  EXPECT_EQ(sparseStep(end + 1, end, &range, kSparseBlock), dataOf(0));
}

// Answers that reach past the file or make no sense never turn data into a hole or overrun
// the end.
TEST(SparseCopyTest, RangesBeyondTheFileAreCutAndSenselessOnesAreData) {
  const uint64_t end = 100000;
  const AllocatedRange past{90000, 1 << 20};
  EXPECT_EQ(sparseStep(95000, end, &past, kSparseBlock), dataOf(5000));
  const AllocatedRange huge{0, UINT64_MAX};
  EXPECT_EQ(sparseStep(0, end, &huge, kSparseBlock), dataOf(kSparseBlock));
  EXPECT_EQ(sparseStep(40000, end, &huge, kSparseBlock), dataOf(60000));  // up to the end
  const AllocatedRange outside{200000, 10};
  EXPECT_EQ(sparseStep(99000, end, &outside, kSparseBlock), holeOf(1000));
  const AllocatedRange behind{0, 10};
  EXPECT_EQ(sparseStep(50000, end, &behind, kSparseBlock), dataOf(50000));
  EXPECT_EQ(sparseStep(99999, end, &behind, kSparseBlock), dataOf(1));
}

}  // namespace
}  // namespace fw
