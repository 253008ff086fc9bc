#include "app/logic/safety_edit.h"

#include "platform/text.h"
#include "sync/discard.h"

namespace fw {
namespace {

constexpr SafetyNumber kNumbers[] = {
    {&SafetyWorkingCopy::massDeletePercent, &SyncSettings::massDeletePercent,
     u"share of a side's files"},
    {&SafetyWorkingCopy::massDeleteShareFiles, &SyncSettings::massDeleteShareFiles,
     u"least number of files for the share"},
    {&SafetyWorkingCopy::massDeleteFiles, &SyncSettings::massDeleteFiles,
     u"number of files in all"},
    {&SafetyWorkingCopy::timeShiftHours, &SyncSettings::timeShiftHours, u"time shift"},
};

bool isSpace(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view trimmed(std::u16string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::span<const SafetyNumber> safetyNumbers() { return kNumbers; }

SafetyWorkingCopy beginSafetyEdit(const SyncSettings& settings, const ShellSettings& shell) {
  SafetyWorkingCopy copy;
  copy.backupDir = settings.backupDir;
  copy.recycleBin = settings.recycleBin != 0;
  for (const SafetyNumber& n : kNumbers) copy.*n.field = settings.*n.setting;
  copy.askBeforeSync = shell.askBeforeSync != 0;
  return copy;
}

void commitSafetyEdit(SyncSettings& settings, ShellSettings& shell, const SafetyWorkingCopy& copy) {
  settings.backupDir = copy.backupDir;
  settings.recycleBin = copy.recycleBin ? 1 : 0;
  for (const SafetyNumber& n : kNumbers) settings.*n.setting = copy.*n.field;
  shell.askBeforeSync = copy.askBeforeSync ? 1 : 0;
}

std::u16string safetyNumberText(uint32_t value) { return toUtf16(std::to_string(value)); }

bool readSafetyNumber(const SafetyNumber& number, std::u16string_view text, uint32_t* value,
                      std::u16string* error) {
  const SettingEntry& e = *settingOf(number.setting);
  text = trimmed(text);
  uint64_t v = 0;
  bool ok = !text.empty();
  for (char16_t c : text) {
    if (c < u'0' || c > u'9' || v > e.most) {  // v only grows: past most it stays refused
      ok = false;
      break;
    }
    v = v * 10 + static_cast<uint64_t>(c - u'0');
  }
  if (ok && v >= e.least && v <= e.most) {
    *value = static_cast<uint32_t>(v);
    return true;
  }
  *error = u"The " + std::u16string(number.name) + u" must be a whole number from " +
           safetyNumberText(e.least) + u" to " + safetyNumberText(e.most) + u".";
  return false;
}

bool readBackupFolder(Fs& fs, std::u16string_view text, const SideInput& source,
                      const SideInput& target, std::u16string* folder, std::u16string* error) {
  const std::u16string typed(trimmed(text));
  if (!typed.empty()) {
    std::string why;
    const Rc rc = checkBackupFolder(fs, typed, source, target, &why);
    if (rc == Rc::OutOfMemory) {
      *error = u"Not enough memory to check the backup folder.";
      return false;
    }
    if (rc != Rc::Ok) {
      std::u16string sentence = toUtf16(why);
      if (!sentence.empty() && sentence[0] >= u'a' && sentence[0] <= u'z') sentence[0] -= 32;
      *error = sentence + u".";
      return false;
    }
  }
  *folder = typed;
  return true;
}

}  // namespace fw
