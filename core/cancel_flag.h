// The cancel flag of a running task: set to non-zero by the window thread (or a signal handler
// of the command line), read by the engine between steps. One 32-bit word; relaxed order is
// enough, since it only ever asks a loop to stop.
#ifndef FERRYWICK_CORE_CANCEL_FLAG_H
#define FERRYWICK_CORE_CANCEL_FLAG_H

#include <atomic>
#include <cstdint>

namespace fw {

using CancelFlag = std::atomic<uint32_t>;

inline bool isCancelled(const CancelFlag* flag) {
  return flag && flag->load(std::memory_order_relaxed) != 0;
}

}  // namespace fw

#endif  // FERRYWICK_CORE_CANCEL_FLAG_H
