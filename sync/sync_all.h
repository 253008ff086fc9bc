// The sync job's entry: a sync from folders or from a saved difference into the target folders.
#ifndef FERRYWICK_SYNC_SYNC_ALL_H
#define FERRYWICK_SYNC_SYNC_ALL_H

#include "core/result.h"
#include "sync/sync_request.h"

namespace fw {

// Synchronises every folder pair: the request's sourceWins categories to the target, its
// targetWins categories to the source. With a source that has a saved file (a saved
// difference) this is applySavedDifference (apply_difference.h) in its one-pass form;
// otherwise syncFolders (sync_walk.h). Either marks the tree with the request's masks first.
// Ok when every pair was walked, whatever failed on the way, and when cancelled; OutOfMemory;
// CannotWrite, before anything is written, when a volume has no room for what the sync adds
// there (checkFreeSpace, named in request.failures); or the code of a difference that cannot
// be applied. Every entry that fails, and every
// Conflict, is also named in request.failures when given.
Rc syncAll(const SyncRequest& request, SyncTallies tallies);

}  // namespace fw

#endif  // FERRYWICK_SYNC_SYNC_ALL_H
