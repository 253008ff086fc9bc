#include "app/logic/sync_plan.h"

#include "core/entry_action.h"
#include "core/format_size.h"
#include "core/sibling_tree.h"
#include "platform/text.h"
#include "sync/deletion_guard.h"

namespace fw {
namespace {

// The folders below tree that the sync creates and deletes, by side. A folder it only enters
// holds changes only where the marking pass said so (HasAction).
void countFolders(FileNode* tree, const MarkMasks& masks, PlannedChanges changes[2]) {
  forEachInOrder(tree, [&](FileNode* x) {
    if (!isFolder(x)) return;
    const EntryAction a = actionOf(x, masks);
    if (a.changes >= 0 && a.what == EntryChange::Add) ++changes[a.changes].foldersToCreate;
    if (a.changes >= 0 && a.what == EntryChange::Delete) ++changes[a.changes].foldersToDelete;
    const bool added = a.what == EntryChange::Add || a.what == EntryChange::Delete;
    if (x->children && (added || (x->flags & HasAction))) countFolders(x->children, masks, changes);
  });
}

void add(PlannedChanges& into, const PlannedChanges& c) {
  into.filesToCopy += c.filesToCopy;
  into.filesToReplace += c.filesToReplace;
  into.filesToDelete += c.filesToDelete;
  into.foldersToCreate += c.foldersToCreate;
  into.foldersToDelete += c.foldersToDelete;
  into.bytesToWrite += c.bytesToWrite;
}

std::u16string files(uint32_t n) {
  return groupedNumber(n) + (n == 1 ? u" file" : u" files");
}

std::u16string folders(uint32_t n) {
  return groupedNumber(n) + (n == 1 ? u" folder" : u" folders");
}

std::u16string changesText(const PlannedChanges& c, char decimalPoint) {
  std::u16string text;
  auto part = [&text](const std::u16string& words) {
    if (!text.empty()) text += u", ";
    text += words;
  };
  if (c.filesToCopy) part(u"copy " + files(c.filesToCopy));
  if (c.filesToReplace) part(u"replace " + files(c.filesToReplace));
  if (c.filesToCopy || c.filesToReplace)
    text += u" (" + toUtf16(formatSize(c.bytesToWrite, decimalPoint)) + u" to write)";
  if (c.filesToDelete) part(u"delete " + files(c.filesToDelete));
  if (c.foldersToCreate) part(u"create " + folders(c.foldersToCreate));
  if (c.foldersToDelete) part(u"delete " + folders(c.foldersToDelete));
  return text;
}

}  // namespace

SyncPlan planSync(FileNode* firstRoot, const SideInput& source, const SideInput& target,
                  const MarkMasks& masks) {
  SyncPlan plan;
  const SideInput* inputs[2] = {&source, &target};
  forEachSyncedRow(firstRoot, source, target, [&](size_t row, FileNode* root) {
    PlannedChanges folderChanges[2];
    if (root->children) countFolders(root->children, masks, folderChanges);
    for (int side = 0; side < 2; ++side) {
      if (side == 0 && source.hasSavedFile()) continue;
      const SideCounts& c = root->counts[side];
      RowPlan r;
      r.row = row;
      r.root = inputs[side]->roots[row];
      r.changes.filesToCopy = c.filesAdd;
      r.changes.filesToReplace = c.filesModify;
      r.changes.filesToDelete = c.filesDelete;
      r.changes.bytesToWrite = c.bytesAdd;
      r.changes.foldersToCreate = folderChanges[side].foldersToCreate;
      r.changes.foldersToDelete = folderChanges[side].foldersToDelete;
      if (!r.changes.any()) continue;
      add(plan.side[side].total, r.changes);
      plan.side[side].rows.push_back(std::move(r));
    }
  });
  return plan;
}

std::u16string syncPlanText(const SyncPlan& plan, char decimalPoint) {
  if (!plan.any()) return u"Nothing to change.";
  std::u16string text;
  for (int side : {1, 0}) {
    const SidePlan& s = plan.side[side];
    if (!s.total.any()) continue;
    if (!text.empty()) text += u"\n";
    text += side == 1 ? u"On the target side: " : u"On the source side: ";
    text += changesText(s.total, decimalPoint);
    if (s.rows.size() == 1) {
      text += u"\n  in " + s.rows[0].root + u" (row " + groupedNumber(s.rows[0].row + 1) + u")\n";
      continue;
    }
    text += u"\n";
    for (size_t i = 0; i < s.rows.size() && i < kPlanRowsShown; ++i) {
      const RowPlan& r = s.rows[i];
      text += u"  row " + groupedNumber(r.row + 1) + u", " + r.root + u": " +
              changesText(r.changes, decimalPoint) + u"\n";
    }
    if (s.rows.size() > kPlanRowsShown)
      text += u"  and " + groupedNumber(s.rows.size() - kPlanRowsShown) + u" more rows\n";
  }
  return text;
}

}  // namespace fw
