// Byte counts as people read them: "1024 B", "1.5 kB", "10 kB", "1.0 MB".
#ifndef FERRYWICK_CORE_FORMAT_SIZE_H
#define FERRYWICK_CORE_FORMAT_SIZE_H

#include <cstdint>
#include <string>

namespace fw {

// Up to 1024 bytes in bytes; above, divided by 1024 (rounding half up) until at most 1024
// remain, in " kB" to " EB"; below 10 units with one decimal (decimalPoint), else whole.
// No line break.
std::string formatSize(uint64_t bytes, char decimalPoint = '.');

}  // namespace fw

#endif  // FERRYWICK_CORE_FORMAT_SIZE_H
