// What a job on a compared tree is asked to do (a sync, applying or saving a difference), and
// where it tallies what it did: the two records every such job takes.
#ifndef FERRYWICK_SYNC_SYNC_REQUEST_H
#define FERRYWICK_SYNC_SYNC_REQUEST_H

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/file_node.h"
#include "platform/fs.h"
#include "sync/sync_stats.h"

namespace fw {

struct DiscardPolicy;  // discard.h

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
