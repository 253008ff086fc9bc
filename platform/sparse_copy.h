// The steps of a copy that keeps the holes of a sparse file, for a system that says where the
// file's data lie as allocated ranges (the Win32 layer; the POSIX one asks SEEK_DATA and
// SEEK_HOLE itself): kept apart from the calls so that it is tested on every build.
#ifndef FERRYWICK_PLATFORM_SPARSE_COPY_H
#define FERRYWICK_PLATFORM_SPARSE_COPY_H

#include <cstdint>

namespace fw {

// A stretch of a file that holds data.
struct AllocatedRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// What the copy does next: skip a hole in both files, or copy data; bytes 0 at the end.
struct SparseStep {
  bool hole = false;
  uint32_t bytes = 0;
  bool operator==(const SparseStep&) const = default;
};

// The next step from position at of a file of size end, of at most size bytes. range is the
// first allocated range that reaches past at (it may begin before at), or null when none does:
// the rest is a hole. Data is copied up to the end of its range, so that a hole after it is
// never written out as zeros. A range that ends before at is taken as data, never as a hole.
SparseStep sparseStep(uint64_t at, uint64_t end, const AllocatedRange* range, uint32_t size);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_SPARSE_COPY_H
