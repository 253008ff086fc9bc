// The room a job needs on the volumes it writes to, checked before it writes anything: the
// one check of a sync of folders and of the apply of a difference.
#ifndef FERRYWICK_SYNC_FREE_SPACE_H
#define FERRYWICK_SYNC_FREE_SPACE_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/result.h"
#include "platform/fs.h"
#include "sync/sync_stats.h"

namespace fw {

// What a job writes below one folder (a root, which need not exist yet) and what it frees
// there.
struct SpaceNeed {
  std::u16string folder;  // as the user gave it: the name of its volume in the refusal
  uint64_t adds = 0;      // bytes of the files written
  uint64_t frees = 0;     // bytes of the files removed or replaced
};

// Whether the needs fit: per volume (that of each folder's deepest existing ancestor, told
// apart by Fs::identify), what they add less what they free, against what freeSpace says the
// volume has free. Ok when every volume has room; a volume that cannot say how much it has
// free, or which it is, is not checked. CannotWrite when one has not, with its first folder
// named in *failures, when given: "not enough free space for WHAT: 3.0 MB needed, 1.0 MB free
// (2.0 MB short); nothing was changed" (status DiskFull). OutOfMemory.
Rc checkFreeSpace(Fs& fs, const std::vector<SpaceNeed>& needs, const char* what,
                  FailureLog* failures);

}  // namespace fw

#endif  // FERRYWICK_SYNC_FREE_SPACE_H
