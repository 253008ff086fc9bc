// libFuzzer target: an arbitrary state or difference file loaded as a side of a comparison.
#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fw::fuzzSavedSide(data, size);
}
