#include "cli/entry_report.h"

#include "core/comparison.h"
#include "core/sibling_tree.h"
#include "platform/text.h"

namespace fw {

EntryAction actionOf(const FileNode* n, uint32_t flagsSrc, uint32_t flagsTrg, int* changes) {
  *changes = -1;
  if ((n->flags & Excluded) || !(n->flags & (flagsSrc | flagsTrg) & kCategoryBits))
    return EntryAction::None;
  int c = syncDirection(n->flags, flagsSrc, flagsTrg);
  *changes = c;
  uint32_t onlyOther = c == 1 ? OnlyInSource : OnlyInTarget;
  uint32_t onlyChanged = c == 1 ? OnlyInTarget : OnlyInSource;
  if (n->flags & onlyOther) return EntryAction::Add;
  if (n->flags & onlyChanged) return EntryAction::Delete;
  return EntryAction::Modify;
}

namespace {

void walk(FileNode* tree, EntryRow& row, uint32_t flagsSrc, uint32_t flagsTrg,
          const std::function<void(const EntryRow&)>& visit) {
  forEachInOrder(tree, [&](FileNode* n) {
    size_t mark = row.path.size();
    if (!row.path.empty()) row.path += '/';
    row.path += toUtf8Escaped(n->name);
    if (n->flags & kCategoryBits) {
      row.node = n;
      row.action = actionOf(n, flagsSrc, flagsTrg, &row.changes);
      row.onSource = !(n->flags & OnlyInTarget);
      row.onTarget = !(n->flags & OnlyInSource);
      visit(row);
    }
    if (isFolder(n) && n->children) walk(n->children, row, flagsSrc, flagsTrg, visit);
    row.path.resize(mark);
  });
}

}  // namespace

void forEachCategorizedEntry(FileNode* roots, uint32_t flagsSrc, uint32_t flagsTrg,
                             const std::function<void(const EntryRow&)>& visit) {
  EntryRow row;
  forEachInOrder(roots, [&](FileNode* root) {
    row.path.clear();
    if (root->children) walk(root->children, row, flagsSrc, flagsTrg, visit);
    ++row.row;
  });
}

const char* actionName(EntryAction a) {
  switch (a) {
    case EntryAction::None: return "none";
    case EntryAction::Add: return "add";
    case EntryAction::Modify: return "modify";
    case EntryAction::Delete: return "delete";
  }
  return "none";
}

std::string categoryNames(uint32_t flags, const char* separator) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kNames[] = {{OnlyInTarget, "OnlyInTarget"},   {OnlyInSource, "OnlyInSource"},
                {NewerInSource, "NewerInSource"}, {NewerInTarget, "NewerInTarget"},
                {SizeDiffers, "SizeDiffers"},     {CaseOrAttrDiffers, "CaseOrAttrDiffers"}};
  std::string out;
  for (const auto& n : kNames) {
    if (!(flags & n.bit)) continue;
    if (!out.empty()) out += separator;
    out += n.name;
  }
  return out;
}

}  // namespace fw
