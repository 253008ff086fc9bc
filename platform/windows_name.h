// Which names Windows lets a file or folder have. The engine asks it where a name from
// elsewhere (a POSIX folder, a saved difference made there) is to be created on a Windows
// drive, so that such an entry is left out and named rather than refused somewhere deep in a
// run; both builds compile it, so that it is tested everywhere.
#ifndef FERRYWICK_PLATFORM_WINDOWS_NAME_H
#define FERRYWICK_PLATFORM_WINDOWS_NAME_H

#include <cstddef>

namespace fw {

// Whether a file or folder may be created under name (length UTF-16 units, one entry, no
// separators) on Windows, by every program that reads the drive and not only by one that uses
// the long-path forms. Refused: the empty name; the characters < > : " / \ | ? * and the
// control characters 1 to 31 (a ':' would name a stream of another file); a name that ends
// in a dot or a space (Windows drops them, and the name becomes another); the device names
// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 (also with superscript digits 1 to 3) in
// any letter case, alone or before an extension ("nul.txt"), which name the device, not a
// file.
bool allowedOnWindows(const char16_t* name, size_t length);

// Whether name holds one of those characters. No entry of a Windows drive has one, and none
// can be reached under it: a folder that lends one (a POSIX file system under Wine) has it
// under a name the Windows build must not use, where a ':' would name a stream of another
// file. A name refused only for its end or as a device's is reached by the long-path forms.
bool holdsCharacterWindowsRefuses(const char16_t* name, size_t length);

// Why such a name is left out, in the words of a run's failure list.
inline constexpr const char* kNotAllowedOnWindows = "this name is not allowed on Windows";

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_WINDOWS_NAME_H
