#include "platform/windows_name.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace fw {
namespace {

bool allowed(const std::u16string& name) { return allowedOnWindows(name.data(), name.size()); }

TEST(WindowsNameTest, NamesWindowsCannotHoldAreRefusedAndTheirNeighboursAllowed) {
  for (const char16_t* name :
       {u"meeting 10:30.txt", u"q?", u"a*b", u"x\"y", u"<", u">", u"a|b", u"a/b", u"a\\b",
        u"tab\there", u"\x01", u"end\x1f", u"dot.", u"space ", u"..", u".", u"CON", u"con",
        u"Nul.txt", u"nul .txt", u"aux.tar.gz", u"PRN", u"COM1", u"lpt9.log", u"COM\u00b9"}) {
    EXPECT_FALSE(allowed(name)) << toUtf8Escaped(name);
  }
  EXPECT_FALSE(allowedOnWindows(u"", 0));
  // Characters no Windows path can hold, against names refused only for their end or as a
  // device's, which the long-path forms reach where they exist.
  for (const char16_t* name : {u"a:b", u"q?", u"x\"y", u"\x1f", u"a|b"})
    EXPECT_TRUE(holdsCharacterWindowsRefuses(name, std::char_traits<char16_t>::length(name)));
  for (const char16_t* name : {u"dot.", u"CON", u"nul.txt", u"ok"})
    EXPECT_FALSE(holdsCharacterWindowsRefuses(name, std::char_traits<char16_t>::length(name)));
  EXPECT_FALSE(allowed(std::u16string(u"a\0b", 3)));
  for (const char16_t* name :
       {u"meeting 10.30.txt", u".hidden", u"a b", u"CONSOLE", u"con1", u"xcon", u"COM0", u"COM10",
        u"LPT", u"nul_", u"coma.txt", u"caf\u00e9", u"\u65e5\u672c", u"\U0001F600", u"a.b.c",
        u" leading", u"\x7f"}) {
    EXPECT_TRUE(allowed(name)) << toUtf8Escaped(name);
  }
}

}  // namespace
}  // namespace fw
