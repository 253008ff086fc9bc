#include "sync/save_difference.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "core/sibling_tree.h"
#include "formats/state_file.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/apply_difference.h"
#include "sync/file_ops.h"

namespace fw {
namespace {


// Writes rootIndex and the relative path of the entry whose path ends at end in sourcePath.
// The stored path separates names with "\" on every build: on a build whose separator differs
// the relative part is switched to "\" for the write and back after it (no name holds a "\"
// here, writeRootData makes sure of that).
Rc writeEntryHead(WalkContext& ctx, size_t end) {
  char16_t* relative = ctx.sourcePath + ctx.sourceRootLength;
  size_t units = end - ctx.sourceRootLength;
  if constexpr (kPathSeparator != u'\\') {
    for (size_t i = 0; i < units; ++i)
      if (relative[i] == kPathSeparator) relative[i] = u'\\';
  }
  Rc rc = writeDataEntry(*ctx.writer, ctx.pairIndex, relative, units);
  if constexpr (kPathSeparator != u'\\') {
    for (size_t i = 0; i < units; ++i)
      if (relative[i] == u'\\') relative[i] = kPathSeparator;
  }
  return rc;
}

// A failure that an entry of the source caused (it cannot be opened or read, it changed, its
// name cannot be stored), unlike one of the output (CannotWrite) or of memory.
bool causedByEntry(Rc rc) { return rc != Rc::Ok && rc != Rc::CannotWrite && rc != Rc::OutOfMemory; }

bool holdsBackslash(const char16_t* name, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (name[i] == u'\\') return true;
  return false;
}

Rc writeNodeData(WalkContext& ctx, FileNode* node, size_t pathEnd) {
  uint32_t flags = node->flags;
  if ((flags & Excluded) || !(flags & (ctx.toTargetMask | HasAction))) return Rc::Ok;
  size_t length = length16(node->name);
  if (!isPlainName(node->name, length) || holdsBackslash(node->name, length))
    return Rc::BadRequest;  // the stored path could not say where this name ends
  size_t end = pathEnd + 1 + length;
  if (end + 1 > kPathBufferUnits) return Rc::BadRequest;
  ctx.sourcePath[pathEnd] = kPathSeparator;
  for (size_t i = 0; i < length; ++i) ctx.sourcePath[pathEnd + 1 + i] = node->name[i];
  ctx.sourcePath[end] = 0;

  if (isFolder(node)) {
    if (node->children) return writeRootData(ctx, node->children, end);
    if (flags & OnlyInSource) return writeEntryHead(ctx, end);  // an empty new folder
    return Rc::Ok;
  }
  if (!(flags & ctx.toTargetMask & kCarriedCategories)) return Rc::Ok;
  Rc rc = writeEntryHead(ctx, end);
  if (rc != Rc::Ok) return rc;
  uint64_t copied = 0;
  rc = copyFileData(ctx.writer, *ctx.fs, ctx.sourcePath, &ctx.okStats->addedBytes, &copied,
                    ctx.cancel);
  if (rc != Rc::Ok) return rc;
  if (isCancelled(ctx.cancel)) return Rc::Ok;
  tally(ctx.okStats->addedFiles, 1);
  // The entry must hold exactly the size the tree section gives the file.
  if (copied != node->side[0].size) return Rc::Failed;
  return Rc::Ok;
}

}  // namespace

Rc copyFileData(CompressedWriter* writer, Fs& fs, const char16_t* path,
                std::atomic<uint64_t>* counter, uint64_t* local, const CancelFlag* cancel) {
  *local = 0;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kCopyBlockSize]);
  if (!buffer) return Rc::OutOfMemory;
  FileHandle file;
  if (fs.openRead(path, &file) != FsStatus::Ok) return Rc::CannotOpen;
  Rc rc = Rc::Ok;
  while (!isCancelled(cancel)) {
    uint32_t got = 0;
    if (fs.read(file, buffer.get(), kCopyBlockSize, &got) != FsStatus::Ok) {
      rc = Rc::Failed;  // a file that cannot be read to its end must not travel shortened
      break;
    }
    if (got == 0) break;
    if (counter) counter->fetch_add(got, std::memory_order_relaxed);
    *local += got;
    rc = writer->writeBytes(buffer.get(), got);
    if (rc != Rc::Ok) break;
  }
  fs.close(file);
  return rc;
}

Rc writeRootData(WalkContext& ctx, FileNode* tree, size_t pathEnd) {
  // In order (link[0], node, link[1]), stopping at the cancel flag.
  bool cancelled = false;
  Rc rc = walkInOrder(tree, [&](FileNode* n) {
    if (isCancelled(ctx.cancel)) {
      cancelled = true;
      return Rc::Failed;  // ends the walk; reported as Ok below
    }
    Rc result = writeNodeData(ctx, n, pathEnd);
    // The buffer still holds the failing entry's path: nothing cut it back.
    if (causedByEntry(result) && ctx.failedEntry && ctx.failedEntry->empty()) {
      try {
        *ctx.failedEntry = fromLongPath(ctx.sourcePath);
      } catch (const std::bad_alloc&) {
      }
    }
    return result;
  });
  return cancelled ? Rc::Ok : rc;
}

Rc beginDataSection(WalkContext& ctx) {
  // The data section is compressed on every core, in blocks whose bytes do not depend on how
  // many there are.
  return ctx.writer ? ctx.writer->beginBlockStream(0) : Rc::BadRequest;
}

Rc endDataSection(WalkContext& ctx) {
  return ctx.writer ? ctx.writer->finishStream() : Rc::BadRequest;
}

Rc writeDataSection(Fs& fs, CompressedWriter& writer, const SideInput& source,
                    const SideInput& target, FileNode* firstRoot, uint32_t flagsSrc,
                    SyncStats& okStats, SyncStats& failedStats, const CancelFlag* cancel,
                    std::u16string* failedEntry) {
  WalkBuffers buffers;
  WalkContext ctx;
  Rc rc = startWalk(fs, okStats, failedStats, cancel, &buffers, &ctx);
  if (rc != Rc::Ok) return rc;
  ctx.writer = &writer;
  ctx.toTargetMask = flagsSrc & kCategoryBits;
  ctx.failedEntry = failedEntry;
  rc = beginDataSection(ctx);
  if (rc != Rc::Ok) return rc;
  rc = forEachPair(ctx, source, target, firstRoot, false,
                   [&](FileNode* root, size_t sl, size_t) {
                     return writeRootData(ctx, root->children, sl);
                   });
  // A cancelled save is thrown away: its last blocks are not worth compressing.
  if (rc != Rc::Ok || isCancelled(cancel)) return rc;
  return endDataSection(ctx);
}

Rc saveDifference(Fs& fs, const SideInput& source, const SideInput& target, FileNode* firstRoot,
                  const char16_t* fileName, int32_t splitLimit, uint32_t flagsSrc,
                  SyncStats& okStats, SyncStats& failedStats, const CancelFlag* cancel,
                  std::u16string* failedEntry) {
  if (failedEntry) failedEntry->clear();
  if (!fileName || !fileName[0]) return Rc::BadRequest;
  std::unique_ptr<CompressedWriter> writer;
  Rc rc = CompressedWriter::create(fs, FileKind::DifferenceFile, fileName, 0, splitLimit, &writer);
  if (rc != Rc::Ok) return rc;
  rc = writeTreeSection(*writer, firstRoot, failedEntry);
  if (rc == Rc::Ok)
    rc = writeDataSection(fs, *writer, source, target, firstRoot, flagsSrc, okStats, failedStats,
                          cancel, failedEntry);
  if (rc == Rc::Ok) rc = writer->closeVolume(true);
  // Only a complete, uncancelled set takes the chosen name; otherwise destroying the writer
  // removes every volume it wrote and the files of that name stay as they were.
  if (rc == Rc::Ok && !isCancelled(cancel)) rc = writer->commit();
  return rc;
}

}  // namespace fw
