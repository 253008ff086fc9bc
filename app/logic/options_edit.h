// The Options working copy: what the Options dialog edits instead of the live settings, and
// how its result becomes live.
#ifndef FERRYWICK_APP_LOGIC_OPTIONS_EDIT_H
#define FERRYWICK_APP_LOGIC_OPTIONS_EDIT_H

#include <cstdint>
#include <string>

#include "app/logic/workspace.h"

namespace fw {

struct OptionsWorkingCopy {
  uint32_t flagsSrc = 0;
  uint32_t flagsTrg = 0;
  uint32_t flagsColorize = 0;
  bool hasIgnore = false;  // false: no ignore list
  std::u16string ignore;
  uint32_t ignoreCapacity = 0;
};

// A copy of the live masks and ignore list.
OptionsWorkingCopy beginOptionsEdit(const SyncSettings& settings, const ShellSettings& shell);

// The dialog's ignore edit on OK: the buffer grows to the text's length plus one when that
// exceeds its capacity; the text is then the working copy's (an empty edit gives an empty
// text, not none).
void storeIgnoreText(OptionsWorkingCopy& copy, const std::u16string& text);

// True when two ignore lists differ: exactly one absent, or both present and unequal without
// regard to case.
bool ignoreListChanged(bool hadIgnore, const std::u16string& before, bool hasIgnore,
                       const std::u16string& after);

// Makes the working copy live and tells whether the ignore list changed (then the comparison
// must run again).
bool commitOptionsEdit(SyncSettings& settings, ShellSettings& shell, OptionsWorkingCopy&& copy);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_OPTIONS_EDIT_H
