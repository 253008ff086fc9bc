// Applying a saved difference: writes the file contents carried in a difference file's data
// section into the target folders of a compared tree (the tree of that difference against the
// target). The deletions and attribute updates that need no file data are the folder pass of
// runPairs (sync_walk.h) that follows.
#ifndef FERRYWICK_SYNC_APPLY_DIFFERENCE_H
#define FERRYWICK_SYNC_APPLY_DIFFERENCE_H

#include <cstdint>
#include <vector>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/file_node.h"
#include "core/result.h"
#include "platform/fs.h"
#include "sync/sync_stats.h"

namespace fw {

struct DiscardPolicy;

// The categories whose files a difference carries data for.
inline constexpr uint32_t kCarriedCategories =
    OnlyInSource | NewerInSource | NewerInTarget | SizeDiffers;

// Whether a file with these flags takes its data from a difference under the masks of the
// apply (toTarget, toSource: the categories each side wins), unticking aside.
inline bool takesCarriedData(uint32_t flags, uint32_t toTarget, uint32_t toSource) {
  if (flags & toTarget & ~static_cast<uint32_t>(SizeDiffers)) return true;
  return !(flags & toSource) && (flags & toTarget);
}

// Reads the data section of the difference file at path (any volume of a split set) and
// applies each entry whose node the masks select: a file is written to a temporary file and
// renamed over the target only when all its bytes arrived and its times are set; an empty
// folder is created. Entries that are not applied are read and counted as untouched.
// Every file entry read is added to *tallied (when given), sorted by address at the end, so
// that the folder pass does not count it again.
// Before anything is written the data section's stream is read to its end once
// (checkDataStream), so a damaged stream changes nothing.
// Results: Ok (also when cancelled); OutOfMemory; CannotOpen for a missing volume; Failed for
// a damaged or mismatched file (no data section, a stream without its checksum or with bytes
// after it, a root index out of order or beyond the last pair, a path not in the tree, too
// long or named twice, a stream that ends inside an entry); CannotWrite
// when a target file cannot be written (a full disk). Whatever the result, no partly written
// file remains, and every target file not yet reached is as it was. With an active discard
// policy, a target file that an entry replaces is moved away as it says (discard.h).
Rc applyDifference(Fs& fs, const SideInput& target, const char16_t* path, FileNode* firstRoot,
                   uint32_t toTargetMask, uint32_t toSourceMask, SyncStats& okStats,
                   SyncStats& failedStats, const CancelFlag* cancel,
                   std::vector<const FileNode*>* tallied = nullptr,
                   const DiscardPolicy* discard = nullptr);

}  // namespace fw

#endif  // FERRYWICK_SYNC_APPLY_DIFFERENCE_H
