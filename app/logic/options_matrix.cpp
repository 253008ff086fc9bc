#include "app/logic/options_matrix.h"

#include <limits>

#include "sync/settings_table.h"

namespace fw {

OptionsMatrix matrixFromMasks(uint32_t flagsSrc, uint32_t flagsTrg, uint32_t flagsColorize) {
  OptionsMatrix m{};
  for (int r = 0; r < kCategoryRows; ++r) {
    const uint32_t bits = kCategoryRowBits[r];
    m.action[r] = (flagsSrc & bits)   ? SyncAction::SourceWins
                  : (flagsTrg & bits) ? SyncAction::TargetWins
                                      : SyncAction::NoChange;
    m.colorize[r] = (flagsColorize & bits) != 0;
  }
  return m;
}

void masksFromMatrix(const OptionsMatrix& m, uint32_t& flagsSrc, uint32_t& flagsTrg,
                     uint32_t& flagsColorize) {
  flagsSrc = flagsTrg = flagsColorize = 0;
  for (int r = 0; r < kCategoryRows; ++r) {
    const uint32_t bits = kCategoryRowBits[r];
    if (m.action[r] == SyncAction::SourceWins) flagsSrc |= bits;
    if (m.action[r] == SyncAction::TargetWins) flagsTrg |= bits;
    if (m.colorize[r]) flagsColorize |= bits;
  }
}

std::optional<uint32_t> splitSizeFromText(const std::u16string& text) {
  const std::u16string head = text.substr(0, 19);
  size_t i = 0;
  while (i < head.size() && (head[i] == u' ' || head[i] == u'\t')) ++i;
  uint64_t value = 0;
  for (; i < head.size() && head[i] >= u'0' && head[i] <= u'9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(head[i] - u'0');
    if (value > std::numeric_limits<uint32_t>::max()) value = std::numeric_limits<uint32_t>::max();
  }
  if (value < settingOf(&SyncSettings::splitSize)->least) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace fw
