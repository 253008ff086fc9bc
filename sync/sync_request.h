// What a job on a compared tree is asked to do (a sync, applying or saving a difference), and
// where it tallies what it did: the two records every such job takes.
#ifndef FERRYWICK_SYNC_SYNC_REQUEST_H
#define FERRYWICK_SYNC_SYNC_REQUEST_H

#include <cstdint>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/file_node.h"
#include "platform/fs.h"
#include "sync/sync_stats.h"

namespace fw {

struct DiscardPolicy;  // discard.h

// What a run did with one entry that it did not fail on (a failure goes to the failure list).
enum class EntryDone : uint8_t {
  Copied,         // a file written where its side had none
  Replaced,       // a file written over the other version
  Attributes,     // a file that took the other side's attributes or letter case only
  Deleted,        // a file, or a folder with everything in it
  FolderCreated,  // a folder made for what goes into it
  LeftAlone,      // nothing to do: a file, or a folder with everything in it
};

// Told of every entry a run is done with (SyncRequest::observer). Called from the walk's
// thread and from the threads that copy files beside it, at the same time: an implementation
// takes care of that itself. path is the entry's path as the run uses it (long form), on the
// side that changed, or the target's for an entry left alone where the target has it.
class SyncObserver {
 public:
  virtual ~SyncObserver() = default;
  virtual void entryDone(EntryDone what, const char16_t* path) = 0;
};

inline void tellDone(SyncObserver* observer, EntryDone what, const char16_t* path) {
  if (observer) observer->entryDone(what, path);
}

#ifdef _WIN32
inline constexpr bool kWindowsNames = true;
#else
inline constexpr bool kWindowsNames = false;
#endif

struct SyncRequest {
  Fs* fs = nullptr;
  const SideInput* source = nullptr;  // a saved source side (a difference) has savedFile set
  const SideInput* target = nullptr;
  FileNode* firstRoot = nullptr;  // the comparison of source against target: its root chain
  // sourceWins (flagsSrc): the categories that go to the target; targetWins (flagsTrg): those
  // that go to the source. A job marks the tree with them (markTree) before it acts, so the
  // colours too are those of the window that shows the tree afterwards.
  MarkMasks masks = makeMarkMasks(kDefaultFlagsSrc, kDefaultFlagsTrg, kDefaultFlagsColorize);
  const CancelFlag* cancel = nullptr;
  FailureLog* failures = nullptr;  // where every entry that fails is named; none: not named
  SyncObserver* observer = nullptr;  // told of every entry done but failed ones; none: not told
  // What becomes of the files a sync deletes or replaces (discard.h); none: they are gone.
  const DiscardPolicy* discard = nullptr;
  // The caller holds the run's folder locks (root_locks.h); otherwise syncAll and
  // saveDifference take them for their own duration, and a refusal is named in failures.
  bool rootsLocked = false;
  // Whether the names it writes are held to those Windows allows (windows_name.h): an entry
  // to be added under a name Windows refuses, or acted on under one that holds a character no
  // Windows path can, is left out with what lies below it, counted as failed and named, and
  // the rest goes on. Always so in the Windows build; a test elsewhere may ask for it.
  bool windowsNames = kWindowsNames;
};

// Where a job tallies what it did (ok) and what it could not do (failed).
struct SyncTallies {
  SyncStats& ok;
  SyncStats& failed;
};

}  // namespace fw

#endif  // FERRYWICK_SYNC_SYNC_REQUEST_H
