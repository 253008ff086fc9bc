#include "sync/sync_walk.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include "core/sibling_tree.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/apply_difference.h"
#include "sync/copy_queue.h"
#include "sync/discard.h"
#include "sync/failure_text.h"
#include "sync/file_ops.h"

namespace fw {
namespace {

bool isTallied(const WalkContext& ctx, const FileNode* node) {
  return ctx.tallied && std::binary_search(ctx.tallied->begin(), ctx.tallied->end(), node);
}

// Tallies an entry that the run leaves alone: what it has on the target, less the files an
// earlier pass of the run has tallied already.
void addUntouched(const WalkContext& ctx, FileNode* node) {
  SyncStats& ok = *ctx.okStats;
  if (!ctx.tallied || ctx.tallied->empty()) {
    tally(ok.untouchedFiles, node->counts[1].filesExisting);
    tally(ok.untouchedBytes, node->counts[1].bytesExisting);
  } else if (!isFolder(node)) {
    if (isTallied(ctx, node)) return;
    tally(ok.untouchedFiles, node->counts[1].filesExisting);
    tally(ok.untouchedBytes, node->counts[1].bytesExisting);
  } else {
    forEachInOrder(node->children, [&](FileNode* child) { addUntouched(ctx, child); });
  }
}

// Writes the separator and name at position at of a PathBuffer; the new length, or 0 when it
// does not fit.
size_t putName(char16_t* buffer, size_t at, const char16_t* name, size_t length) {
  if (at + 1 + length + 1 > kPathBufferUnits) return 0;
  buffer[at] = kPathSeparator;
  for (size_t i = 0; i < length; ++i) buffer[at + 1 + i] = name[i];
  buffer[at + 1 + length] = 0;
  return at + 1 + length;
}

// Whether the difference's data pass should have written this file, the user's unticking
// aside.
bool needsData(const WalkContext& ctx, uint32_t f) {
  if ((f & Excluded) && !(f & Ignored)) return false;
  return takesCarriedData(f, ctx.dataToTarget, ctx.dataToSource);
}

// The categories whose entries a walk deletes: on one side only, the other side winning.
uint32_t deletionMask(const WalkContext& ctx) {
  return (ctx.toSourceMask & OnlyInSource) | (ctx.toTargetMask & OnlyInTarget);
}

// Whether some node at or below tree passes test.
template <typename Test>
bool anyBelow(FileNode* tree, const Test& test) {
  bool found = false;
  walkInOrder(tree, [&](FileNode* n) {
    found = test(n) || (n->children && anyBelow(n->children, test));
    return found ? Rc::Failed : Rc::Ok;  // Failed only ends the walk
  });
  return found;
}

// Whether anything below is to be left alone (unticked, unread, a conflict): then a folder to
// be deleted is emptied entry by entry instead of removed whole.
bool leavesSomethingBelow(FileNode* tree) {
  constexpr uint32_t kLeftAlone = Excluded | SourceUnlisted | TargetUnlisted | Conflict;
  return anyBelow(tree, [](const FileNode* n) { return (n->flags & kLeftAlone) != 0; });
}

// Whether the walk of tree creates or replaces anything on side.
bool writesInto(const WalkContext& ctx, FileNode* tree, int side) {
  uint32_t masks = (ctx.toTargetMask | ctx.toSourceMask) & ~deletionMask(ctx);
  return anyBelow(tree, [&](const FileNode* n) {
    return !(n->flags & (Excluded | Conflict)) && (n->flags & masks) &&
           syncDirection(n->flags, ctx.toTargetMask, ctx.toSourceMask) == side;
  });
}

// After the changed side's file took the winner's content or attributes under its own
// spelling, gives it the winner's spelling too, so that the next comparison finds them equal.
void takeSpelling(WalkContext& ctx, FileNode* node, const char16_t* destination,
                  size_t nameStart, int winner) {
  if (!(node->flags & OtherSpelling)) return;
  std::u16string renamed(destination, nameStart);
  renamed += sideName(node, winner);
  FsFailure why;
  if (kept(*ctx.fs, ctx.fs->rename(destination, renamed.c_str(), false), &why) != FsStatus::Ok)
    noteFailure(ctx, destination,
                failureText("cannot change the letter case of the name", Rc::CannotWrite, why),
                why);
}

// Copies the winner's file over the changed side's (or to where it has none), tallies it and
// names a failure; the file then takes the winner's spelling.
void copyEntry(WalkContext& ctx, FileNode* node, const char16_t* destination,
               const char16_t* from, size_t nameStart, size_t start, int changed, bool added) {
  SyncStats& ok = *ctx.okStats;
  SyncStats& failed = *ctx.failedStats;
  int winner = 1 - changed;
  ReplaceOutcome r = replaceFile(*ctx.fs, destination, from, node->side[winner].attributes,
                                 &ok.addedBytes, ctx.cancel, start, !added, ctx.discard);
  if (r.cancelled) return;  // nothing changed; the run stops at its next check
  tally(r.oldReplaced ? ok.deletedBytes : failed.deletedBytes,
        node->counts[changed].bytesExisting);
  if (r.copyResult != Rc::Ok) {
    tally(failed.addedBytes, node->counts[winner].bytesExisting);
    noteFailure(ctx, destination, failureText("cannot copy", r.copyResult, r.failure), r.failure);
  } else {
    takeSpelling(ctx, node, destination, nameStart, winner);
  }
  SyncStats& s = r.copyResult == Rc::Ok ? ok : failed;
  tally(added ? s.addedFiles : s.modifiedFiles, 1);
}

// A copy that the walk handed to a CopyQueue, carried out on its worker thread: as copyEntry
// in the walk, with the copy's failures kept with it.
void runHandedCopy(void* context, FileCopy& copy) {
  WalkContext ctx = *static_cast<const WalkContext*>(context);  // this copy's own
  if (isCancelled(ctx.cancel)) return;  // not begun: as an entry the walk never reached
  ctx.copies = nullptr;
  ctx.failures = &copy.failures;
  copyEntry(ctx, copy.node, copy.destination.c_str(), copy.source.c_str(), copy.nameStart,
            copy.rootStart, copy.changed, copy.added);
}

// An entry that the comparison could not pair safely: left as it is on both sides, counted
// as failed and named.
void failConflict(WalkContext& ctx, FileNode* node) {
  SyncStats& failed = *ctx.failedStats;
  bool both = !(node->flags & (OnlyInSource | OnlyInTarget));
  tally(both ? failed.modifiedFiles : failed.addedFiles, 1);
  noteFailure(ctx, (node->flags & OnlyInSource) ? ctx.sourcePath : ctx.targetPath,
              "left alone: cannot be paired with the other side (a file against a folder, or "
              "a name that differs only in letter case from another)");
}

Rc applyNode(WalkContext& ctx, size_t sl, size_t tl, FileNode* node) {
  const char16_t* names[2] = {sideName(node, 0), sideName(node, 1)};
  size_t length = length16(names[0]);
  // A name that cannot be one entry of a folder ("..", a separator inside) can only come from
  // a damaged or hostile saved file: never build a path from it.
  if (!isPlainName(names[0], length) || !isPlainName(names[1], length16(names[1])))
    return Rc::Ok;
  size_t sn = putName(ctx.sourcePath, sl, names[0], length);
  size_t tn = putName(ctx.targetPath, tl, names[1], length16(names[1]));
  if (sn == 0 || tn == 0) return Rc::Ok;  // beyond what any path of this system can hold
  Fs& fs = *ctx.fs;
  SyncStats& ok = *ctx.okStats;
  SyncStats& failed = *ctx.failedStats;
  uint32_t flags = node->flags;

  if (flags & Conflict) {
    failConflict(ctx, node);
    return Rc::Ok;
  }
  if (ctx.tallied && !isFolder(node) && ((flags & Ignored) || !isTallied(ctx, node)) &&
      needsData(ctx, flags)) {
    // From a difference: a file it should have carried, but did not (a difference made for
    // another target), or one the receiving side leaves out.
    tally((flags & OnlyInSource) ? failed.addedFiles : failed.modifiedFiles, 1);
    noteFailure(ctx, ctx.targetPath,
                (flags & Ignored) ? "not written: this side's ignore list leaves it out"
                                  : "not written: the difference does not carry its data");
    return Rc::Ok;
  }
  if (!(flags & Excluded)) {
    uint32_t deletions = deletionMask(ctx);
    if ((flags & deletions) && !(flags & KeptForMissingRoot)) {
      // On one side only, and the other side's state wins: remove it.
      int d = (flags & OnlyInTarget) ? 1 : 0;
      char16_t* path = d == 1 ? ctx.targetPath : ctx.sourcePath;
      if (isFolder(node) && leavesSomethingBelow(node->children)) {
        Rc rc = applyTree(ctx, sn, tn, node->children);
        path[d == 1 ? tn : sn] = 0;  // the entries' walk wrote their names after it
        fs.removeDirectory(path);    // stays when what was left alone is still in it
        return rc;
      }
      size_t start = d == 1 ? ctx.targetRootLength : ctx.sourceRootLength;
      FsFailure why;
      Rc rc = ctx.discard && ctx.discard->active()
                  ? discardEntry(fs, *ctx.discard, path, start, isFolder(node), ctx.cancel, &why)
                  : deleteEntry(fs, node, path, d == 1 ? tn : sn, ctx.cancel, start, &why);
      SyncStats& s = rc == Rc::Ok ? ok : failed;
      tally(s.deletedFiles, node->counts[d].filesExisting);
      tally(s.deletedBytes, node->counts[d].bytesExisting);
      if (rc != Rc::Ok) noteFailure(ctx, path, failureText("cannot delete", rc, why), why);
      return Rc::Ok;
    }
    uint32_t action = flags & (ctx.toTargetMask | ctx.toSourceMask) & ~deletions;
    if (action != 0) {
      int changed = syncDirection(flags, ctx.toTargetMask, ctx.toSourceMask);
      int winner = 1 - changed;
      char16_t* destination = changed == 1 ? ctx.targetPath : ctx.sourcePath;
      size_t nameStart = (changed == 1 ? tl : sl) + 1;
      const char16_t* from = winner == 1 ? ctx.targetPath : ctx.sourcePath;
      size_t start = changed == 1 ? ctx.targetRootLength : ctx.sourceRootLength;
      if (isFolder(node)) {
        createFolder(fs, destination, start);
        return applyTree(ctx, sn, tn, node->children);
      }
      if (action == CaseOrAttrDiffers) {
        updateAttributes(fs, destination, node->side[winner].attributes, start);
        takeSpelling(ctx, node, destination, nameStart, winner);
        if (!isTallied(ctx, node)) tally(ok.modifiedFiles, 1);
        return Rc::Ok;
      }
      bool added = (flags & (OnlyInSource | OnlyInTarget)) != 0;
      if (ctx.copies) {
        // Another thread copies it; the walk goes on.
        try {
          FileCopy copy;
          copy.destination = destination;
          copy.source = from;
          copy.nameStart = nameStart;
          copy.rootStart = start;
          copy.node = node;
          copy.changed = changed;
          copy.added = added;
          ctx.copies->push(std::move(copy));
          return Rc::Ok;
        } catch (const std::bad_alloc&) {
          ctx.copies->finish();  // copied here, after the ones before it
        }
      }
      copyEntry(ctx, node, destination, from, nameStart, start, changed, added);
      return Rc::Ok;
    }
  }
  if (flags & HasAction) return applyTree(ctx, sn, tn, node->children);
  addUntouched(ctx, node);
  return Rc::Ok;
}

// Threads that copy files beside the walk: two at least (even one core gains from a copy
// waiting on the disk while another runs), at most four.
int copyThreads() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores < 2 ? 2 : cores > 4 ? 4 : static_cast<int>(cores);
}

}  // namespace

void noteFailure(WalkContext& ctx, const char16_t* path, const std::string& reason,
                 const FsFailure& why) {
  if (!ctx.failures) return;
  // The copies handed over before this entry report first, as they would in a walk alone.
  if (ctx.copies) ctx.copies->finish();
  try {
    ctx.failures->push_back({fromLongPath(path), reason, why.status, why.osError});
  } catch (const std::bad_alloc&) {
    // The tallies still count it; only its name is lost.
  }
}

bool putRoot(char16_t* buffer, const std::u16string& root, size_t* length) {
  size_t n = toLongPath(buffer, kPathBufferUnits, root.c_str());
  if (n == 0 && !root.empty()) return false;
  if (n > 0 && buffer[n - 1] == kPathSeparator) buffer[--n] = 0;  // "C:\", "/"
  *length = n;
  return true;
}

Rc applyTree(WalkContext& ctx, size_t sourceLength, size_t targetLength, FileNode* tree) {
  // In order (link[0], node, link[1]), stopping at the cancel flag.
  bool cancelled = false;
  Rc rc = walkInOrder(tree, [&](FileNode* n) {
    if (isCancelled(ctx.cancel)) {
      cancelled = true;
      return Rc::Failed;  // ends the walk; reported as Ok below
    }
    return applyNode(ctx, sourceLength, targetLength, n);
  });
  return cancelled ? Rc::Ok : rc;
}

Rc startWalk(Fs& fs, SyncStats& okStats, SyncStats& failedStats, const CancelFlag* cancel,
             WalkBuffers* buffers, WalkContext* ctx) {
  buffers->source.reset(new (std::nothrow) char16_t[kPathBufferUnits]);
  buffers->target.reset(new (std::nothrow) char16_t[kPathBufferUnits]);
  if (!buffers->source || !buffers->target) return Rc::OutOfMemory;
  *ctx = WalkContext{};
  ctx->sourcePath = buffers->source.get();
  ctx->targetPath = buffers->target.get();
  ctx->okStats = &okStats;
  ctx->failedStats = &failedStats;
  ctx->cancel = cancel;
  ctx->fs = &fs;
  return Rc::Ok;
}

Rc syncFolders(Fs& fs, const SideInput& source, const SideInput& target, FileNode* firstRoot,
               uint32_t flagsSrc, uint32_t flagsTrg, SyncStats& okStats, SyncStats& failedStats,
               const CancelFlag* cancel, FailureLog* failures, const DiscardPolicy* discard) {
  WalkBuffers buffers;
  WalkContext ctx;
  Rc rc = startWalk(fs, okStats, failedStats, cancel, &buffers, &ctx);
  if (rc != Rc::Ok) return rc;
  ctx.toTargetMask = flagsSrc & kCategoryBits;
  ctx.toSourceMask = flagsTrg & kCategoryBits;
  ctx.failures = failures;
  ctx.discard = discard;
  // Copies on threads of their own where the file system may be used so; not while old
  // versions are moved aside (the recycle bin is the shell's, which wants one thread).
  // The workers read a copy of the run's records made before the walk changes anything.
  WalkContext forCopies = ctx;
  std::optional<CopyQueue> copies;
  if (fs.concurrentUse() && !(discard && discard->active())) {
    copies.emplace(copyThreads(), runHandedCopy, &forCopies, failures);
    if (copies->workers() > 0) ctx.copies = &*copies;
  }
  rc = forEachPair(ctx, source, target, firstRoot, true, [&](FileNode* root, size_t sl, size_t tl) {
    // A root is created only when something is written into it: an empty folder made at the
    // place of an unmounted drive would pass for an emptied one at the next sync.
    if (writesInto(ctx, root->children, 0)) createFolderChain(fs, ctx.sourcePath, sl);
    if (writesInto(ctx, root->children, 1)) createFolderChain(fs, ctx.targetPath, tl);
    return applyTree(ctx, sl, tl, root->children);
  });
  if (copies) copies->finish();
  return rc;
}

Rc syncAll(Fs& fs, const SideInput& source, const SideInput& target, FileNode* firstRoot,
           uint32_t flagsSrc, uint32_t flagsTrg, SyncStats& okStats, SyncStats& failedStats,
           const CancelFlag* cancel, FailureLog* failures, const DiscardPolicy* discard) {
  if (source.hasSavedFile())
    return applySavedDifference(fs, source, target, firstRoot, flagsSrc, flagsTrg, okStats,
                                failedStats, cancel, failures, ApplyMode::OnePass, discard);
  return syncFolders(fs, source, target, firstRoot, flagsSrc, flagsTrg, okStats, failedStats,
                     cancel, failures, discard);
}

}  // namespace fw
