// The Options dialog's category matrix and the Save diff dialog's size rule, without windows.
#ifndef FERRYWICK_APP_LOGIC_OPTIONS_MATRIX_H
#define FERRYWICK_APP_LOGIC_OPTIONS_MATRIX_H

#include <cstdint>
#include <optional>
#include <string>

#include "core/comparison.h"

namespace fw {

inline constexpr int kCategoryRows = 5;
// The rows top down: only in source, only in target, newer in source, newer in target, other.
inline constexpr uint32_t kCategoryRowBits[kCategoryRows] = {
    CategoryOnlyInSource, CategoryOnlyInTarget, CategoryNewerInSource, CategoryNewerInTarget,
    CategoryOtherDifference};

struct OptionsMatrix {
  SyncAction action[kCategoryRows];
  bool colorize[kCategoryRows];
};

// A row is "Source" when flagsSrc has any of its bits, else "Target" when flagsTrg has any,
// else "No change"; colorized when flagsColorize has any of them.
OptionsMatrix matrixFromMasks(uint32_t flagsSrc, uint32_t flagsTrg, uint32_t flagsColorize);
// Back to masks: each row adds all its bits to the mask its choice names.
void masksFromMatrix(const OptionsMatrix& m, uint32_t& flagsSrc, uint32_t& flagsTrg,
                     uint32_t& flagsColorize);

// The matrix's presets: the two masks each sets, colours aside.
//   Mirror: the target becomes a copy of the source: everything goes to the target, and what
//     only the target has is deleted there.
//   TwoWay: the newer file wins on either side, and what only one side has is copied to the
//     other; a file that differs otherwise goes to the target.
//   Update: what is new or newer on the source (and a file that differs otherwise) goes to the
//     target; nothing is deleted and nothing comes back to the source.
enum class OptionsPreset { Mirror, TwoWay, Update };
struct PresetMasks {
  uint32_t flagsSrc;
  uint32_t flagsTrg;
};
PresetMasks presetMasks(OptionsPreset preset);

// What a sync does to the entries of a row's category under a choice, in a few words: "copy to
// target", "copy to source", "delete on target", "delete on source" or "nothing". An entry
// only one side has is deleted there when the other side wins.
const char16_t* rowEffectText(int row, SyncAction action);

// The volume size typed into the Save diff dialog: at most the first 19 characters read as a
// decimal number (leading digits; none gives 0, more than 32 bits hold give UINT32_MAX). None
// when below the split size's least (sync/settings_table.h); a value above its most is to be
// refused by the caller.
std::optional<uint32_t> splitSizeFromText(const std::u16string& text);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_OPTIONS_MATRIX_H
