// The DOS attribute bits that a POSIX file system has no place for, kept in the extended
// attribute "user.DOSATTRIB" as the text "0x" followed by hexadecimal digits, the form that
// other programs sharing such disks with Windows read and write.
#ifndef FERRYWICK_PLATFORM_DOS_ATTRIB_H
#define FERRYWICK_PLATFORM_DOS_ATTRIB_H

#include <cstddef>
#include <cstdint>

namespace fw {

inline constexpr char kDosAttribName[] = "user.DOSATTRIB";

// Parses the value; false when it is not of the hex text form (other, binary encodings exist
// and are ignored). A trailing NUL is allowed.
bool parseDosAttrib(const char* value, size_t size, uint32_t* attributes);
// Writes "0x<hex>" without terminator into out (at least 11 bytes); returns its length.
size_t formatDosAttrib(uint32_t attributes, char* out);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_DOS_ATTRIB_H
