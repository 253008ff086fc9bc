// libFuzzer target: readStringList on arbitrary bytes as a project, state or difference file.
#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fw::fuzzStringList(data, size);
}
