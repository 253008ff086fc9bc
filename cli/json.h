// The few pieces of JSON the command line writes: one object per line.
#ifndef FERRYWICK_CLI_JSON_H
#define FERRYWICK_CLI_JSON_H

#include <string>
#include <string_view>

namespace fw {

// A JSON string literal, quotes included; control characters and bytes that are not UTF-8
// are escaped (the latter as U+FFFD), so the output is always valid JSON.
std::string jsonString(std::string_view utf8);

}  // namespace fw

#endif  // FERRYWICK_CLI_JSON_H
