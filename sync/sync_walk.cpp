#include "sync/sync_walk.h"

#include <algorithm>
#include <memory>
#include <new>

#include "core/sibling_tree.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/apply_difference.h"
#include "sync/file_ops.h"
#include "sync/save_difference.h"

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

Rc applyNode(WalkContext& ctx, size_t sl, size_t tl, FileNode* node) {
  size_t length = length16(node->name);
  // A name that cannot be one entry of a folder ("..", a separator inside) can only come from
  // a damaged or hostile saved file: never build a path from it.
  if (!isPlainName(node->name, length)) return Rc::Ok;
  size_t sn = putName(ctx.sourcePath, sl, node->name, length);
  size_t tn = putName(ctx.targetPath, tl, node->name, length);
  if (sn == 0 || tn == 0) return Rc::Ok;  // beyond what any path of this system can hold
  Fs& fs = *ctx.fs;
  SyncStats& ok = *ctx.okStats;
  SyncStats& failed = *ctx.failedStats;
  uint32_t flags = node->flags;

  if (!(flags & Excluded)) {
    uint32_t deletions = (ctx.toSourceMask & OnlyInSource) | (ctx.toTargetMask & OnlyInTarget);
    if (flags & deletions) {
      // On one side only, and the other side's state wins: remove it.
      int d = (flags & OnlyInTarget) ? 1 : 0;
      Rc rc = d == 1 ? deleteEntry(fs, node, ctx.targetPath, tn, ctx.cancel, ctx.targetRootLength)
                     : deleteEntry(fs, node, ctx.sourcePath, sn, ctx.cancel, ctx.sourceRootLength);
      SyncStats& s = rc == Rc::Ok ? ok : failed;
      tally(s.deletedFiles, node->counts[d].filesExisting);
      tally(s.deletedBytes, node->counts[d].bytesExisting);
      return Rc::Ok;
    }
    uint32_t action = flags & (ctx.toTargetMask | ctx.toSourceMask);
    if (action != 0) {
      int changed = syncDirection(flags, ctx.toTargetMask, ctx.toSourceMask);
      int winner = 1 - changed;
      char16_t* destination = changed == 1 ? ctx.targetPath : ctx.sourcePath;
      const char16_t* from = winner == 1 ? ctx.targetPath : ctx.sourcePath;
      size_t start = changed == 1 ? ctx.targetRootLength : ctx.sourceRootLength;
      if (isFolder(node)) {
        createFolder(fs, destination, start);
        return applyTree(ctx, sn, tn, node->children);
      }
      if (action == CaseOrAttrDiffers) {
        updateAttributes(fs, destination, node->side[winner].attributes, start);
        if (!isTallied(ctx, node)) tally(ok.modifiedFiles, 1);
        return Rc::Ok;
      }
      ReplaceOutcome r = replaceFile(fs, destination, from, node->side[winner].attributes,
                                     &ok.addedBytes, ctx.cancel, start);
      if (r.cancelled) return Rc::Ok;  // nothing changed; the run stops at its next check
      tally(r.oldReplaced ? ok.deletedBytes : failed.deletedBytes,
            node->counts[changed].bytesExisting);
      if (r.copyResult != Rc::Ok) tally(failed.addedBytes, node->counts[winner].bytesExisting);
      SyncStats& s = r.copyResult == Rc::Ok ? ok : failed;
      tally((flags & (OnlyInSource | OnlyInTarget)) ? s.addedFiles : s.modifiedFiles, 1);
      return Rc::Ok;
    }
  }
  if (flags & HasAction) return applyTree(ctx, sn, tn, node->children);
  addUntouched(ctx, node);
  return Rc::Ok;
}

}  // namespace

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

Rc runPairs(Fs& fs, uint32_t toTargetMask, const SideInput& source, const SideInput& target,
            FileNode* firstRoot, CompressedWriter* writer, uint32_t toSourceMask,
            SyncStats& okStats, SyncStats& failedStats, const CancelFlag* cancel,
            PairMode mode) {
  toTargetMask &= kCategoryBits;
  toSourceMask &= kCategoryBits;
  bool fromDifference = mode == PairMode::Sync && source.hasSavedFile();
  std::vector<const FileNode*> tallied;
  if (fromDifference) {
    Rc rc = applyDifference(fs, target, source.savedFile.c_str(), firstRoot, toTargetMask,
                            toSourceMask, okStats, failedStats, cancel, &tallied);
    if (rc != Rc::Ok) return rc;
    // What is left needs no file data: deleting what only the target has, and attributes.
    constexpr uint32_t kFolderPass = OnlyInTarget | CaseOrAttrDiffers;
    if (!(toTargetMask & kFolderPass)) return Rc::Ok;
    toTargetMask &= kFolderPass;
    toSourceMask = 0;
  }

  std::unique_ptr<char16_t[]> sourcePath(new (std::nothrow) char16_t[kPathBufferUnits]);
  std::unique_ptr<char16_t[]> targetPath(new (std::nothrow) char16_t[kPathBufferUnits]);
  if (!sourcePath || !targetPath) return Rc::OutOfMemory;
  WalkContext ctx;
  ctx.writer = writer;
  ctx.sourcePath = sourcePath.get();
  ctx.targetPath = targetPath.get();
  ctx.okStats = &okStats;
  ctx.failedStats = &failedStats;
  ctx.cancel = cancel;
  ctx.toTargetMask = toTargetMask;
  ctx.toSourceMask = toSourceMask;
  ctx.fs = &fs;
  ctx.tallied = fromDifference ? &tallied : nullptr;

  Rc rc = Rc::Ok;
  if (mode == PairMode::DifferenceData) {
    rc = beginDataSection(ctx);
    if (rc != Rc::Ok) return rc;
  }
  static const std::u16string kNone;
  FileNode* root = firstRoot;
  for (size_t i = 0; i < source.roots.size() && !isCancelled(cancel); ++i) {
    const std::u16string& sourceRoot = source.roots[i];
    const std::u16string& targetRoot = i < target.roots.size() ? target.roots[i] : kNone;
    bool skip = sourceRoot.empty() || (mode == PairMode::Sync && targetRoot.empty());
    if (!skip) {
      if (!root) {  // fewer root nodes than rows: not the tree of these inputs
        rc = Rc::Failed;
        break;
      }
      size_t sl = 0, tl = 0;
      if (!putRoot(ctx.sourcePath, sourceRoot, &sl) || !putRoot(ctx.targetPath, targetRoot, &tl)) {
        rc = Rc::BadRequest;
        break;
      }
      if (mode == PairMode::Sync) {
        if (!source.hasSavedFile()) {
          createFolderChain(fs, ctx.sourcePath, sl);
          createFolderChain(fs, ctx.targetPath, tl);
        }
        ctx.sourceRootLength = sl + 1;  // no link below the roots is written through
        ctx.targetRootLength = tl + 1;
        rc = applyTree(ctx, sl, tl, root->children);
      } else {
        ctx.sourceRootLength = sl + 1;
        rc = writeRootData(ctx, root->children, sl);
      }
      if (rc != Rc::Ok) break;
    }
    if (root) root = root->link[1];
    ++ctx.pairIndex;
  }
  if (mode == PairMode::DifferenceData && rc == Rc::Ok) rc = endDataSection(ctx);
  return rc;
}

Rc syncAll(Fs& fs, const SideInput& source, const SideInput& target, FileNode* firstRoot,
           uint32_t flagsSrc, uint32_t flagsTrg, SyncStats& okStats, SyncStats& failedStats,
           const CancelFlag* cancel) {
  return runPairs(fs, flagsSrc, source, target, firstRoot, nullptr, flagsTrg, okStats,
                  failedStats, cancel, PairMode::Sync);
}

}  // namespace fw
