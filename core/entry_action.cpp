#include "core/entry_action.h"

#include "core/sibling_tree.h"

namespace fw {

uint32_t deletionMask(const MarkMasks& m) {
  // Where both masks hold OnlyInSource the source wins: the entry is added, not deleted.
  return (m.sourceWins & OnlyInTarget) | (m.targetWins & ~m.sourceWins & OnlyInSource);
}

EntryAction actionOf(const FileNode* node, const MarkMasks& m) {
  const uint32_t f = node->flags;
  EntryAction a;
  if (f & Conflict) {
    a.what = EntryChange::Conflict;
    return a;
  }
  if ((f & Excluded) && !(f & Ignored)) return a;
  const uint32_t toTarget = m.sourceWins & kCategoryBits;
  const uint32_t toSource = m.targetWins & kCategoryBits;
  const uint32_t acted = f & (toTarget | toSource);
  if (acted == 0) return a;
  a.carriedData = takesCarriedData(f, toTarget & kCarriedCategories, toSource & kCarriedCategories);
  if (f & Excluded) return a;  // Ignored: left out here, though the difference may carry it
  const int changed = syncDirection(f, toTarget, toSource);
  if (f & deletionMask(m)) {
    if (f & KeptForMissingRoot) return EntryAction{};  // the other root is missing, not emptied
    a.what = EntryChange::Delete;
  } else if (f & (OnlyInSource | OnlyInTarget)) {
    a.what = EntryChange::Add;
  } else if (acted == CaseOrAttrDiffers) {
    a.what = EntryChange::Attributes;
  } else {
    a.what = EntryChange::Replace;
  }
  a.changes = changed;
  return a;
}

namespace {

void addEffects(FileNode* tree, int side, const MarkMasks& m, MissingRootEffect* effect) {
  const uint32_t deleted = deletionMask(m);
  forEachInOrder(tree, [&](FileNode* n) {
    const uint32_t f = n->flags;
    // Deleted but for the missing root: what actionOf would say without KeptForMissingRoot.
    if ((f & KeptForMissingRoot) && (f & deleted) && !(f & (Conflict | Excluded)))
      effect->keepsEntries = true;
    const EntryAction a = actionOf(n, m);
    if (a.changes == side && a.what != EntryChange::Delete) effect->writesInto = true;
    if (n->children) addEffects(n->children, side, m, effect);
  });
}

}  // namespace

MissingRootEffect missingRootEffect(FileNode* firstRoot, const MissingRoot& missing,
                                    const MarkMasks& masks) {
  MissingRootEffect effect;
  FileNode* root = firstRoot;
  for (size_t row = 0; root && row < missing.row; ++row) root = root->link[1];
  if (root && root->children) addEffects(root->children, missing.side, masks, &effect);
  return effect;
}

}  // namespace fw
