#include "sync/apply_difference.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include "core/sibling_tree.h"
#include "formats/compressed_reader.h"
#include "formats/difference_check.h"
#include "formats/state_file.h"
#include "platform/text.h"
#include "sync/failure_text.h"
#include "sync/file_ops.h"
#include "sync/sync_walk.h"

namespace fw {
namespace {

// A file of a one-pass apply, complete in its temporary file and waiting for the whole set.
struct Staged {
  std::u16string destination;
  std::u16string temporaryName;  // in the destination's folder
  uint64_t size = 0;
  uint64_t old = 0;  // bytes of the target file it replaces
  bool added = false;
  size_t rootEnd = 0;  // where its path below the root begins
};

// An empty folder a one-pass apply creates once the set has proved whole.
struct PendingFolder {
  std::u16string path;
  size_t rootEnd = 0;
};

struct Run {
  Fs& fs;
  const SideInput& target;
  CompressedReader& reader;
  SyncStats& ok;
  SyncStats& failed;
  const CancelFlag* cancel;
  MarkMasks masks;
  char16_t* path;       // target root, separator, relative path
  char16_t* temporary;  // the temporary file of the entry being written
  size_t rootEnd = 0;   // where relative paths begin in path
  bool rootEmpty = true;
  // A one-pass apply: what it has written so far, what it will create, what it created.
  bool staging = false;
  std::vector<Staged> staged;
  std::vector<PendingFolder> emptyFolders;
  std::vector<std::u16string> createdFolders;
  uint64_t liveBytes = 0;  // added to ok.addedBytes while staging
  std::vector<std::u16string>* created() { return staging ? &createdFolders : nullptr; }
  const DiscardPolicy* discard = nullptr;  // what becomes of a replaced target file
  FsFailure failure{};  // the failed write that ended the run, for its reason
};

// Puts target root i into the path buffer, creating it with its ancestors when it is set.
Rc enterRoot(Run& run, size_t i) {
  static const std::u16string kNone;
  const std::u16string& root = i < run.target.roots.size() ? run.target.roots[i] : kNone;
  size_t length = 0;
  if (!putRoot(run.path, root, &length) || length + 2 > kPathBufferUnits) return Rc::Failed;
  run.rootEmpty = root.empty();
  if (!run.rootEmpty) createFolderChain(run.fs, run.path, length, run.created());
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
  if (run.rootEmpty) return false;
  EntryAction a = actionOf(node, run.masks);
  return a.carriedData && a.what != EntryChange::None;
}

// How a finished file of the run takes its place.
CopyOptions installOptions(const Run& run, bool mayReplace, size_t rootEnd) {
  CopyOptions options;
  options.start = rootEnd;
  options.mayReplace = mayReplace;
  options.discard = run.discard;
  return options;
}

// Tallies one file entry once its fate is known: in place (entryOk), or not.
void tallyOutcome(Run& run, bool entryOk, bool replaced, bool created, uint64_t size, uint64_t old,
                  bool added) {
  if (entryOk) {
    tally(replaced ? run.ok.deletedBytes : run.failed.deletedBytes, old);
    tally(added ? run.ok.addedFiles : run.ok.modifiedFiles, 1);
  } else {
    if (created) tally(run.failed.addedBytes, size);
    tally(run.failed.deletedBytes, old);
    tally(added ? run.failed.addedFiles : run.failed.modifiedFiles, 1);
  }
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
                 createTemporary(fs, run.path, fromAttrByte(src.attributes),
                                 {run.temporary, kPathBufferUnits}, &file);
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
    if (created &&
        kept(fs, fs.write(file, data, static_cast<uint32_t>(n)), &run.failure) != FsStatus::Ok) {
      rc = Rc::CannotWrite;
      break;
    }
    tally(live.addedBytes, n);
    if (created && run.staging) run.liveBytes += n;
    left -= n;
  }
  bool complete = rc == Rc::Ok && left == 0;
  if (!complete) entryOk = false;
  if (entryOk && had != FsStatus::Unsupported) fs.setFilePermissions(file, permissions);
  if (entryOk && fs.setFileTimes(file, src.modified, src.modified, src.modified) != FsStatus::Ok)
    entryOk = false;
  if (created) fs.close(file);
  if (!complete && rc == Rc::Ok) {  // cancelled: nothing changed, nothing tallied
    if (created) discardTemporary(fs, run.temporary);
    return Rc::Ok;
  }
  if (run.staging && entryOk) {
    // Complete in its temporary file; it takes its place with the rest of the set.
    try {
      const char16_t* name = run.temporary + length16(run.temporary);
      while (name > run.temporary && name[-1] != kPathSeparator) --name;
      run.staged.push_back({run.path, name, size, old, added, run.rootEnd});
    } catch (const std::bad_alloc&) {
      discardTemporary(fs, run.temporary);
      return Rc::OutOfMemory;
    }
    return Rc::Ok;
  }
  bool replaced = false;
  if (entryOk && installTemporary(fs, run.temporary, run.path, &replaced,
                                  installOptions(run, !added, run.rootEnd)) != Rc::Ok)
    entryOk = false;
  if (created && !entryOk) discardTemporary(fs, run.temporary);
  tallyOutcome(run, entryOk, replaced, created, size, old, added);
  return rc;
}

// The temporary file of a staged one, in run.temporary: its destination's folder and its name.
const char16_t* temporaryOf(Run& run, const Staged& s) {
  size_t folder = s.destination.rfind(kPathSeparator) + 1;  // there is one: below a root
  s.destination.copy(run.temporary, folder);
  s.temporaryName.copy(run.temporary + folder, s.temporaryName.size());
  run.temporary[folder + s.temporaryName.size()] = 0;
  return run.temporary;
}

// Puts every staged file in place and creates the pending empty folders. A file that cannot
// be renamed into place is tallied as failed and its temporary file removed; the others go on.
void installStaged(Run& run) {
  for (const Staged& s : run.staged) {
    bool replaced = false;
    const char16_t* temporary = temporaryOf(run, s);
    bool ok = installTemporary(run.fs, temporary, s.destination.c_str(), &replaced,
                               installOptions(run, !s.added, s.rootEnd)) == Rc::Ok;
    if (!ok) discardTemporary(run.fs, temporary);
    tallyOutcome(run, ok, replaced, true, s.size, s.old, s.added);
  }
  run.staged.clear();
  for (const PendingFolder& f : run.emptyFolders) createFolder(run.fs, f.path.c_str(), f.rootEnd);
  run.emptyFolders.clear();
}

// Undoes a one-pass apply that did not get to the end: every temporary file goes, and every
// folder it created, innermost first (they hold nothing else: nothing was put in place).
void rollBack(Run& run) {
  for (const Staged& s : run.staged) discardTemporary(run.fs, temporaryOf(run, s));
  run.staged.clear();
  for (auto it = run.createdFolders.rbegin(); it != run.createdFolders.rend(); ++it)
    run.fs.removeDirectory(it->c_str());
  run.createdFolders.clear();
  run.emptyFolders.clear();
  run.ok.addedBytes.fetch_sub(run.liveBytes, std::memory_order_relaxed);
  run.liveBytes = 0;
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
    FileNode* node = resolveRecordPath(run.fs, run.path, run.rootEnd, root->children,
                                       !run.rootEmpty, run.created());
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
    } else if (folder && run.staging) {
      try {
        run.emptyFolders.push_back({run.path, run.rootEnd});
      } catch (const std::bad_alloc&) {
        return Rc::OutOfMemory;
      }
    } else if (folder) {
      createFolder(run.fs, run.path, run.rootEnd);
    } else {
      rc = writeFileEntry(run, node, size);
      if (rc != Rc::Ok) return rc;
    }
  }
}

// The bytes of the files below tree that the apply writes.
uint64_t bytesToWrite(const Run& run, FileNode* tree) {
  uint64_t sum = 0;
  walkInOrder(tree, [&](FileNode* n) {
    if (isFolder(n)) {
      if (n->children) sum += bytesToWrite(run, n->children);
    } else if (!(n->flags & OnlyInTarget) && (n->flags & kCarriedCategories) && applies(run, n)) {
      sum += n->side[0].size;
    }
    return Rc::Ok;
  });
  return sum;
}

std::string sizeText(uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
  return text;
}

// Whether the files of a one-pass apply fit, all at once, beside the files they replace: per
// drive (the volume of each target root's deepest existing folder), the bytes of every file
// written there against what the drive has free. CannotWrite, with the drive's root named in
// *failures, when they do not; drives that cannot say how much is free are not checked.
Rc checkRoom(Run& run, FileNode* firstRoot, FailureLog* failures) {
  struct Drive {
    FileIdentity volume;
    uint64_t needed = 0;
    uint64_t free = 0;
    std::u16string root;
  };
  std::vector<Drive> drives;
  FileNode* root = firstRoot;
  for (size_t i = 0; i < run.target.roots.size() && root; ++i, root = root->link[1]) {
    const std::u16string& name = run.target.roots[i];
    if (name.empty()) continue;
    run.rootEmpty = false;
    uint64_t needed = bytesToWrite(run, root->children);
    if (needed == 0) continue;
    size_t length = 0;
    if (!putRoot(run.path, name, &length)) continue;
    // The deepest folder of the root's path that exists.
    uint32_t attributes = 0;
    while (run.fs.getAttributes(run.path, &attributes) != FsStatus::Ok) {
      while (length > 0 && run.path[length] != kPathSeparator) --length;
      if (length == 0) break;
      run.path[length] = 0;
    }
    uint64_t free = 0;
    FileIdentity volume;
    if (length == 0 || run.fs.freeSpace(run.path, &free) != FsStatus::Ok ||
        run.fs.identify(run.path, &volume) != FsStatus::Ok)
      continue;
    try {
      auto it = std::find_if(drives.begin(), drives.end(),
                             [&](const Drive& d) { return d.volume == volume; });
      if (it == drives.end()) {
        drives.push_back({volume, 0, free, name});
        it = drives.end() - 1;
      }
      it->needed += needed;
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
  }
  run.rootEmpty = true;
  for (const Drive& d : drives) {
    if (d.needed <= d.free) continue;
    if (failures) {
      try {
        failures->push_back({d.root,
                             "not enough free space for the files of the difference: " +
                                 sizeText(d.needed) + " needed, " + sizeText(d.free) +
                                 " free; nothing was changed",
                             FsStatus::DiskFull, 0});
      } catch (const std::bad_alloc&) {
      }
    }
    return Rc::CannotWrite;
  }
  return Rc::Ok;
}

// Every volume of the set, opened in turn up to the one flagged last: a missing volume, or one
// that is not of this set, refuses the apply before anything is written. Only the headers are
// read; damage inside a volume shows while the data are read.
Rc checkVolumes(CompressedReader& reader, const char16_t* path) {
  Rc rc = reader.openReader(FileKind::DifferenceFile, path);
  while (rc == Rc::Ok && !reader.lastVolume()) {
    ++reader.volumeNumber;
    rc = reader.openReaderVolume();
  }
  reader.endInflate();
  return rc;
}

// Says why a one-pass apply changed nothing (a refusal of room has said so itself); failed:
// the write that ended it, when one did.
void noteRefusal(FailureLog* failures, const char16_t* path, Rc rc,
                 const FsFailure& failed = {}) {
  if (rc == Rc::Ok || !failures) return;
  if (!failures->empty() && failures->back().reason.find("free space") != std::string::npos)
    return;
  const char* what = rc == Rc::CannotOpen    ? "a volume of the difference is missing"
                     : rc == Rc::CannotWrite ? "a file could not be written"
                     : rc == Rc::OutOfMemory ? "out of memory"
                                             : "the difference is damaged or incomplete";
  FsFailure why = rc == Rc::CannotWrite ? failed : FsFailure{};
  std::string reason = why.failed() ? failureText(what, rc, why) : std::string(what);
  try {
    failures->push_back({path, reason + "; nothing was changed", why.status, why.osError});
  } catch (const std::bad_alloc&) {
  }
}

// The walk after the data pass: what is left needs no file data (deleting what only the
// target has, attributes and letter case), and the files that needed data the difference did
// not carry are named. Nothing changes on the source, a saved file.
class FolderPass : public WalkHook {
 public:
  explicit FolderPass(const std::vector<const FileNode*>& tallied) : tallied_(tallied) {}

  bool takeOver(WalkContext& ctx, FileNode* node, EntryAction* a) override {
    uint32_t flags = node->flags;
    if (!isFolder(node) && ((flags & Ignored) || !tallied(node)) && a->carriedData) {
      // A file the difference should have carried, but did not (a difference made for
      // another target), or one the receiving side leaves out.
      SyncStats& failed = *ctx.failedStats;
      tally((flags & OnlyInSource) ? failed.addedFiles : failed.modifiedFiles, 1);
      noteFailure(ctx, ctx.targetPath,
                  (flags & Ignored) ? "not written: this side's ignore list leaves it out"
                                    : "not written: the difference does not carry its data");
      return true;
    }
    bool content = a->what == EntryChange::Add || a->what == EntryChange::Replace;
    if (a->changes != 1 || (isFolder(node) && a->what != EntryChange::Delete)) {
      *a = EntryAction{};  // a folder is entered as it holds something to do
    } else if (content && (flags & ctx.masks.sourceWins & CaseOrAttrDiffers)) {
      a->what = EntryChange::Attributes;  // the data pass wrote the content
    } else if (content) {
      *a = EntryAction{};
    }
    return false;
  }

  bool tallied(const FileNode* node) const override {
    return std::binary_search(tallied_.begin(), tallied_.end(), node);
  }
  bool talliedAny() const override { return !tallied_.empty(); }

 private:
  const std::vector<const FileNode*>& tallied_;
};

}  // namespace

Rc applyDifference(const SyncRequest& request, SyncTallies tallies, ApplyMode mode,
                   std::vector<const FileNode*>* tallied) {
  if (!request.fs || !request.source || !request.target || !request.source->hasSavedFile())
    return Rc::BadRequest;
  Fs& fs = *request.fs;
  const char16_t* path = request.source->savedFile.c_str();
  const CancelFlag* cancel = request.cancel;
  FailureLog* failures = request.failures;
  RunRoots roots(fs);
  if (Rc rc = addJobRoots(request, roots); rc != Rc::Ok) return rc;
  markForJob(request);
  std::unique_ptr<char16_t[]> pathBuffer(new (std::nothrow) char16_t[kPathBufferUnits]);
  std::unique_ptr<char16_t[]> temporary(new (std::nothrow) char16_t[kPathBufferUnits]);
  if (!pathBuffer || !temporary) return Rc::OutOfMemory;
  bool staging = mode == ApplyMode::OnePass;
  Rc rc = Rc::Ok;
  if (!staging) {
    // The whole data stream must prove intact before the first file is written from it.
    rc = checkDataStream(fs, path, cancel);
    if (rc != Rc::Ok || isCancelled(cancel)) return rc;
  }
  std::unique_ptr<CompressedReader> reader;
  rc = CompressedReader::create(fs, &reader);
  if (rc != Rc::Ok) return rc;
  Run run{fs,     *request.target, *reader,         tallies.ok,      tallies.failed,
          cancel, request.masks,   pathBuffer.get(), temporary.get(), 0,
          true,   staging,         {},               {},              {},
          0};
  run.discard = request.discard;
  if (staging) {
    rc = checkRoom(run, request.firstRoot, failures);
    if (rc == Rc::Ok) rc = checkVolumes(*reader, path);
    if (rc != Rc::Ok) {
      noteRefusal(failures, path, rc);
      return rc;
    }
  }
  rc = reader->openReader(FileKind::DifferenceFile, path);
  if (rc == Rc::Ok) rc = reader->findDataSection();
  if (rc == Rc::Ok) rc = readEntries(run, request.firstRoot, tallied);
  reader->endInflate();
  if (staging && rc == Rc::Ok && !isCancelled(cancel)) {
    installStaged(run);
  } else if (staging) {
    rollBack(run);
    noteRefusal(failures, path, rc, run.failure);
  }
  if (tallied) std::sort(tallied->begin(), tallied->end());
  return rc;
}

Rc applySavedDifference(const SyncRequest& request, SyncTallies tallies, ApplyMode mode) {
  if (!request.fs) return Rc::BadRequest;
  RunRoots roots(*request.fs);  // one registration for both passes
  if (Rc rc = addJobRoots(request, roots); rc != Rc::Ok) return rc;
  std::vector<const FileNode*> tallied;
  Rc rc = applyDifference(request, tallies, mode, &tallied);
  if (rc != Rc::Ok || isCancelled(request.cancel)) return rc;
  WalkBuffers buffers;
  WalkContext ctx;
  rc = startWalk(request, tallies, &buffers, &ctx);
  if (rc != Rc::Ok) return rc;
  FolderPass pass(tallied);
  ctx.hook = &pass;
  return forEachPair(ctx, request, true, [&](FileNode* root, size_t sl, size_t tl) {
    return applyTree(ctx, sl, tl, root->children);
  });
}

}  // namespace fw
