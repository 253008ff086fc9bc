#include "core/temporary_name.h"

namespace fw {

bool isTemporaryName(const char16_t* name) {
  for (size_t i = 0; i < kTemporaryPrefixUnits; ++i)
    if (name[i] != kTemporaryPrefix[i]) return false;
  for (size_t i = 0; i < kTemporaryDigitUnits; ++i) {
    char16_t c = name[kTemporaryPrefixUnits + i];
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  const char16_t* suffix = name + kTemporaryPrefixUnits + kTemporaryDigitUnits;
  for (size_t i = 0; i <= kTemporarySuffixUnits; ++i)  // the terminator too
    if (suffix[i] != kTemporarySuffix[i]) return false;
  return true;
}

}  // namespace fw
