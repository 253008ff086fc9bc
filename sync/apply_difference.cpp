#include "sync/apply_difference.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include "formats/compressed_reader.h"
#include "formats/difference_check.h"
#include "formats/state_file.h"
#include "sync/file_ops.h"
#include "sync/sync_walk.h"

namespace fw {
namespace {

struct Run {
  Fs& fs;
  const SideInput& target;
  CompressedReader& reader;
  SyncStats& ok;
  SyncStats& failed;
  const CancelFlag* cancel;
  uint32_t toTarget;
  uint32_t toSource;
  char16_t* path;       // target root, separator, relative path
  char16_t* temporary;  // the temporary file of the entry being written
  size_t rootEnd = 0;   // where relative paths begin in path
  bool rootEmpty = true;
  const DiscardPolicy* discard = nullptr;  // what becomes of a replaced target file
};

// Puts target root i into the path buffer, creating it with its ancestors when it is set.
Rc enterRoot(Run& run, size_t i) {
  static const std::u16string kNone;
  const std::u16string& root = i < run.target.roots.size() ? run.target.roots[i] : kNone;
  size_t length = 0;
  if (!putRoot(run.path, root, &length) || length + 2 > kPathBufferUnits) return Rc::Failed;
  run.rootEmpty = root.empty();
  if (!run.rootEmpty) createFolderChain(run.fs, run.path, length);
  run.path[length] = kPathSeparator;
  run.path[length + 1] = 0;
  run.rootEnd = length + 1;
  return Rc::Ok;
}

// Puts the stored relative path (names separated by "\") after the root in the path buffer,
// with this build's separator. Failed when it does not fit.
Rc putRelativePath(Run& run, const char16_t* stored, size_t units) {
  if (run.rootEnd + units + 1 > kPathBufferUnits) return Rc::Failed;
  char16_t* relative = run.path + run.rootEnd;
  for (size_t i = 0; i < units; ++i) relative[i] = stored[i] == u'\\' ? kPathSeparator : stored[i];
  relative[units] = 0;
  return Rc::Ok;
}

// Reads and drops n bytes of contents.
Rc skipContents(Run& run, uint64_t n) {
  while (n > 0) {
    const uint8_t* data;
    size_t got;
    Rc rc = run.reader.takeBytes(n, &data, &got);
    if (rc != Rc::Ok) return rc;
    n -= got;
  }
  return Rc::Ok;
}

// Whether the entry of node is carried out on the target.
bool applies(const Run& run, const FileNode* node) {
  uint32_t f = node->flags;
  if ((f & Excluded) || run.rootEmpty) return false;
  return takesCarriedData(f, run.toTarget, run.toSource);
}

// Writes one file entry of size bytes to a temporary file and puts it in place of the target
// file once every byte has arrived and its times are set. A failure to create, stamp or
// install the file is tallied and the run goes on; a failed write (a full disk), the data
// ending early and the cancel flag end the run. In every case where the new file is not in
// place, its temporary file is removed and the old target file is as it was.
Rc writeFileEntry(Run& run, const FileNode* node, uint64_t size) {
  Fs& fs = run.fs;
  const SideInfo& src = node->side[0];
  uint64_t old = node->counts[1].bytesExisting;
  bool added = (node->flags & (OnlyInSource | OnlyInTarget)) != 0;
  // A difference carries no permission bits: a replaced file keeps those of the file it
  // replaces, a new one gets what a new file gets; one whose predecessor cannot be examined
  // stays the owner's alone. Until it is in place, it is the owner's alone in every case.
  uint32_t permissions = kOwnerOnly;
  FsStatus had = fs.getPermissions(run.path, &permissions);
  if (had == FsStatus::NotFound) permissions = kDefaultPermissions;
  else if (had != FsStatus::Ok) permissions = kOwnerOnly;
  FileHandle file = kInvalidHandle;
  bool created = !pathRunsThroughLink(fs, run.path, run.rootEnd) &&
                 makeTemporaryPath(fs, run.path, run.temporary, kPathBufferUnits) &&
                 fs.createWithPermissions(run.temporary, fromAttrByte(src.attributes), kOwnerOnly,
                                          &file) == FsStatus::Ok;
  SyncStats& live = created ? run.ok : run.failed;

  Rc rc = Rc::Ok;        // ends the run
  bool entryOk = created;  // the new file is in place
  uint64_t left = size;
  while (left > 0) {
    if (isCancelled(run.cancel)) break;
    const uint8_t* data;
    size_t n;
    rc = run.reader.takeBytes(left, &data, &n);  // Failed when the stream ends before the entry
    if (rc != Rc::Ok) break;
    if (created && fs.write(file, data, static_cast<uint32_t>(n)) != FsStatus::Ok) {
      rc = Rc::CannotWrite;
      break;
    }
    tally(live.addedBytes, n);
    left -= n;
  }
  bool complete = rc == Rc::Ok && left == 0;
  if (!complete) entryOk = false;
  if (entryOk && had != FsStatus::Unsupported) fs.setFilePermissions(file, permissions);
  if (entryOk && fs.setFileTimes(file, src.modified, src.modified, src.modified) != FsStatus::Ok)
    entryOk = false;
  if (created) fs.close(file);
  bool replaced = false;
  if (entryOk && installTemporary(fs, run.temporary, run.path, &replaced, !added, run.discard,
                                  run.rootEnd) != Rc::Ok)
    entryOk = false;
  if (created && !entryOk) discardTemporary(fs, run.temporary);

  if (!complete && rc == Rc::Ok) return Rc::Ok;  // cancelled: nothing changed, nothing tallied
  if (entryOk) {
    tally(replaced ? run.ok.deletedBytes : run.failed.deletedBytes, old);
    tally(added ? run.ok.addedFiles : run.ok.modifiedFiles, 1);
  } else {
    if (created) tally(run.failed.addedBytes, size);
    tally(run.failed.deletedBytes, old);
    tally(added ? run.failed.addedFiles : run.failed.modifiedFiles, 1);
  }
  return rc;
}

Rc readEntries(Run& run, FileNode* firstRoot, std::vector<const FileNode*>* tallied) {
  CompressedReader& r = run.reader;
  std::unordered_set<const FileNode*> carried;  // a second entry for one node is not ours
  uint32_t pair = 0;
  FileNode* root = firstRoot;
  Rc rc = enterRoot(run, 0);
  if (rc != Rc::Ok) return rc;
  for (;;) {
    if (isCancelled(run.cancel)) return Rc::Ok;
    // The entry's head goes into the temporary path's buffer first: which root it is read
    // after depends on its rootIndex. readDataEntry refuses names that could lead out of the
    // root ("..", separators).
    uint32_t rootIndex = 0;
    size_t units = 0;
    bool end = false;
    rc = readDataEntry(r, &rootIndex, run.temporary, kPathBufferUnits, &units, &end);
    if (rc != Rc::Ok) return rc;
    if (end) return r.requireStreamEnd(false);
    // Entries come root by root in ascending order; one that goes back is not of this file.
    if (rootIndex < pair) return Rc::Failed;
    if (rootIndex > pair) {
      while (pair < rootIndex) {
        if (!root) return Rc::Failed;
        root = root->link[1];
        ++pair;
      }
      rc = enterRoot(run, pair);
      if (rc != Rc::Ok) return rc;
    }
    if (!root) return Rc::Failed;
    rc = putRelativePath(run, run.temporary, units);
    if (rc != Rc::Ok) return rc;

    // Creates the entry's new intermediate folders, except where the pair has no target.
    FileNode* node =
        resolveRecordPath(run.fs, run.path, run.rootEnd, root->children, !run.rootEmpty);
    // Not in the tree, or a name only the target has: the file does not belong to this
    // comparison.
    if (!node || (node->flags & OnlyInTarget)) return Rc::Failed;
    try {
      if (!carried.insert(node).second) return Rc::Failed;
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
    bool folder = isFolder(node);
    uint64_t size = folder ? 0 : node->side[0].size;
    if (!folder && tallied) {
      try {
        tallied->push_back(node);
      } catch (const std::bad_alloc&) {
        return Rc::OutOfMemory;
      }
    }

    if (!applies(run, node)) {
      rc = skipContents(run, size);
      if (rc != Rc::Ok) return rc;
      if (!folder && !(node->flags & Ignored)) {  // an ignored one is the folder pass's to name
        tally(run.ok.untouchedFiles, 1);
        tally(run.ok.untouchedBytes, size);
      }
    } else if (folder) {
      createFolder(run.fs, run.path, run.rootEnd);
    } else {
      rc = writeFileEntry(run, node, size);
      if (rc != Rc::Ok) return rc;
    }
  }
}

}  // namespace

Rc applyDifference(Fs& fs, const SideInput& target, const char16_t* path, FileNode* firstRoot,
                   uint32_t toTargetMask, uint32_t toSourceMask, SyncStats& okStats,
                   SyncStats& failedStats, const CancelFlag* cancel,
                   std::vector<const FileNode*>* tallied, const DiscardPolicy* discard) {
  // Attributes and letter case are the folder pass's; here they come with the written files.
  toTargetMask &= ~static_cast<uint32_t>(CaseOrAttrDiffers);
  toSourceMask &= ~static_cast<uint32_t>(CaseOrAttrDiffers);
  std::unique_ptr<char16_t[]> pathBuffer(new (std::nothrow) char16_t[kPathBufferUnits]);
  std::unique_ptr<char16_t[]> temporary(new (std::nothrow) char16_t[kPathBufferUnits]);
  if (!pathBuffer || !temporary) return Rc::OutOfMemory;
  // The whole data stream must prove intact before the first file is written from it.
  Rc rc = checkDataStream(fs, path, cancel);
  if (rc != Rc::Ok || isCancelled(cancel)) return rc;
  std::unique_ptr<CompressedReader> reader;
  rc = CompressedReader::create(fs, &reader);
  if (rc != Rc::Ok) return rc;
  rc = reader->openReader(FileKind::DifferenceFile, path);
  if (rc == Rc::Ok) rc = reader->findDataSection();
  if (rc == Rc::Ok) {
    Run run{fs,          target,     *reader,          okStats,        failedStats,
            cancel,      toTargetMask, toSourceMask,   pathBuffer.get(), temporary.get()};
    run.discard = discard;
    rc = readEntries(run, firstRoot, tallied);
  }
  reader->endInflate();
  if (tallied) std::sort(tallied->begin(), tallied->end());
  return rc;
}

}  // namespace fw
