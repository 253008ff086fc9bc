// The one thing the program takes from its command line: the first token, with the double
// quote as the only delimiter.
#ifndef FERRYWICK_APP_LOGIC_COMMAND_LINE_H
#define FERRYWICK_APP_LOGIC_COMMAND_LINE_H

#include <string>

namespace fw {

// `"C:\My files\a.fwp" more` gives `C:\My files\a.fwp`; an unquoted line is taken whole up to
// any quote. Blanks and quotes before the token and blanks after it are dropped, so a line of
// only blanks and quotes gives an empty token (nothing to load).
std::u16string firstCommandLineToken(const char16_t* line);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_COMMAND_LINE_H
