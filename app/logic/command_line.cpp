#include "app/logic/command_line.h"

namespace fw {

std::u16string firstCommandLineToken(const char16_t* line) {
  if (!line) return {};
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  const char16_t* p = line;
  // Wine and some launchers put a blank before the quoted argument.
  while (*p == u'"' || blank(*p)) ++p;
  std::u16string token;
  while (*p && *p != u'"') token.push_back(*p++);
  while (!token.empty() && blank(token.back())) token.pop_back();
  return token;
}

}  // namespace fw
