#include "app/logic/options_edit.h"

#include "platform/case_map.h"

namespace fw {

OptionsWorkingCopy beginOptionsEdit(const SyncSettings& settings, const ShellSettings& shell) {
  OptionsWorkingCopy copy;
  copy.flagsSrc = settings.flagsSrc;
  copy.flagsTrg = settings.flagsTrg;
  copy.flagsColorize = settings.flagsColorize;
  copy.hasIgnore = shell.hasIgnore;
  copy.ignore = shell.hasIgnore ? settings.ignore : std::u16string();
  copy.ignoreCapacity = shell.ignoreCapacity;
  return copy;
}

void storeIgnoreText(OptionsWorkingCopy& copy, const std::u16string& text) {
  const uint32_t needed = static_cast<uint32_t>(text.size() + 1);
  if (needed > copy.ignoreCapacity) copy.ignoreCapacity = needed;
  copy.ignore = text;
  copy.hasIgnore = true;
}

bool ignoreListChanged(bool hadIgnore, const std::u16string& before, bool hasIgnore,
                       const std::u16string& after) {
  if (hadIgnore != hasIgnore) return true;
  if (!hadIgnore) return false;
  if (before.size() != after.size()) return true;
  const char16_t* lower = lowerCaseTable();
  for (size_t i = 0; i < before.size(); ++i)
    if (lower[before[i]] != lower[after[i]]) return true;
  return false;
}

bool commitOptionsEdit(SyncSettings& settings, ShellSettings& shell, OptionsWorkingCopy&& copy) {
  const bool changed =
      ignoreListChanged(shell.hasIgnore, settings.ignore, copy.hasIgnore, copy.ignore);
  settings.flagsSrc = copy.flagsSrc;
  settings.flagsTrg = copy.flagsTrg;
  settings.flagsColorize = copy.flagsColorize;
  settings.ignore = copy.hasIgnore ? std::move(copy.ignore) : std::u16string();
  shell.hasIgnore = copy.hasIgnore;
  shell.ignoreCapacity = copy.hasIgnore ? copy.ignoreCapacity : 0;
  return changed;
}

}  // namespace fw
