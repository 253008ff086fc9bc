// A whole-file check of a difference before it is applied: every volume present and of this
// set, both compressed streams complete with a correct checksum and ending where the headers
// say, every record and data entry well formed, no name twice in one folder, every data
// entry's path in the tree section and named once, and every file's contents exactly as long
// as its record says. Reads everything once; writes nothing.
#ifndef FERRYWICK_FORMATS_DIFFERENCE_CHECK_H
#define FERRYWICK_FORMATS_DIFFERENCE_CHECK_H

#include <cstdint>
#include <string>

#include "core/cancel_flag.h"
#include "core/result.h"
#include "platform/fs.h"

namespace fw {

struct DifferenceCheck {
  uint32_t roots = 0;
  uint32_t volumes = 0;      // volumes read
  uint64_t dataEntries = 0;  // files and empty folders carried
  uint64_t bytes = 0;        // contents carried
  std::string fault;         // the first fault, in words, when the result is not Ok
};

// Ok when the difference at path (any volume of its set) is whole. Otherwise the code of the
// first fault (CannotOpen for a missing volume, Failed for damaged data, OutOfMemory) with
// check->fault naming it.
Rc verifyDifference(Fs& fs, const char16_t* path, DifferenceCheck* check);

// Only the data section's stream of the difference at path: inflated to its end, which must
// come with a correct checksum at the very end of the last volume. Ok, or CannotOpen for a
// missing volume, Failed for damage, OutOfMemory; Ok also when the cancel flag stops it. What
// applies a difference calls first, so that no target file receives contents that a damaged
// stream produced.
Rc checkDataStream(Fs& fs, const char16_t* path, const CancelFlag* cancel = nullptr);

}  // namespace fw

#endif  // FERRYWICK_FORMATS_DIFFERENCE_CHECK_H
