// The Safety dialog's working copy: the safety-net settings it edits instead of the live ones
// (the backup folder, the recycle bin, the mass-deletion limits, the hour-shift tolerance and
// the question before every sync), the reading of its number boxes, and how its result
// becomes live. Ranges and defaults are those of the setting table (sync/settings_table.h), so
// that the dialog takes exactly what the registry and the command line take.
#ifndef FERRYWICK_APP_LOGIC_SAFETY_EDIT_H
#define FERRYWICK_APP_LOGIC_SAFETY_EDIT_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/logic/workspace.h"
#include "platform/fs.h"
#include "sync/settings_table.h"

namespace fw {

struct SafetyWorkingCopy {
  std::u16string backupDir;  // empty: none
  bool recycleBin = false;
  uint32_t massDeletePercent = 0;
  uint32_t massDeleteShareFiles = 0;
  uint32_t massDeleteFiles = 0;
  uint32_t timeShiftHours = 0;
  bool askBeforeSync = true;
};

// A number box of the dialog: the field it edits and what an error message calls it.
struct SafetyNumber {
  uint32_t SafetyWorkingCopy::*field;
  uint32_t SyncSettings::*setting;  // its entry in the setting table gives the range
  const char16_t* name;             // "The {name} must be ..."
};
// The number boxes, top down.
std::span<const SafetyNumber> safetyNumbers();

SafetyWorkingCopy beginSafetyEdit(const SyncSettings& settings, const ShellSettings& shell);
// Makes the working copy live.
void commitSafetyEdit(SyncSettings& settings, ShellSettings& shell, const SafetyWorkingCopy& copy);

// A number as its box shows it: decimal, without separators.
std::u16string safetyNumberText(uint32_t value);

// A number box's text on OK: a whole decimal number within the setting's range, spaces around
// it allowed. Otherwise false, and *error says what the box takes ("The share of a side's
// files must be a whole number from 0 to 100.").
bool readSafetyNumber(const SafetyNumber& number, std::u16string_view text, uint32_t* value,
                      std::u16string* error);

// The backup folder's box on OK: the text without spaces around it; empty means none. A
// folder is refused (false, *error the sentence to show) when it lies inside a folder root of
// either side or holds one (checkBackupFolder), or is not a usable path.
bool readBackupFolder(Fs& fs, std::u16string_view text, const SideInput& source,
                      const SideInput& target, std::u16string* folder, std::u16string* error);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_SAFETY_EDIT_H
