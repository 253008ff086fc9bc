// A whole-file check of a difference before it is applied: every volume present and of this
// set, both compressed streams complete with a correct checksum, every record and data entry
// well formed, every data entry's path in the tree section, and every file's contents exactly
// as long as its record says. Reads everything once; writes nothing.
#ifndef FERRYWICK_FORMATS_DIFFERENCE_CHECK_H
#define FERRYWICK_FORMATS_DIFFERENCE_CHECK_H

#include <cstdint>
#include <string>

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

}  // namespace fw

#endif  // FERRYWICK_FORMATS_DIFFERENCE_CHECK_H
