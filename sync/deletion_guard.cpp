#include "sync/deletion_guard.h"

namespace fw {
namespace {

const std::u16string& rootOf(const SideInput& input, size_t row) {
  static const std::u16string kNone;
  return row < input.roots.size() ? input.roots[row] : kNone;
}

std::u16string sideOfRow(const RowLoss& loss) {
  return (loss.side == 0 ? u"the source side of row " : u"the target side of row ") +
         groupedNumber(loss.row + 1) + u" (" + loss.root + u")";
}

std::u16string shareText(uint32_t percent) {
  if (percent == 50) return u"half";
  return groupedNumber(percent) + u"%";
}

}  // namespace

std::u16string groupedNumber(uint64_t n) {
  std::u16string digits;
  int inGroup = 0;
  do {
    if (inGroup == 3) {
      digits.insert(digits.begin(), u',');
      inGroup = 0;
    }
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
    ++inGroup;
  } while (n != 0);
  return digits;
}

DeletionCount countDeletions(FileNode* firstRoot, const SideInput& source, const SideInput& target,
                             const MassDeleteLimits& limits) {
  DeletionCount count;
  const SideInput* inputs[2] = {&source, &target};
  FileNode* root = firstRoot;
  // The rows as the sync walks them: the source's, each with its own root node.
  for (size_t row = 0; row < source.roots.size() && root; ++row, root = root->link[1]) {
    if (source.roots[row].empty() || rootOf(target, row).empty()) continue;
    for (int side = 0; side < 2; ++side) {
      if (side == 0 && source.hasSavedFile()) continue;
      const SideCounts& c = root->counts[side];
      if (c.filesDelete == 0) continue;
      RowLoss loss;
      loss.row = row;
      loss.side = side;
      loss.deleting = c.filesDelete;
      loss.existing = c.filesExisting;
      loss.root = rootOf(*inputs[side], row);
      loss.overShare = limits.percent < kMostMassDeletePercent &&
                       loss.deleting >= limits.shareFiles &&
                       static_cast<uint64_t>(loss.deleting) * 100 >
                           static_cast<uint64_t>(loss.existing) * limits.percent;
      count.overShare = count.overShare || loss.overShare;
      count.total += loss.deleting;
      count.losses.push_back(std::move(loss));
    }
  }
  count.overTotal = count.total > limits.files;
  return count;
}

std::u16string massDeletionText(const DeletionCount& count, const MassDeleteLimits& limits) {
  if (!count.needsConfirmation()) return {};
  // The row side named is the one that loses most: over the share when any is.
  const RowLoss* worst = nullptr;
  size_t othersOver = 0;
  for (const RowLoss& loss : count.losses) {
    if (count.overShare && !loss.overShare) continue;
    if (count.overShare) ++othersOver;
    if (!worst || loss.deleting > worst->deleting) worst = &loss;
  }
  if (othersOver > 0) --othersOver;
  std::u16string text = u"This sync would delete ";
  if (count.overShare) {
    text += groupedNumber(worst->deleting) + u" of the " + groupedNumber(worst->existing) +
            (worst->existing == 1 ? u" file on " : u" files on ") + sideOfRow(*worst) +
            u": more than " + shareText(limits.percent) + u" of them.";
    if (othersOver > 0)
      text += u" " + groupedNumber(othersOver) +
              (othersOver == 1 ? u" more side of a row would lose"
                               : u" more sides of rows would lose") +
              u" as large a share.";
    if (count.overTotal)
      text += u" In all it would delete " + groupedNumber(count.total) + u" files, more than " +
              groupedNumber(limits.files) + u".";
    return text;
  }
  text += groupedNumber(count.total) + u" files in all, more than " + groupedNumber(limits.files);
  if (count.losses.size() == 1)
    text += u", all on " + sideOfRow(*worst) + u".";
  else
    text += u"; the most, " + groupedNumber(worst->deleting) + u", on " + sideOfRow(*worst) + u".";
  return text;
}

}  // namespace fw
