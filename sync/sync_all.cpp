#include "sync/sync_all.h"

#include "sync/apply_difference.h"
#include "sync/root_locks.h"
#include "sync/sync_walk.h"

namespace fw {

Rc syncAll(const SyncRequest& request, SyncTallies tallies) {
  if (!request.fs || !request.source || !request.target) return Rc::BadRequest;
  RootLocks locks;
  if (Rc rc = lockForJob(request, nullptr, &locks); rc != Rc::Ok) return rc;
  if (request.source->hasSavedFile())
    return applySavedDifference(request, tallies, ApplyMode::OnePass);
  return syncFolders(request, tallies);
}

}  // namespace fw
