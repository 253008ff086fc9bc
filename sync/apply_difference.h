// Applying a saved difference: writes the file contents carried in a difference file's data
// section into the target folders of a compared tree (the tree of that difference against the
// target). The deletions and attribute updates that need no file data are the folder pass of
// the sync walk (sync_walk.h) that follows.
#ifndef FERRYWICK_SYNC_APPLY_DIFFERENCE_H
#define FERRYWICK_SYNC_APPLY_DIFFERENCE_H

#include <vector>

#include "core/entry_action.h"
#include "core/file_node.h"
#include "core/result.h"
#include "sync/sync_request.h"

namespace fw {

// How a difference is applied.
enum class ApplyMode {
  // One pass over the volumes: every file is written to its temporary file beside its
  // destination while the stream is read and checked; only once the whole data stream has
  // proved whole (its checksum at the very end of the last volume) are the temporaries renamed
  // into place and the empty folders created. Damage, a cancel or a failure before that point
  // removes every temporary file and every folder the apply created: the target stays exactly
  // as it was. Needs room for all the files at once, which is checked first.
  OnePass,
  // Two passes: the data stream is read to its end once (checkDataStream) before anything is
  // written, then read again and each file put in place as soon as it has arrived.
  CheckFirst,
};

// Reads the data section of the difference file request.source->savedFile (any volume of a split
// set) and applies each entry whose action under the request's masks takes carried data (actionOf,
// entry_action.h), after marking the tree with them: a file is written to a temporary file and
// renamed over the target only when all its bytes arrived and its times are set (in OnePass, only
// once every entry has); an empty folder is created. Entries that are not applied are read and
// counted as untouched. Every file entry read is added to *tallied (when given), sorted by address
// at the end, so that the folder pass does not count it again. Results: Ok (also when cancelled);
// BadRequest without a saved source; OutOfMemory; CannotOpen for a missing volume; Failed for a
// damaged or mismatched file (no data section, a stream without its checksum or with bytes after
// it, a root index out of order or beyond the last pair, a path not in the tree, too long or named
// twice, a stream that ends inside an entry); CannotWrite when a target file cannot be written (a
// full disk), or in OnePass when the files do not fit the free space of their drive (then nothing
// is written at all). Whatever the result, no partly written file remains, and every target file
// not yet reached is as it was; in OnePass every target file is as it was unless the result is Ok
// and the apply was not cancelled. request.failures, when given, receives an entry that says why a
// whole apply was refused. With an active discard policy, a target file that an entry replaces is
// moved away as it says (discard.h).
Rc applyDifference(const SyncRequest& request, SyncTallies tallies,
                   ApplyMode mode = ApplyMode::OnePass,
                   std::vector<const FileNode*>* tallied = nullptr);

// The sync from a saved difference (request.source->savedFile) into the target folders: the
// data pass (applyDifference), then, unless it failed or was cancelled, the folder pass of the
// sync walk over every pair with a target root, which does on the target what needs no file
// data: deleting what only the target has, attribute and letter case updates, and naming the
// files that needed data the difference did not carry. Results as syncAll (sync_all.h).
Rc applySavedDifference(const SyncRequest& request, SyncTallies tallies,
                        ApplyMode mode = ApplyMode::OnePass);

}  // namespace fw

#endif  // FERRYWICK_SYNC_APPLY_DIFFERENCE_H
