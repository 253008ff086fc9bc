#include "app/logic/options_matrix.h"

#include <gtest/gtest.h>

#include "core/comparison.h"
#include "core/entry_action.h"

namespace fw {
namespace {

TEST(OptionsMatrixTest, DefaultsAndRoundTrips) {
  OptionsMatrix m = matrixFromMasks(kDefaultFlagsSrc, kDefaultFlagsTrg, kDefaultFlagsColorize);
  const SyncAction expected[] = {SyncAction::SourceWins, SyncAction::TargetWins,
                                 SyncAction::SourceWins, SyncAction::TargetWins,
                                 SyncAction::SourceWins};
  for (int r = 0; r < kCategoryRows; ++r) {
    EXPECT_EQ(m.action[r], expected[r]) << r;
    EXPECT_TRUE(m.colorize[r]) << r;
  }
  uint32_t src, trg, col;
  masksFromMatrix(m, src, trg, col);
  EXPECT_EQ(src, kDefaultFlagsSrc);
  EXPECT_EQ(trg, kDefaultFlagsTrg);
  EXPECT_EQ(col, kDefaultFlagsColorize);

  // Half of "Other difference" selects the whole row; source is preferred over target.
  m = matrixFromMasks(SizeDiffers, uint32_t{CaseOrAttrDiffers} | CategoryOnlyInSource, 0x80);
  EXPECT_EQ(m.action[4], SyncAction::SourceWins);
  EXPECT_EQ(m.action[0], SyncAction::TargetWins);
  EXPECT_EQ(m.action[1], SyncAction::NoChange);
  masksFromMatrix(m, src, trg, col);
  EXPECT_EQ(src, 0xC0u);
  EXPECT_EQ(trg, 0x08u);
  EXPECT_EQ(col, 0xC0u);

  for (auto& a : m.action) a = SyncAction::NoChange;
  masksFromMatrix(m, src, trg, col);
  EXPECT_EQ(src | trg, 0u);
}

// The text beside each row and choice, over the whole matrix, and that it tells what a sync
// does to an entry of that category (actionOf) under that row's choice alone.
TEST(OptionsMatrixTest, RowTextsSayWhatTheSyncDoesForEveryRowAndChoice) {
  const std::u16string expected[kCategoryRows][3] = {
      // Source, Target, No change
      {u"copy to target", u"delete on source", u"nothing"},  // only in source
      {u"delete on target", u"copy to source", u"nothing"},  // only in target
      {u"copy to target", u"copy to source", u"nothing"},    // newer in source
      {u"copy to target", u"copy to source", u"nothing"},    // newer in target
      {u"copy to target", u"copy to source", u"nothing"},    // other difference
  };
  const SyncAction actions[] = {SyncAction::SourceWins, SyncAction::TargetWins,
                                SyncAction::NoChange};
  for (int r = 0; r < kCategoryRows; ++r) {
    for (int c = 0; c < 3; ++c) {
      const std::u16string text = rowEffectText(r, actions[c]);
      EXPECT_EQ(text, expected[r][c]) << "row " << r << " choice " << c;
      OptionsMatrix m{};
      for (auto& a : m.action) a = SyncAction::NoChange;
      m.action[r] = actions[c];
      uint32_t src, trg, col;
      masksFromMatrix(m, src, trg, col);
      // Both halves of "Other difference" read alike.
      for (uint32_t bit : {0x04u, 0x08u, 0x10u, 0x20u, 0x40u, 0x80u}) {
        if (!(kCategoryRowBits[r] & bit)) continue;
        FileNode node{};
        node.flags = bit;
        const EntryAction a = actionOf(&node, makeMarkMasks(src, trg, 0));
        const bool deletes = a.what == EntryChange::Delete;
        EXPECT_EQ(deletes, text.starts_with(u"delete")) << r << " " << c << " " << bit;
        if (a.what == EntryChange::None) {
          EXPECT_EQ(text, u"nothing");
        } else {  // the side named is the one that changes
          EXPECT_TRUE(text.ends_with(a.changes == 0 ? u"source" : u"target")) << r << " " << c;
        }
      }
    }
  }
}

// The presets set the radios their names promise; colours are not theirs to change.
TEST(OptionsMatrixTest, PresetsMirrorTwoWayAndUpdate) {
  using A = SyncAction;
  struct Case {
    OptionsPreset preset;
    uint32_t src, trg;
    SyncAction rows[kCategoryRows];
  };
  const Case cases[] = {
      {OptionsPreset::Mirror, 0xFC, 0, {A::SourceWins, A::SourceWins, A::SourceWins,
                                        A::SourceWins, A::SourceWins}},
      {OptionsPreset::TwoWay, 0xD8, 0x24, {A::SourceWins, A::TargetWins, A::SourceWins,
                                           A::TargetWins, A::SourceWins}},
      {OptionsPreset::Update, 0xD8, 0, {A::SourceWins, A::NoChange, A::SourceWins, A::NoChange,
                                        A::SourceWins}},
  };
  for (const Case& c : cases) {
    const PresetMasks p = presetMasks(c.preset);
    EXPECT_EQ(p.flagsSrc, c.src);
    EXPECT_EQ(p.flagsTrg, c.trg);
    const OptionsMatrix m = matrixFromMasks(p.flagsSrc, p.flagsTrg, 0);
    for (int r = 0; r < kCategoryRows; ++r) EXPECT_EQ(m.action[r], c.rows[r]) << r;
    // What each promises of deletions and of the source, by the sync's own rule.
    const MarkMasks masks = makeMarkMasks(p.flagsSrc, p.flagsTrg, 0);
    const bool deletes = deletionMask(masks) != 0;
    const bool changesSource = (p.flagsTrg & kCategoryBits) != 0;
    EXPECT_EQ(deletes, c.preset == OptionsPreset::Mirror);
    EXPECT_EQ(changesSource, c.preset == OptionsPreset::TwoWay);
  }
}

TEST(SplitSizeTest, AtLeastOneFromTheLeadingDigits) {
  EXPECT_EQ(splitSizeFromText(u"2000"), 2000u);
  EXPECT_EQ(splitSizeFromText(u"1"), 1u);
  EXPECT_EQ(splitSizeFromText(u"12ab"), 12u);
  EXPECT_FALSE(splitSizeFromText(u""));
  EXPECT_FALSE(splitSizeFromText(u"0"));
  EXPECT_FALSE(splitSizeFromText(u"abc"));
  // Only 19 characters are read.
  EXPECT_FALSE(splitSizeFromText(std::u16string(19, u'0') + u"5"));
}

}  // namespace
}  // namespace fw
