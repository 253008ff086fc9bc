#include "platform/sparse_copy.h"

#include <algorithm>

namespace fw {

SparseStep sparseStep(uint64_t at, uint64_t end, const AllocatedRange* range, uint32_t size) {
  SparseStep step;
  if (at >= end || size == 0) return step;
  uint64_t dataAt = end;  // no range: a hole up to the end
  uint64_t dataEnd = end;
  if (range) {
    const uint64_t rangeEnd = range->length > UINT64_MAX - range->offset
                                  ? UINT64_MAX
                                  : range->offset + range->length;
    if (rangeEnd <= at) {
      // An answer that makes no sense: data, never a hole that may not be one.
      dataAt = at;
    } else {
      dataAt = std::clamp(range->offset, at, end);
      dataEnd = std::min(rangeEnd, end);
    }
  }
  step.hole = dataAt > at;
  const uint64_t stretch = step.hole ? dataAt - at : dataEnd - at;
  step.bytes = static_cast<uint32_t>(std::min<uint64_t>(stretch, size));
  return step;
}

}  // namespace fw
