// The names of the temporary files a sync writes next to a destination before renaming them
// over it: "~fw0123456789abcdef.fwtmp", a fixed prefix and suffix around 16 hexadecimal
// digits. A leftover one (after a crash or power loss) is not user data: the scanner leaves
// such names out, so no comparison offers to copy them.
#ifndef FERRYWICK_CORE_TEMPORARY_NAME_H
#define FERRYWICK_CORE_TEMPORARY_NAME_H

#include <cstddef>
#include <string>

#include "platform/fs.h"

namespace fw {

inline constexpr char16_t kTemporaryPrefix[] = u"~fw";
inline constexpr char16_t kTemporarySuffix[] = u".fwtmp";
inline constexpr size_t kTemporaryPrefixUnits = 3;
inline constexpr size_t kTemporaryDigitUnits = 16;
inline constexpr size_t kTemporarySuffixUnits = 6;
inline constexpr size_t kTemporaryNameUnits =
    kTemporaryPrefixUnits + kTemporaryDigitUnits + kTemporarySuffixUnits;

bool isTemporaryName(const char16_t* name);

// Writes a fresh temporary name (kTemporaryNameUnits units and a terminator) to out: 16 digits
// that differ on every call and are unpredictable across processes.
void makeTemporaryName(char16_t* out);

// The path of a free temporary file in the folder of destination (the part up to its last
// separator; none: the current folder). False when no free name was found.
bool temporaryPathBeside(Fs& fs, const std::u16string& destination, std::u16string* out);

}  // namespace fw

#endif  // FERRYWICK_CORE_TEMPORARY_NAME_H
