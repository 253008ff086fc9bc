#include "cli/entry_report.h"

#include "core/comparison.h"
#include "core/sibling_tree.h"
#include "platform/text.h"

namespace fw {

namespace {

void walk(FileNode* tree, EntryRow& row, const MarkMasks& masks,
          const std::function<void(const EntryRow&)>& visit) {
  forEachInOrder(tree, [&](FileNode* n) {
    size_t mark = row.path.size();
    if (!row.path.empty()) row.path += '/';
    row.path += toUtf8Escaped(n->name);
    if (n->flags & (kCategoryBits | Conflict)) {
      row.node = n;
      row.action = actionOf(n, masks);
      row.onSource = !(n->flags & OnlyInTarget);
      row.onTarget = !(n->flags & OnlyInSource);
      visit(row);
    }
    if (isFolder(n) && n->children) walk(n->children, row, masks, visit);
    row.path.resize(mark);
  });
}

}  // namespace

void forEachCategorizedEntry(FileNode* roots, uint32_t flagsSrc, uint32_t flagsTrg,
                             const std::function<void(const EntryRow&)>& visit) {
  EntryRow row;
  const MarkMasks masks = makeMarkMasks(flagsSrc, flagsTrg, 0);
  forEachInOrder(roots, [&](FileNode* root) {
    row.path.clear();
    if (root->children) walk(root->children, row, masks, visit);
    ++row.row;
  });
}

const char* actionName(const EntryAction& a) {
  switch (a.what) {
    case EntryChange::Add: return "add";
    case EntryChange::Replace:
    case EntryChange::Attributes: return "modify";
    case EntryChange::Delete: return "delete";
    case EntryChange::None:
    case EntryChange::Conflict: return "none";
  }
  return "none";
}

std::string categoryNames(uint32_t flags, const char* separator) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kNames[] = {{OnlyInTarget, "OnlyInTarget"},   {OnlyInSource, "OnlyInSource"},
                {NewerInSource, "NewerInSource"}, {NewerInTarget, "NewerInTarget"},
                {SizeDiffers, "SizeDiffers"},     {CaseOrAttrDiffers, "CaseOrAttrDiffers"},
                {Conflict, "Conflict"}};
  std::string out;
  for (const auto& n : kNames) {
    if (!(flags & n.bit)) continue;
    if (!out.empty()) out += separator;
    out += n.name;
  }
  return out;
}

}  // namespace fw
