#include "sync/save_difference.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "core/sibling_tree.h"
#include "formats/state_file.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/as_compared.h"
#include "sync/file_ops.h"
#include "sync/root_locks.h"

namespace fw {
namespace {


// Writes rootIndex and the relative path of the entry whose path ends at end in sourcePath.
// The stored path separates names with "\" on every build: on a build whose separator differs
// the relative part is switched to "\" for the write and back after it (no name holds a "\"
// here, writeRootData makes sure of that).
Rc writeEntryHead(DataWalk& data, size_t end) {
  WalkContext& ctx = data.walk;
  char16_t* relative = ctx.sourcePath + ctx.sourceRootLength;
  size_t units = end - ctx.sourceRootLength;
  if constexpr (kPathSeparator != u'\\') {
    for (size_t i = 0; i < units; ++i)
      if (relative[i] == kPathSeparator) relative[i] = u'\\';
  }
  Rc rc = writeDataEntry(*data.writer, ctx.pairIndex, relative, units);
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

Rc writeNodeData(DataWalk& data, FileNode* node, size_t pathEnd) {
  WalkContext& ctx = data.walk;
  uint32_t flags = node->flags;
  if ((flags & Excluded) || !(flags & ((ctx.masks.sourceWins & kCategoryBits) | HasAction)))
    return Rc::Ok;
  size_t length = length16(node->name);
  if (!isPlainName(node->name, length) || holdsBackslash(node->name, length))
    return Rc::BadRequest;  // the stored path could not say where this name ends
  size_t end = pathEnd + 1 + length;
  if (end + 1 > kPathBufferUnits) return Rc::BadRequest;
  ctx.sourcePath[pathEnd] = kPathSeparator;
  for (size_t i = 0; i < length; ++i) ctx.sourcePath[pathEnd + 1 + i] = node->name[i];
  ctx.sourcePath[end] = 0;

  if (isFolder(node)) {
    if (node->children) return writeRootData(data, node->children, end);
    if (flags & OnlyInSource) return writeEntryHead(data, end);  // an empty new folder
    return Rc::Ok;
  }
  if (!actionOf(node, ctx.masks).carriedData) return Rc::Ok;
  Rc rc = writeEntryHead(data, end);
  if (rc != Rc::Ok) return rc;
  uint64_t copied = 0;
  ctx.okStats->current.set(ctx.sourcePath);
  rc = copyFileData(data.writer, *ctx.fs, ctx.sourcePath, &ctx.okStats->addedBytes, &copied,
                    ctx.cancel, node);
  if (rc != Rc::Ok) return rc;
  if (isCancelled(ctx.cancel)) return Rc::Ok;
  tally(ctx.okStats->addedFiles, 1);
  // The entry must hold exactly the size the tree section gives the file.
  if (copied != node->side[0].size) return Rc::Failed;
  return Rc::Ok;
}

}  // namespace

Rc copyFileData(CompressedWriter* writer, Fs& fs, const char16_t* path,
                std::atomic<uint64_t>* counter, uint64_t* local, const CancelFlag* cancel,
                const FileNode* recorded) {
  *local = 0;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kCopyBlockSize]);
  if (!buffer) return Rc::OutOfMemory;
  FileHandle file;
  if (fs.openRead(path, &file) != FsStatus::Ok) return Rc::CannotOpen;
  FileStamp before;
  FsStatus stamped = fs.getFileStamp(file, &before);
  if ((stamped != FsStatus::Ok && stamped != FsStatus::Unsupported) ||
      (stamped == FsStatus::Ok && recorded &&
       (!isRecordedVersion(before, recorded->side[0]) ||
        !openedAsCompared(fs, path, before, (recorded->flags & SourceLink) != 0)))) {
    fs.close(file);
    return Rc::Failed;  // not the version the tree section describes
  }
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
  FileStamp after;
  if (rc == Rc::Ok && !isCancelled(cancel) && stamped == FsStatus::Ok &&
      (fs.getFileStamp(file, &after) != FsStatus::Ok || !(after == before) ||
       *local != before.size))
    rc = Rc::Failed;  // written while it was read: what was stored may be a mix
  fs.close(file);
  return rc;
}

Rc writeRootData(DataWalk& data, FileNode* tree, size_t pathEnd) {
  WalkContext& ctx = data.walk;
  // In order (link[0], node, link[1]), stopping at the cancel flag.
  bool cancelled = false;
  Rc rc = walkInOrder(tree, [&](FileNode* n) {
    if (isCancelled(ctx.cancel)) {
      cancelled = true;
      return Rc::Failed;  // ends the walk; reported as Ok below
    }
    Rc result = writeNodeData(data, n, pathEnd);
    // The buffer still holds the failing entry's path: nothing cut it back.
    if (causedByEntry(result) && data.failedEntry && data.failedEntry->empty()) {
      try {
        *data.failedEntry = fromLongPath(ctx.sourcePath);
      } catch (const std::bad_alloc&) {
      }
    }
    return result;
  });
  return cancelled ? Rc::Ok : rc;
}

Rc beginDataSection(DataWalk& data) {
  // The data section is compressed on every core, in blocks whose bytes do not depend on how
  // many there are.
  return data.writer ? data.writer->beginBlockStream(0) : Rc::BadRequest;
}

Rc endDataSection(DataWalk& data) {
  return data.writer ? data.writer->finishStream() : Rc::BadRequest;
}

Rc writeDataSection(const SyncRequest& request, SyncTallies tallies, CompressedWriter& writer,
                    std::u16string* failedEntry) {
  RunRoots roots(*request.fs);
  if (Rc rc = addJobRoots(request, roots); rc != Rc::Ok) return rc;
  markForJob(request);  // the folders with something to carry are entered
  DataWalk data;
  WalkBuffers buffers;
  Rc rc = startWalk(request, tallies, &buffers, &data.walk);
  if (rc != Rc::Ok) return rc;
  // What a difference carries does not depend on what the target wins: the apply weighs that.
  data.walk.masks = makeMarkMasks(request.masks.sourceWins, 0, 0);
  data.writer = &writer;
  data.failedEntry = failedEntry;
  rc = beginDataSection(data);
  if (rc != Rc::Ok) return rc;
  rc = forEachPair(data.walk, request, false, [&](FileNode* root, size_t sl, size_t) {
    return writeRootData(data, root->children, sl);
  });
  // A cancelled save is thrown away: its last blocks are not worth compressing.
  if (rc != Rc::Ok || isCancelled(request.cancel)) return rc;
  return endDataSection(data);
}

Rc saveDifference(const SyncRequest& request, SyncTallies tallies, const char16_t* fileName,
                  int32_t splitLimit, std::u16string* failedEntry) {
  if (failedEntry) failedEntry->clear();
  if (!fileName || !fileName[0] || !request.fs || !request.source || !request.target)
    return Rc::BadRequest;
  RootLocks locks;
  if (Rc rc = lockForJob(request, fileName, &locks); rc != Rc::Ok) return rc;
  // Added before the writer: its destructor may still remove volumes written below a root.
  RunRoots roots(*request.fs);
  if (Rc rc = addJobRoots(request, roots); rc != Rc::Ok) return rc;
  std::unique_ptr<CompressedWriter> writer;
  Rc rc = CompressedWriter::create(*request.fs, FileKind::DifferenceFile, fileName, 0,
                                   splitLimit, &writer);
  if (rc != Rc::Ok) return rc;
  rc = writeTreeSection(*writer, request.firstRoot, failedEntry);
  if (rc == Rc::Ok) rc = writeDataSection(request, tallies, *writer, failedEntry);
  if (rc == Rc::Ok) rc = writer->closeVolume(true);
  // Only a complete, uncancelled set takes the chosen name; otherwise destroying the writer
  // removes every volume it wrote and the files of that name stay as they were.
  if (rc == Rc::Ok && !isCancelled(request.cancel)) rc = writer->commit();
  return rc;
}

}  // namespace fw
