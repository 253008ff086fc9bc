// The sync walk: carries out on disk the actions that actionOf (entry_action.h) gives the
// entries of a compared tree, pair by pair, in both directions as the masks say, and tallies
// every operation in okStats or failedStats. Its loop over the folder pairs (forEachPair) is
// shared with the writing of a difference's data section (save_difference.h) and the folder
// pass after applying one (apply_difference.h), which narrows the walk through a WalkHook.
#ifndef FERRYWICK_SYNC_SYNC_WALK_H
#define FERRYWICK_SYNC_SYNC_WALK_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/entry_action.h"
#include "core/file_node.h"
#include "core/result.h"
#include "platform/fs.h"
#include "sync/sync_request.h"
#include "sync/sync_stats.h"

namespace fw {

class CopyQueue;
class WalkHook;

// One run's state, owned by the run.
struct WalkContext {
  char16_t* sourcePath = nullptr;      // kPathBufferUnits units: the current source path
  char16_t* targetPath = nullptr;      // kPathBufferUnits units: the current target path
  SyncStats* okStats = nullptr;
  SyncStats* failedStats = nullptr;
  const CancelFlag* cancel = nullptr;
  size_t sourceRootLength = 0;  // source root's length plus one: where relative paths begin
  size_t targetRootLength = 0;  // the same for the target, in a sync
  uint32_t pairIndex = 0;       // index of the current folder pair, from 0
  MarkMasks masks{};            // what each entry's action is made of (actionOf)
  Fs* fs = nullptr;
  // Where every failed entry is named, or none.
  FailureLog* failures = nullptr;
  SyncObserver* observer = nullptr;  // told of every entry done but failed ones, or none
  // What becomes of the files a sync deletes or replaces (discard.h); none: they are gone.
  const DiscardPolicy* discard = nullptr;
  // Where a sync hands its file copies to other threads (copy_queue.h); none: it copies them
  // itself.
  CopyQueue* copies = nullptr;
  // What a job that ran a pass of its own before the walk adds to it; none in a plain sync.
  WalkHook* hook = nullptr;
  bool windowsNames = kWindowsNames;  // as SyncRequest::windowsNames
};

// What a job adds to a walk that follows a pass of its own over the same tree (the folder pass
// after a difference's data pass, apply_difference.h).
class WalkHook {
 public:
  virtual ~WalkHook() = default;
  // Sees the action of every entry but a Conflict before the walk carries it out: narrows
  // *action to what is left for the walk, or deals with the entry itself (tallies it, names it)
  // and returns true, and the walk leaves it.
  virtual bool takeOver(WalkContext& ctx, FileNode* node, EntryAction* action) = 0;
  // Whether the earlier pass tallied node already: the walk leaves it out of its own tallies.
  virtual bool tallied(const FileNode* node) const = 0;
  // Whether it tallied any entry at all.
  virtual bool talliedAny() const = 0;
};

// Adds an entry to ctx.failures, when there is a log: the path in the buffer and why (with the
// file-system call that failed, when one did).
void noteFailure(WalkContext& ctx, const char16_t* path, const std::string& reason,
                 const FsFailure& why = {});

// Marks the request's tree with its masks (markTree): every job that acts on the tree does so
// first, whatever its caller marked it with.
void markForJob(const SyncRequest& request);

// The sync of two folder sides: each pair's tree walked by applyTree. A root is created only
// when something is written into it. First, every volume written to must have room for what
// the sync adds there less what it frees (checkFreeSpace): otherwise nothing is done, the
// result is CannotWrite and request.failures names the volume's first root and the shortfall. Where fs.concurrentUse() and no old versions are kept,
// the files are copied on threads of their own (copy_queue.h) while the walk goes on; the
// result, the tallies and the failures named are those of copying them in the walk. Ok when
// every pair was walked, whatever failed on the way, and when cancelled; OutOfMemory; Failed
// or BadRequest as forEachPair. Every entry that fails, and every Conflict, is also named in
// request.failures when given.
Rc syncFolders(const SyncRequest& request, SyncTallies tallies);

// The check syncFolders makes first, for a caller that asks before it starts one: what the
// marked tree below firstRoot writes into each root of the rows and, when `frees` (no old
// versions kept), what it frees there, against the room on each volume (checkFreeSpace: Ok,
// CannotWrite with the volume named in *failures, OutOfMemory).
Rc checkSyncRoom(Fs& fs, FileNode* firstRoot, const SideInput& source, const SideInput& target,
                 bool frees, FailureLog* failures);

// The two path buffers of a walk.
struct WalkBuffers {
  std::unique_ptr<char16_t[]> source;
  std::unique_ptr<char16_t[]> target;
};

// Adds the roots of the request's folder sides to its Fs for as long as roots lives
// (Fs::addRoot), so that no call of the job below them follows a link put on the way. A root
// that cannot be added is named in the failure log, and the job does nothing (Failed).
Rc addJobRoots(const SyncRequest& request, RunRoots& roots);

// Allocates the path buffers and fills ctx with them, the tallies and what the request says;
// copies and hook stay for the job to set. OutOfMemory when the buffers cannot be had.
Rc startWalk(const SyncRequest& request, SyncTallies tallies, WalkBuffers* buffers,
             WalkContext* ctx);

// The walk over the folder pairs that every job shares. Goes through the rows of the request's
// source roots together with its chain of root nodes (link[1]), skipping a row whose source root is
// empty and, with needsTarget, one whose target root is empty (every row keeps its own root
// node). For each other row it puts both roots into ctx's path buffers, sets
// ctx.sourceRootLength, ctx.targetRootLength and ctx.pairIndex, and calls
// visit(root node, source root length, target root length). Stops before a row when the
// cancel flag is set (Ok) and at the first visit that is not Ok (its code); Failed when there
// are fewer root nodes than rows, BadRequest for a root that does not fit a path buffer.
template <typename Visit>
Rc forEachPair(WalkContext& ctx, const SyncRequest& request, bool needsTarget, Visit&& visit);

// Applies the actions of one sibling tree. sourceLength and targetLength say where the parent
// folder's path ends in ctx.sourcePath and ctx.targetPath. Failed operations are tallied and
// the walk goes on: the result is Ok (cancelled or not).
Rc applyTree(WalkContext& ctx, size_t sourceLength, size_t targetLength, FileNode* tree);

// Puts the long form of a root into a PathBuffer, without a trailing separator (the walk
// appends separator and name), and its length into *length. False when it does not fit.
bool putRoot(char16_t* buffer, const std::u16string& root, size_t* length);

template <typename Visit>
Rc forEachPair(WalkContext& ctx, const SyncRequest& request, bool needsTarget, Visit&& visit) {
  static const std::u16string kNone;
  const SideInput& source = *request.source;
  const SideInput& target = *request.target;
  FileNode* root = request.firstRoot;
  ctx.pairIndex = 0;
  for (size_t i = 0; i < source.roots.size() && !isCancelled(ctx.cancel); ++i) {
    const std::u16string& sourceRoot = source.roots[i];
    const std::u16string& targetRoot = i < target.roots.size() ? target.roots[i] : kNone;
    if (!sourceRoot.empty() && !(needsTarget && targetRoot.empty())) {
      if (!root) return Rc::Failed;  // fewer root nodes than rows: not the tree of these inputs
      size_t sl = 0, tl = 0;
      if (!putRoot(ctx.sourcePath, sourceRoot, &sl) || !putRoot(ctx.targetPath, targetRoot, &tl))
        return Rc::BadRequest;
      ctx.sourceRootLength = sl + 1;  // no link below the roots is written through
      ctx.targetRootLength = tl + 1;
      Rc rc = visit(root, sl, tl);
      if (rc != Rc::Ok) return rc;
    }
    if (root) root = root->link[1];
    ++ctx.pairIndex;
  }
  return Rc::Ok;
}

}  // namespace fw

#endif  // FERRYWICK_SYNC_SYNC_WALK_H
