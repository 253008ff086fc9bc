// What a sync does to one entry of a compared tree under a pair of masks: the one decision
// that the marking pass (its counts), the sync walk, the save and apply of a difference and the
// command line's listing all read, so that none of them can tell another story.
#ifndef FERRYWICK_CORE_ENTRY_ACTION_H
#define FERRYWICK_CORE_ENTRY_ACTION_H

#include <cstdint>

#include "core/comparison.h"
#include "core/file_node.h"

namespace fw {

enum class EntryChange : uint8_t {
  None,        // left as it is on both sides
  Add,         // created on the side that lacks it, from the other side
  Replace,     // the changed side's file takes the other side's content (a folder: entered)
  Attributes,  // only the attributes and the letter case of the name differ: those are copied
  Delete,      // removed from the only side that has it
  Conflict,    // cannot be paired with the other side: left alone, counted as failed, named
};

struct EntryAction {
  EntryChange what = EntryChange::None;
  int changes = -1;  // the side that changes: 0 source, 1 target; -1 for None and Conflict
  // The entry takes its content from the data a difference carries: a file added or replaced
  // on the target, or an empty folder new to it. Set also for an entry a saved difference's
  // ignore list left out (Ignored; what is None), so that the apply can name the data it did
  // not write.
  bool carriedData = false;
};

// The categories whose files a difference carries data for.
inline constexpr uint32_t kCarriedCategories =
    OnlyInSource | NewerInSource | NewerInTarget | SizeDiffers;

// Whether an entry with these flags takes its data from a difference under toTarget and
// toSource (the carried categories each side wins), unticking aside.
inline bool takesCarriedData(uint32_t flags, uint32_t toTarget, uint32_t toSource) {
  if (flags & toTarget & ~static_cast<uint32_t>(SizeDiffers)) return true;
  return !(flags & toSource) && (flags & toTarget);
}

// The categories whose entries a sync with these masks deletes: on one side only, the other
// side winning (as syncDirection decides where both masks hold a category).
uint32_t deletionMask(const MarkMasks& masks);

// What a sync with masks does to node. An Excluded entry (unticked, below an unlisted folder)
// is None; a Conflict is Conflict whatever the masks; an entry of a row whose other root is
// missing (KeptForMissingRoot) is never deleted. For a folder, Replace and Attributes mean
// that it is entered: its entries carry the changes.
EntryAction actionOf(const FileNode* node, const MarkMasks& masks);

// What a sync with masks makes of a row whose root on side does not exist (missingRoots):
// keepsEntries, that it leaves entries of the other side alone that it would have deleted had
// the root been there (KeptForMissingRoot), so that the row is not brought in step; writesInto,
// that it copies something to that side, which creates the root. Neither for a row the tree
// does not have.
struct MissingRootEffect {
  bool keepsEntries = false;
  bool writesInto = false;
};
MissingRootEffect missingRootEffect(FileNode* firstRoot, const MissingRoot& missing,
                                    const MarkMasks& masks);

}  // namespace fw

#endif  // FERRYWICK_CORE_ENTRY_ACTION_H
