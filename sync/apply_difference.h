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
  // proved whole (its checksum at the very end of the last volume) are the empty folders
  // created and the temporaries renamed into place, each file they replace first given a
  // second name beside it (a hard link, or a copy where the file system has none). Damage, a
  // cancel, or any failure to write the target before or while the set goes in (a file or
  // folder that cannot be created, for want of room, inodes or permission, or under a name
  // the file system refuses; a write, a time or a rename that fails) puts back every file put
  // in place, removes every temporary file and every folder the apply created: the target
  // stays exactly as it was, and the entry that failed is named. Needs room for all the files
  // at once, which is checked first.
  // Entries left out on purpose are no such failure; each is counted and named, and the rest
  // is applied: a name Windows refuses where names are held to those (SyncRequest::
  // windowsNames), and a file whose path runs through a link. Ignored entries are no failure
  // at all. What the folder pass after it cannot do (a deletion refused) is named entry by
  // entry, as in a sync of two folders: a later apply or sync does it.
  OnePass,
  // Two passes: the data stream is read to its end once (checkDataStream) before anything is
  // written, then read again and each file put in place as soon as it has arrived. A file that
  // cannot be created, stamped or put in place is named and counted as failed and the apply
  // goes on; a failed write (a full disk) ends it, the entry named.
  CheckFirst,
};

// Reads the data section of the difference file request.source->savedFile (any volume of a split
// set) and applies each entry whose action under the request's masks takes carried data (actionOf,
// entry_action.h), after marking the tree with them: a file is written to a temporary file and
// renamed over the target only when all its bytes arrived and its times are set (in OnePass, only
// once every entry has); an empty folder is created. Entries that are not applied are read and
// counted as untouched (those the receiving side ignores are not counted at all). Every file
// entry read is added to *tallied (when given), sorted by address at the end, so that the
// folder pass does not count it again. A target root is created (with its ancestors) only
// when something is written into it. Results: Ok (also when cancelled);
// BadRequest without a saved source; OutOfMemory; CannotOpen for a missing volume; Failed for a
// damaged or mismatched file (no data section, a stream without its checksum or with bytes after
// it, a root index out of order or beyond the last pair, a path not in the tree, too long or named
// twice, a stream that ends inside an entry); CannotWrite when a target file or folder cannot be
// written (see ApplyMode), or in OnePass when the files do not fit the free space of their drive
// (then nothing is written at all). Whatever the result, no partly written file remains, and
// every target file not yet reached is as it was; in OnePass every target file is as it was
// unless the result is Ok and the apply was not cancelled. request.failures, when given, names
// every entry left out or failed and says why a whole apply was refused (the entry that stopped
// it, or the difference file). With an active discard policy, a target file that an entry
// replaces is moved away as it says (discard.h); one put back after a failure keeps its copy
// there.
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
