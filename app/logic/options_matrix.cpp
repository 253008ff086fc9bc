#include "app/logic/options_matrix.h"

#include <limits>

#include "core/entry_action.h"
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

PresetMasks presetMasks(OptionsPreset preset) {
  constexpr uint32_t all = CategoryOnlyInSource | CategoryOnlyInTarget | CategoryNewerInSource |
                           CategoryNewerInTarget | CategoryOtherDifference;
  constexpr uint32_t toTarget = CategoryOnlyInSource | CategoryNewerInSource |
                                CategoryOtherDifference;
  switch (preset) {
    case OptionsPreset::Mirror: return {all, 0};
    case OptionsPreset::TwoWay: return {toTarget, CategoryOnlyInTarget | CategoryNewerInTarget};
    case OptionsPreset::Update: return {toTarget, 0};
  }
  return {kDefaultFlagsSrc, kDefaultFlagsTrg};
}

const char16_t* rowEffectText(int row, SyncAction action) {
  if (action == SyncAction::NoChange) return u"nothing";
  const bool toTarget = action == SyncAction::SourceWins;
  // The rule the sync itself follows (deletionMask) for this row alone.
  const uint32_t bits = kCategoryRowBits[row];
  const MarkMasks masks = makeMarkMasks(toTarget ? bits : 0, toTarget ? 0 : bits, 0);
  if (deletionMask(masks) & bits)
    return (bits & CategoryOnlyInTarget) ? u"delete on target" : u"delete on source";
  return toTarget ? u"copy to target" : u"copy to source";
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
