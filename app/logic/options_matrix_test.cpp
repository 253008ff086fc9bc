#include "app/logic/options_matrix.h"

#include <gtest/gtest.h>

#include "core/comparison.h"

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
