// What a sync of the compared tree is about to do, per side and per row, in the figures of the
// last marking pass (the counts markTree leaves on the root nodes, actionOf for the folders),
// and the text of the question the File Tree window asks before it starts one.
#ifndef FERRYWICK_APP_LOGIC_SYNC_PLAN_H
#define FERRYWICK_APP_LOGIC_SYNC_PLAN_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/comparison.h"
#include "core/file_node.h"

namespace fw {

// The changes on one side of one row, or of a whole side.
struct PlannedChanges {
  uint32_t filesToCopy = 0;     // new on this side (SideCounts::filesAdd)
  uint32_t filesToReplace = 0;  // replaced or given new attributes (filesModify)
  uint32_t filesToDelete = 0;
  uint32_t foldersToCreate = 0;
  uint32_t foldersToDelete = 0;
  uint64_t bytesToWrite = 0;  // the data of the copies and replacements (bytesAdd)
  bool any() const {
    return filesToCopy || filesToReplace || filesToDelete || foldersToCreate || foldersToDelete;
  }
};

struct RowPlan {
  size_t row = 0;  // from 0
  std::u16string root;  // the row's folder on that side, as the user gave it
  PlannedChanges changes;
};

struct SidePlan {
  PlannedChanges total;
  std::vector<RowPlan> rows;  // only the rows that change on this side
};

struct SyncPlan {
  SidePlan side[2];  // 0 source, 1 target
  bool any() const { return side[0].total.any() || side[1].total.any(); }
};

// The plan of a sync with masks over the tree whose root nodes start at firstRoot, as the
// last markTree with the same masks left its counts: the rows the sync walks (both roots
// given, as countDeletions takes them); a saved source is never changed.
SyncPlan planSync(FileNode* firstRoot, const SideInput& source, const SideInput& target,
                  const MarkMasks& masks);

// The plan in words, a paragraph per side that changes, the target first, an empty line between:
//   On the target side: copy 12 files, replace 3 files (4.5 MB to write), delete 2 files,
//   create 4 folders, delete 1 folder
//     row 1, D:\Backup: copy 12 files, ...
// The rows are listed when more than one changes (a single one is named on the line below as
// "  in D:\Backup (row 1)"), at most kPlanRowsShown of them and a count of the rest.
// "Nothing to change." when nothing would.
inline constexpr size_t kPlanRowsShown = 12;
std::u16string syncPlanText(const SyncPlan& plan, char decimalPoint = '.');

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_SYNC_PLAN_H
