#include "sync/sync_walk.h"

#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "core/sibling_tree.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "platform/windows_name.h"
#include "sync/as_compared.h"
#include "sync/copy_queue.h"
#include "sync/discard.h"
#include "sync/failure_text.h"
#include "sync/file_ops.h"
#include "sync/free_space.h"

namespace fw {
namespace {

bool isTallied(const WalkContext& ctx, const FileNode* node) {
  return ctx.hook && ctx.hook->tallied(node);
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

// Tallies an entry that the run leaves alone: what it has on the target, less the files an
// earlier pass of the run has tallied already. path (end units long) names the entry on side
// for the observer; a folder whose files that pass tallied in part has each of the others
// named, their names (as side spells them) put after path and cut back.
void addUntouched(const WalkContext& ctx, FileNode* node, char16_t* path, size_t end, int side) {
  SyncStats& ok = *ctx.okStats;
  if (!ctx.hook || !ctx.hook->talliedAny()) {
    tally(ok.untouchedFiles, node->counts[1].filesExisting);
    tally(ok.untouchedBytes, node->counts[1].bytesExisting);
  } else if (!isFolder(node)) {
    if (isTallied(ctx, node)) return;
    tally(ok.untouchedFiles, node->counts[1].filesExisting);
    tally(ok.untouchedBytes, node->counts[1].bytesExisting);
  } else {
    forEachInOrder(node->children, [&](FileNode* child) {
      const char16_t* name = sideName(child, side);
      size_t at = ctx.observer && end != 0 ? putName(path, end, name, length16(name)) : 0;
      addUntouched(ctx, child, path, at, side);
    });
    if (end != 0) path[end] = 0;
    return;
  }
  if (end != 0) tellDone(ctx.observer, EntryDone::LeftAlone, path);
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
  return anyBelow(tree, [&](const FileNode* n) {
    EntryAction a = actionOf(n, ctx.masks);
    return a.changes == side && a.what != EntryChange::Delete;
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
  ok.current.set(from);
  CopyOptions options;
  options.progress = &ok.addedBytes;
  options.cancel = ctx.cancel;
  options.start = start;
  options.mayReplace = !added;
  options.discard = ctx.discard;
  options.sourceAsCompared = &node->side[winner];
  options.sourceComparedAsLink = (node->flags & linkFlag(winner)) != 0;
  if (!added) options.destinationAsCompared = &node->side[changed];
  ReplaceOutcome r =
      replaceFile(*ctx.fs, destination, from, node->side[winner].attributes, options);
  if (r.cancelled) return;  // nothing changed; the run stops at its next check
  tally(r.oldReplaced ? ok.deletedBytes : failed.deletedBytes,
        node->counts[changed].bytesExisting);
  if (r.copyResult != Rc::Ok) {
    tally(failed.addedBytes, node->counts[winner].bytesExisting);
    if (r.changed)
      noteFailure(ctx, r.changedSource ? from : destination, r.changed);
    else
      noteFailure(ctx, destination, failureText("cannot copy", r.copyResult, r.failure),
                  r.failure);
  } else {
    tellDone(ctx.observer, added ? EntryDone::Copied : EntryDone::Replaced, destination);
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

// Whether the entry at path on side is still what the comparison recorded there; if not, it
// is left alone: named, and its files (a folder's: all below it) tallied as failed as the
// action would have tallied them.
bool stillAsCompared(WalkContext& ctx, FileNode* node, int side, const char16_t* path) {
  FsFailure why;
  Rc rc = checkAsCompared(*ctx.fs, path, node->side[side], isFolder(node), &why);
  if (rc == Rc::Ok) return true;
  SyncStats& failed = *ctx.failedStats;
  EntryAction a = actionOf(node, ctx.masks);
  if (a.what == EntryChange::Delete) {
    tally(failed.deletedFiles, node->counts[side].filesExisting);
    tally(failed.deletedBytes, node->counts[side].bytesExisting);
  } else if (a.what == EntryChange::Add && isFolder(node)) {  // a folder to copy, as a whole
    tally(failed.addedFiles, node->counts[a.changes].filesAdd);
    tally(failed.addedBytes, node->counts[a.changes].bytesAdd);
  } else if (!isTallied(ctx, node)) {
    tally(failed.modifiedFiles, 1);
  }
  if (rc == Rc::Failed)
    noteFailure(ctx, path, kChangedSinceComparison);
  else
    noteFailure(ctx, path, failureText("left alone: cannot be examined", rc, why), why);
  return false;
}

Rc applyNode(WalkContext& ctx, size_t sl, size_t tl, FileNode* node);

// Deletes a folder on side d entry by entry, each as the comparison saw it, and then the
// folder, empty: whatever appeared in it since, or changed, stays, and the folder with it.
// Its files are tallied one by one. A folder that was to keep something (unticked, unread)
// stays silently; one that holds something new is named and counts as one failed deletion.
Rc emptyAndRemove(WalkContext& ctx, size_t sn, size_t tn, FileNode* node, int d) {
  char16_t* path = d == 1 ? ctx.targetPath : ctx.sourcePath;
  uint32_t failedBefore = valueOf(ctx.failedStats->deletedFiles);
  Rc rc = applyTree(ctx, sn, tn, node->children);
  path[d == 1 ? tn : sn] = 0;  // the entries' walk wrote their names after it
  if (rc != Rc::Ok || isCancelled(ctx.cancel)) return rc;
  FsFailure why;
  if (kept(*ctx.fs, ctx.fs->removeDirectory(path), &why) == FsStatus::Ok) {
    tellDone(ctx.observer, EntryDone::Deleted, path);
    return Rc::Ok;
  }
  if (leavesSomethingBelow(node->children)) return Rc::Ok;  // it stays for what was left alone
  if (valueOf(ctx.failedStats->deletedFiles) != failedBefore) return Rc::Ok;  // named below
  tally(ctx.failedStats->deletedFiles, 1);  // the folder itself, so that the run says so
  if (why.status == FsStatus::NotEmpty || why.status == FsStatus::Exists)
    noteFailure(ctx, path, kChangedSinceComparison);
  else
    noteFailure(ctx, path, failureText("cannot delete", Rc::CannotWrite, why), why);
  return Rc::Ok;
}

// Where names are held to those Windows allows (ctx.windowsNames): an entry to be added under
// a name Windows refuses, or one to be acted on (or with something to do below it) whose name
// holds a character no Windows path can (holdsCharacterWindowsRefuses), is left out with
// everything below it, what was to be done there counted as failed, and named. True when so.
// A side that has an entry under a name refused only for its end or as a device's holds it:
// it is acted on as any other. After the data pass of an apply (ctx.hook), which has named
// the entries it carried, only what needs no data is looked at: deletions.
bool leftOutForItsName(WalkContext& ctx, FileNode* node, size_t sl, size_t tl) {
  EntryAction a = actionOf(node, ctx.masks);
  const bool below = isFolder(node) && (node->flags & HasAction);
  if (a.what == EntryChange::Conflict || (a.what == EntryChange::None && !below)) return false;
  if (ctx.hook && a.what != EntryChange::Delete && !(a.what == EntryChange::None && below))
    return false;
  const char16_t* names[2] = {sideName(node, 0), sideName(node, 1)};
  const int side = a.what == EntryChange::None ? 1 : a.changes;  // whose entry is named
  const char16_t* name = a.what == EntryChange::Add ? names[1 - side] : names[side];
  bool refused = a.what == EntryChange::Add
                     ? !allowedOnWindows(name, length16(name))
                     : holdsCharacterWindowsRefuses(names[0], length16(names[0])) ||
                           holdsCharacterWindowsRefuses(names[1], length16(names[1]));
  if (!refused) return false;
  SyncStats& failed = *ctx.failedStats;
  uint64_t deletes = 0;
  for (const SideCounts& c : node->counts) {
    deletes += c.filesDelete;
    tally(failed.deletedFiles, c.filesDelete);
    tally(failed.deletedBytes, c.bytesDelete);
    if (ctx.hook) continue;  // the data pass tallied what it carried
    tally(failed.addedFiles, c.filesAdd);
    tally(failed.modifiedFiles, c.filesModify);
    tally(failed.addedBytes, c.bytesAdd);
  }
  if (ctx.hook && deletes == 0) return true;
  const char* what = a.what == EntryChange::Delete ? "not deleted: "
                     : a.what == EntryChange::None ? "left alone: "
                                                   : "not written: ";
  char16_t* path = side == 1 ? ctx.targetPath : ctx.sourcePath;
  if (putName(path, side == 1 ? tl : sl, name, length16(name)) != 0)
    noteFailure(ctx, path, std::string(what) + kNotAllowedOnWindows);
  return true;
}

Rc applyNode(WalkContext& ctx, size_t sl, size_t tl, FileNode* node) {
  // Before the check below, which leaves a name with a ':' out in the Windows build without a
  // word.
  if (ctx.windowsNames && leftOutForItsName(ctx, node, sl, tl)) return Rc::Ok;
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

  EntryAction a = actionOf(node, ctx.masks);
  if (a.what == EntryChange::Conflict) {
    failConflict(ctx, node);
    return Rc::Ok;
  }
  if (ctx.hook && ctx.hook->takeOver(ctx, node, &a)) return Rc::Ok;
  if (a.what != EntryChange::None) {
    if (a.what == EntryChange::Delete) {
      // On one side only, and the other side's state wins: remove it, if it is still what the
      // comparison saw.
      int d = a.changes;
      char16_t* path = d == 1 ? ctx.targetPath : ctx.sourcePath;
      FsFailure why;
      if (!stillAsCompared(ctx, node, d, path)) return Rc::Ok;
      if (isFolder(node)) return emptyAndRemove(ctx, sn, tn, node, d);
      size_t start = d == 1 ? ctx.targetRootLength : ctx.sourceRootLength;
      Rc rc = ctx.discard && ctx.discard->active()
                  ? discardEntry(fs, *ctx.discard, path, start, ctx.cancel, &why)
                  : deleteEntry(fs, node, path, ctx.cancel, start, &why);
      SyncStats& s = rc == Rc::Ok ? ok : failed;
      tally(s.deletedFiles, node->counts[d].filesExisting);
      tally(s.deletedBytes, node->counts[d].bytesExisting);
      if (rc != Rc::Ok) noteFailure(ctx, path, failureText("cannot delete", rc, why), why);
      else tellDone(ctx.observer, EntryDone::Deleted, path);
      return Rc::Ok;
    }
    // Add, Replace, Attributes: the changed side takes the winner's version.
    int changed = a.changes;
    int winner = 1 - changed;
    char16_t* destination = changed == 1 ? ctx.targetPath : ctx.sourcePath;
    size_t nameStart = (changed == 1 ? tl : sl) + 1;
    const char16_t* from = winner == 1 ? ctx.targetPath : ctx.sourcePath;
    size_t start = changed == 1 ? ctx.targetRootLength : ctx.sourceRootLength;
    if (isFolder(node)) {
      // A folder copied from the other side must still be the folder compared there, not a
      // link put in its place (whose bits the new folder would take); an apply's comes from
      // the saved difference.
      if (a.what == EntryChange::Add && !ctx.hook && !stillAsCompared(ctx, node, winner, from))
        return Rc::Ok;
      // Created the owner's alone; its source's bits once its entries are handed over.
      createFolder(fs, destination, start, from);
      if (ctx.observer) {  // an existing one is no failure, a missing one fails its entries
        uint32_t a = 0;
        if (fs.getAttributes(destination, &a) == FsStatus::Ok && (a & attr::Directory))
          ctx.observer->entryDone(EntryDone::FolderCreated, destination);
      }
      Rc rc = applyTree(ctx, sn, tn, node->children);
      ctx.sourcePath[sn] = 0;  // the entries' walk wrote their names after it
      ctx.targetPath[tn] = 0;
      carryFolderPermissions(fs, destination, from, start);
      return rc;
    }
    if (a.what == EntryChange::Attributes) {
      // Where the data pass of an apply has just written the winner's content, the file is to
      // be that version now, not the one the comparison saw there.
      const int expected = ctx.hook && ctx.hook->tallied(node) ? winner : changed;
      if (!stillAsCompared(ctx, node, expected, destination)) return Rc::Ok;
      FsFailure why;
      Rc rc = updateAttributes(fs, destination, node->side[winner].attributes, start, &why);
      takeSpelling(ctx, node, destination, nameStart, winner);
      if (!isTallied(ctx, node)) tally(rc == Rc::Ok ? ok.modifiedFiles : failed.modifiedFiles, 1);
      if (rc == Rc::Ok) tellDone(ctx.observer, EntryDone::Attributes, destination);
      if (rc == Rc::Failed)
        noteFailure(ctx, destination,
                    "cannot set the attributes: the file system does not keep them");
      else if (rc != Rc::Ok)
        noteFailure(ctx, destination, failureText("cannot set the attributes", rc, why), why);
      return Rc::Ok;
    }
    bool added = a.what == EntryChange::Add;
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
  if (flags & HasAction) return applyTree(ctx, sn, tn, node->children);
  if (flags & OnlyInSource)
    addUntouched(ctx, node, ctx.sourcePath, sn, 0);
  else
    addUntouched(ctx, node, ctx.targetPath, tn, 1);
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
  logFailure(ctx.failures, path, reason, why);
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

void markForJob(const SyncRequest& request) {
  FileNode top{};
  top.flags = Folder;
  top.children = request.firstRoot;
  markTree(&top, request.masks, nullptr);
}

Rc addJobRoots(const SyncRequest& request, RunRoots& roots) {
  for (const SideInput* side : {request.source, request.target}) {
    if (!side || side->hasSavedFile()) continue;
    for (const std::u16string& root : side->roots) {
      FsStatus s = roots.add(root);
      if (s == FsStatus::Ok) continue;
      if (request.failures) {
        FsFailure why{s, s == FsStatus::InvalidName ? 0 : request.fs->lastOsError()};
        try {
          request.failures->push_back(
              {root, failureText("cannot begin", Rc::Failed, why) + "; nothing was changed",
               why.status, why.osError});
        } catch (const std::bad_alloc&) {
        }
      }
      return Rc::Failed;
    }
  }
  return Rc::Ok;
}

Rc startWalk(const SyncRequest& request, SyncTallies tallies, WalkBuffers* buffers,
             WalkContext* ctx) {
  buffers->source.reset(new (std::nothrow) char16_t[kPathBufferUnits]);
  buffers->target.reset(new (std::nothrow) char16_t[kPathBufferUnits]);
  if (!buffers->source || !buffers->target) return Rc::OutOfMemory;
  *ctx = WalkContext{};
  ctx->sourcePath = buffers->source.get();
  ctx->targetPath = buffers->target.get();
  ctx->okStats = &tallies.ok;
  ctx->failedStats = &tallies.failed;
  ctx->cancel = request.cancel;
  ctx->masks = request.masks;
  ctx->fs = request.fs;
  ctx->failures = request.failures;
  ctx->observer = request.observer;
  ctx->discard = request.discard;
  ctx->windowsNames = request.windowsNames;
  return Rc::Ok;
}

Rc checkSyncRoom(Fs& fs, FileNode* firstRoot, const SideInput& source, const SideInput& target,
                 bool frees, FailureLog* failures) {
  std::vector<SpaceNeed> needs;
  try {
    const SideInput* inputs[2] = {&source, &target};
    forEachSyncedRow(firstRoot, source, target, [&](size_t row, const FileNode* root) {
      for (int side = 0; side < 2; ++side) {
        const SideCounts& c = root->counts[side];
        needs.push_back({inputs[side]->roots[row], c.bytesAdd, frees ? c.bytesDelete : 0});
      }
    });
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  return checkFreeSpace(fs, needs, "the sync", failures);
}

Rc syncFolders(const SyncRequest& request, SyncTallies tallies) {
  if (!request.fs || !request.source || !request.target) return Rc::BadRequest;
  Fs& fs = *request.fs;
  const DiscardPolicy* discard = request.discard;
  RunRoots roots(fs);
  if (Rc rc = addJobRoots(request, roots); rc != Rc::Ok) return rc;
  markForJob(request);
  // A file moved aside (a backup folder, the recycle bin) frees nothing: it stays on its
  // drive, or goes to one that is not checked.
  Rc rc = checkSyncRoom(*request.fs, request.firstRoot, *request.source, *request.target,
                        !(request.discard && request.discard->active()), request.failures);
  if (rc != Rc::Ok) return rc;
  WalkBuffers buffers;
  WalkContext ctx;
  rc = startWalk(request, tallies, &buffers, &ctx);
  if (rc != Rc::Ok) return rc;
  // Copies on threads of their own where the file system may be used so; not while old
  // versions are moved aside (the recycle bin is the shell's, which wants one thread).
  // The workers read a copy of the run's records made before the walk changes anything.
  WalkContext forCopies = ctx;
  std::optional<CopyQueue> copies;
  if (fs.concurrentUse() && !(discard && discard->active())) {
    copies.emplace(copyThreads(), runHandedCopy, &forCopies, request.failures);
    if (copies->workers() > 0) ctx.copies = &*copies;
  }
  rc = forEachPair(ctx, request, true, [&](FileNode* root, size_t sl, size_t tl) {
    // A root is created only when something is written into it: an empty folder made at the
    // place of an unmounted drive would pass for an emptied one at the next sync.
    if (writesInto(ctx, root->children, 0)) createFolderChain(fs, ctx.sourcePath, sl);
    if (writesInto(ctx, root->children, 1)) createFolderChain(fs, ctx.targetPath, tl);
    return applyTree(ctx, sl, tl, root->children);
  });
  if (copies) copies->finish();
  return rc;
}

}  // namespace fw
