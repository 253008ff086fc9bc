// libFuzzer target: an arbitrary difference, perhaps in volumes, checked whole by
// verifyDifference (its data section and every data entry included) and checkDataStream.
#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fw::fuzzDifference(data, size);
}
