#include "sync/apply_difference.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/sibling_tree.h"
#include "formats/compressed_reader.h"
#include "formats/difference_check.h"
#include "formats/state_file.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "platform/windows_name.h"
#include "sync/as_compared.h"
#include "sync/failure_text.h"
#include "sync/file_ops.h"
#include "sync/free_space.h"
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
  const FileNode* node = nullptr;
  // While the set is put in place: a second name of the file it replaces (in the same folder),
  // to put it back should a later file fail, and that file's attributes.
  std::u16string aside{};
  uint32_t oldAttributes = 0;
  bool replaced = false;
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
  FailureLog* failures = nullptr;  // where every entry that fails is named
  SyncObserver* observer = nullptr;  // told of every entry put in place or left alone
  bool windowsNames = kWindowsNames;
  bool rootReceives = false;  // something is written below the current target root
  // The entry whose failure ended the run (empty: none did), and why.
  std::u16string stopPath{};
  std::string stopReason{};
  std::u16string leftOut{};  // the last name left out as one Windows refuses (a path)
};

// Names an entry the run could not handle, in the run's failure list.
void noteEntry(Run& run, const char16_t* path, const std::string& reason,
               const FsFailure& why = {}) {
  logFailure(run.failures, path, reason, why);
}

// Keeps the entry whose failure ends the run, and why; CannotWrite.
Rc stopAt(Run& run, const char16_t* path, const std::string& reason, const FsFailure& why) {
  try {
    run.stopPath = path;
    run.stopReason = reason;
  } catch (const std::bad_alloc&) {
  }
  run.failure = why;
  return Rc::CannotWrite;
}

// Whether node's name, where names are held to those Windows allows, is one the target lacks
// and Windows refuses, or holds a character no Windows path can (holdsCharacterWindowsRefuses,
// also where the target lends the entry one: a POSIX folder under Wine).
bool refusedByWindows(const Run& run, const FileNode* node) {
  if (!run.windowsNames) return false;
  const char16_t* own = sideName(node, 1);
  return ((node->flags & OnlyInSource) && !allowedOnWindows(node->name, length16(node->name))) ||
         holdsCharacterWindowsRefuses(node->name, length16(node->name)) ||
         holdsCharacterWindowsRefuses(own, length16(own));
}

// Whether the apply writes anything below tree into the target: a file or folder it adds or
// replaces, where Windows allows its name when names are held to those.
bool receives(const Run& run, FileNode* tree) {
  bool found = false;
  walkInOrder(tree, [&](FileNode* n) {
    if (refusedByWindows(run, n)) return Rc::Ok;  // left out, with what lies below it
    EntryAction a = actionOf(n, run.masks);
    found = (a.changes == 1 && a.what != EntryChange::None && a.what != EntryChange::Delete) ||
            (isFolder(n) && n->children && receives(run, n->children));
    return found ? Rc::Failed : Rc::Ok;  // Failed only ends the walk
  });
  return found;
}

// Whether a finished file may take its place: a new one always (its rename replaces
// nothing), one that replaces a target file only while that is the version the comparison
// saw; otherwise the target file stays, named.
bool mayInstall(Run& run, const char16_t* destination, const FileNode* node, bool added) {
  if (added) return true;
  FsFailure why;
  Rc rc = checkAsCompared(run.fs, destination, node->side[1], false, &why);
  if (rc == Rc::Ok) return true;
  noteEntry(run, destination,
            rc == Rc::Failed ? std::string(kChangedSinceComparison)
                             : failureText("left alone: cannot be examined", rc, why),
            why);
  return false;
}

// Puts target root i (whose root node is node) into the path buffer, creating it with its
// ancestors when it is set and something is written into it: a folder made where there was
// none (an unmounted drive) would pass for an emptied one at the next sync.
Rc enterRoot(Run& run, size_t i, FileNode* node) {
  static const std::u16string kNone;
  const std::u16string& root = i < run.target.roots.size() ? run.target.roots[i] : kNone;
  size_t length = 0;
  if (!putRoot(run.path, root, &length) || length + 2 > kPathBufferUnits) return Rc::Failed;
  run.rootEmpty = root.empty();
  run.rootReceives = !run.rootEmpty && node && receives(run, node->children);
  if (run.rootReceives) createFolderChain(run.fs, run.path, length, run.created());
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
// file once every byte has arrived and its times are set. A file that cannot be created,
// written or stamped ends a one-pass run (which then puts back everything: CannotWrite, the
// entry kept in run.stopPath); in two passes, one that cannot be created, stamped or put in
// place is named and the run goes on, while a failed write (a full disk) ends it. A link on
// the path is named and the run goes on in both. The data ending early and the cancel flag end
// the run. In every case where the new file is not in place, its temporary file is removed and
// the old target file is as it was.
Rc writeFileEntry(Run& run, const FileNode* node, uint64_t size) {
  Fs& fs = run.fs;
  const SideInfo& src = node->side[0];
  uint64_t old = node->counts[1].bytesExisting;
  bool added = (node->flags & (OnlyInSource | OnlyInTarget)) != 0;
  run.ok.current.set(run.path);
  // A difference carries no permission bits: a replaced file keeps those of the file it
  // replaces, a new one gets what a new file gets; one whose predecessor cannot be examined
  // stays the owner's alone. Until it is in place, it is the owner's alone in every case.
  uint32_t permissions = kOwnerOnly;
  FsStatus had = fs.getPermissions(run.path, &permissions);
  if (had == FsStatus::NotFound) permissions = kDefaultPermissions;
  else if (had != FsStatus::Ok) permissions = kOwnerOnly;
  FileHandle file = kInvalidHandle;
  FsFailure why;
  // Nothing is written through a link: that entry is left as it is, in either mode.
  bool throughLink = pathRunsThroughLink(fs, run.path, run.rootEnd);
  bool created = !throughLink && createTemporary(fs, run.path, fromAttrByte(src.attributes),
                                                 {run.temporary, kPathBufferUnits}, &file, &why);
  if (!created) {
    tallyOutcome(run, false, false, false, size, old, added);
    tally(run.failed.addedBytes, size);
    if (run.staging && !throughLink)
      return stopAt(run, run.path, failureText("cannot write", Rc::CannotWrite, why), why);
    noteEntry(run, run.path,
              throughLink ? "not written: a folder on its path is a link"
                          : failureText("cannot write", Rc::CannotWrite, why),
              why);
    return skipContents(run, size);
  }

  Rc rc = Rc::Ok;  // ends the run
  uint64_t left = size;
  while (left > 0) {
    if (isCancelled(run.cancel)) break;
    const uint8_t* data;
    size_t n;
    rc = run.reader.takeBytes(left, &data, &n);  // Failed when the stream ends before the entry
    if (rc != Rc::Ok) break;
    if (kept(fs, fs.write(file, data, static_cast<uint32_t>(n)), &why) != FsStatus::Ok) {
      rc = stopAt(run, run.path, failureText("cannot write", Rc::CannotWrite, why), why);
      break;
    }
    tally(run.ok.addedBytes, n);
    if (run.staging) run.liveBytes += n;
    left -= n;
  }
  bool complete = rc == Rc::Ok && left == 0;
  bool entryOk = complete;  // the new file is (or, staged, will be) in place
  if (entryOk && had != FsStatus::Unsupported) fs.setFilePermissions(file, permissions);
  if (entryOk &&
      kept(fs, fs.setFileTimes(file, src.modified, src.modified, src.modified), &why) !=
          FsStatus::Ok) {
    entryOk = false;
    std::string reason = failureText("cannot set the file's time", Rc::CannotWrite, why);
    if (run.staging) rc = stopAt(run, run.path, reason, why);
    else noteEntry(run, run.path, reason, why);
  }
  fs.close(file);
  if (!complete && rc == Rc::Ok) {  // cancelled: nothing changed, nothing tallied
    discardTemporary(fs, run.temporary);
    return Rc::Ok;
  }
  if (run.staging && entryOk) {
    // Complete in its temporary file; it takes its place with the rest of the set.
    try {
      const char16_t* name = run.temporary + length16(run.temporary);
      while (name > run.temporary && name[-1] != kPathSeparator) --name;
      run.staged.push_back({run.path, name, size, old, added, run.rootEnd, node});
    } catch (const std::bad_alloc&) {
      discardTemporary(fs, run.temporary);
      return Rc::OutOfMemory;
    }
    return Rc::Ok;
  }
  bool replaced = false;
  if (entryOk && !mayInstall(run, run.path, node, added)) entryOk = false;
  if (entryOk && installTemporary(fs, run.temporary, run.path, &replaced,
                                  installOptions(run, !added, run.rootEnd), &why) != Rc::Ok) {
    entryOk = false;
    noteEntry(run, run.path, failureText("cannot write", Rc::CannotWrite, why), why);
  }
  if (!entryOk) discardTemporary(fs, run.temporary);
  else tellDone(run.observer, added ? EntryDone::Copied : EntryDone::Replaced, run.path);
  tallyOutcome(run, entryOk, replaced, true, size, old, added);
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

// Creates the pending empty folders, each noted for a roll-back. An existing folder is fine; a
// link on the path leaves that folder out (named). CannotWrite, with the folder kept in
// run.stopPath, for one that cannot be created.
Rc createPendingFolders(Run& run) {
  for (const PendingFolder& f : run.emptyFolders) {
    f.path.copy(run.temporary, f.path.size());
    run.temporary[f.path.size()] = 0;
    if (pathRunsThroughLink(run.fs, run.temporary, f.rootEnd)) {
      noteEntry(run, f.path.c_str(), "not written: a folder on its path is a link");
      continue;
    }
    FsFailure why;
    FsStatus s = kept(run.fs, run.fs.createDirectory(f.path.c_str()), &why);
    uint32_t a = 0;
    if (s == FsStatus::Exists && run.fs.getAttributes(f.path.c_str(), &a) == FsStatus::Ok &&
        (a & attr::Directory))
      continue;
    if (s != FsStatus::Ok)
      return stopAt(run, f.path.c_str(), failureText("cannot create the folder", Rc::CannotWrite, why),
                    why);
    if (!noteCreated(&run.createdFolders, f.path.c_str())) {
      run.fs.removeDirectory(f.path.c_str());
      return Rc::OutOfMemory;
    }
  }
  run.emptyFolders.clear();
  return Rc::Ok;
}

// Gives the target file a staged one replaces a second name beside it, so that it can be put
// back. Where the file system has no such names, a copy is kept instead. CannotWrite, with the
// file kept in run.stopPath, when neither can be made.
Rc keepAside(Run& run, Staged& s) {
  Fs& fs = run.fs;
  const char16_t* destination = s.destination.c_str();
  if (fs.getAttributes(destination, &s.oldAttributes) != FsStatus::Ok) return Rc::Ok;  // gone
  size_t folder = s.destination.rfind(kPathSeparator) + 1;
  FsFailure why;
  for (int attempt = 0; attempt < 16; ++attempt) {
    s.destination.copy(run.temporary, folder);
    makeTemporaryName(run.temporary + folder);
    FsStatus linked = kept(fs, fs.createHardLink(destination, run.temporary), &why);
    if (linked == FsStatus::Exists) continue;
    Rc rc = Rc::Ok;
    if (linked != FsStatus::Ok) {
      CopyOutcome copied;
      rc = copyFile(fs, run.temporary, destination, s.oldAttributes, {}, &copied);
      why = copied.failure;
    }
    if (rc != Rc::Ok) break;
    try {
      s.aside = run.temporary;
    } catch (const std::bad_alloc&) {
      discardTemporary(fs, run.temporary);
      return Rc::OutOfMemory;
    }
    return Rc::Ok;
  }
  return stopAt(run, destination,
                failureText("cannot keep the old version while the set is put in place",
                            Rc::CannotWrite, why),
                why);
}

// Puts a file that a failed install had put in place back as it was: the old version from its
// second name, with its attributes, or no file where there was none.
void putBack(Run& run, Staged& s) {
  Fs& fs = run.fs;
  const char16_t* destination = s.destination.c_str();
  if (s.added) {
    discardTemporary(fs, destination);
    return;
  }
  if (s.aside.empty()) return;
  bool replaced = false;
  if (installTemporary(fs, s.aside.c_str(), destination, &replaced) != Rc::Ok) {
    noteEntry(run, destination,
              "could not be put back as it was; its old version is at " +
                  toUtf8Escaped(fromLongPath(s.aside.c_str())));
    return;
  }
  s.aside.clear();
  if (s.oldAttributes & ~(attr::Directory | attr::Normal)) fs.setAttributes(destination, s.oldAttributes);
}

// Puts the set in place once it has proved whole: the pending empty folders are created, every
// target file a staged one replaces is given a second name, and the staged files are renamed
// into place. Should any of it fail, what was put in place is put back as it was, and the
// caller's rollBack removes the rest: the target is as before (CannotWrite, or OutOfMemory,
// with the entry that failed in run.stopPath). The second names go at the end.
Rc installStaged(Run& run) {
  // A target file that changed since the comparison keeps its place: its staged file goes,
  // named, and the rest of the set is put in place.
  std::erase_if(run.staged, [&run](const Staged& s) {
    if (mayInstall(run, s.destination.c_str(), s.node, s.added)) return false;
    discardTemporary(run.fs, temporaryOf(run, s));
    tallyOutcome(run, false, false, true, s.size, s.old, s.added);
    return true;
  });
  Rc rc = createPendingFolders(run);
  for (size_t i = 0; rc == Rc::Ok && i < run.staged.size(); ++i)
    if (!run.staged[i].added) rc = keepAside(run, run.staged[i]);
  size_t installed = 0;
  for (; rc == Rc::Ok && installed < run.staged.size(); ++installed) {
    Staged& s = run.staged[installed];
    FsFailure why;
    if (installTemporary(run.fs, temporaryOf(run, s), s.destination.c_str(), &s.replaced,
                         installOptions(run, !s.added, s.rootEnd), &why) != Rc::Ok) {
      rc = stopAt(run, s.destination.c_str(), failureText("cannot write", Rc::CannotWrite, why),
                  why);
      tallyOutcome(run, false, false, true, s.size, s.old, s.added);
      break;
    }
  }
  if (rc != Rc::Ok) {
    for (size_t i = installed; i-- > 0;) putBack(run, run.staged[i]);
    run.staged.erase(run.staged.begin(), run.staged.begin() + static_cast<ptrdiff_t>(installed));
  } else {
    // Only now is any of it done, the folders made for it first.
    for (const std::u16string& folder : run.createdFolders)
      tellDone(run.observer, EntryDone::FolderCreated, folder.c_str());
    for (const Staged& s : run.staged) {
      tallyOutcome(run, true, s.replaced, true, s.size, s.old, s.added);
      tellDone(run.observer, s.added ? EntryDone::Copied : EntryDone::Replaced,
               s.destination.c_str());
    }
  }
  for (const Staged& s : run.staged)
    if (!s.aside.empty()) discardTemporary(run.fs, s.aside.c_str());
  if (rc == Rc::Ok) run.staged.clear();
  return rc;
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

// The node the relative path after the root in run.path names, looked up in the tree only
// (nothing is created, no spelling changed), or null. A component that is empty, "." or ".."
// names nothing. *refusedEnd: where the first name on the path ends that the target lacks and
// Windows refuses, when names are held to those; 0 when there is none.
FileNode* lookUpRecord(Run& run, FileNode* siblings, size_t* refusedEnd) {
  char16_t* path = run.path;
  size_t begin = run.rootEnd;
  *refusedEnd = 0;
  for (;;) {
    size_t end = begin;
    while (path[end] != 0 && path[end] != kPathSeparator) ++end;
    size_t length = end - begin;
    if (length == 0 || (path[begin] == u'.' && (length == 1 || (length == 2 && path[begin + 1] == u'.'))))
      return nullptr;
    bool last = path[end] == 0;
    path[end] = 0;
    FileNode* node = findNode(siblings, path + begin);
    if (!last) path[end] = kPathSeparator;
    if (!node) return nullptr;
    if (*refusedEnd == 0 && refusedByWindows(run, node)) *refusedEnd = end;
    if (last) return node;
    if (!isFolder(node) || !node->children) return nullptr;
    siblings = node->children;
    begin = end + 1;
  }
}

// An entry that the apply would write but whose path holds a name (up to refusedEnd) that
// Windows refuses (refusedByWindows): read past, counted as failed, and named, that name once
// for all the entries below it.
Rc leaveOutRefused(Run& run, const FileNode* node, uint64_t size, size_t refusedEnd) {
  if (!isFolder(node))
    tallyOutcome(run, false, false, true, size, node->counts[1].bytesExisting,
                 (node->flags & OnlyInSource) != 0);
  std::u16string_view named(run.path, refusedEnd);
  if (named != run.leftOut) {
    try {
      run.leftOut = named;
    } catch (const std::bad_alloc&) {
    }
    char16_t keep = run.path[refusedEnd];
    run.path[refusedEnd] = 0;
    noteEntry(run, run.path, std::string("not written: ") + kNotAllowedOnWindows);
    run.path[refusedEnd] = keep;
  }
  return skipContents(run, size);
}

Rc readEntries(Run& run, FileNode* firstRoot, std::vector<const FileNode*>* tallied) {
  CompressedReader& r = run.reader;
  std::unordered_set<const FileNode*> carried;  // a second entry for one node is not ours
  uint32_t pair = 0;
  FileNode* root = firstRoot;
  Rc rc = enterRoot(run, 0, root);
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
      rc = enterRoot(run, pair, root);
      if (rc != Rc::Ok) return rc;
    }
    if (!root) return Rc::Failed;
    rc = putRelativePath(run, run.temporary, units);
    if (rc != Rc::Ok) return rc;

    size_t refusedEnd = 0;
    FileNode* node = lookUpRecord(run, root->children, &refusedEnd);
    // Not in the tree, or a name only the target has: the file does not belong to this
    // comparison.
    if (!node || (node->flags & OnlyInTarget)) return Rc::Failed;
    // Takes the target's spelling of the path and creates the entry's new intermediate
    // folders, where something is written into the root (no name on the way is refused).
    if (refusedEnd == 0 &&
        resolveRecordPath(run.fs, run.path, run.rootEnd, root->children, run.rootReceives,
                          run.created()) != node)
      return Rc::Failed;
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

    if (refusedEnd != 0 && applies(run, node)) {
      rc = leaveOutRefused(run, node, size, refusedEnd);
      if (rc != Rc::Ok) return rc;
    } else if (!applies(run, node)) {
      rc = skipContents(run, size);
      if (rc != Rc::Ok) return rc;
      if (!folder && !(node->flags & Ignored)) {  // an ignored one is no part of the run
        tally(run.ok.untouchedFiles, 1);
        tally(run.ok.untouchedBytes, size);
        tellDone(run.observer, EntryDone::LeftAlone, run.path);
      }
    } else if (folder && run.staging) {
      try {
        run.emptyFolders.push_back({run.path, run.rootEnd});
      } catch (const std::bad_alloc&) {
        return Rc::OutOfMemory;
      }
    } else if (folder) {
      createFolder(run.fs, run.path, run.rootEnd);
      uint32_t a = 0;  // an existing one is no failure, a missing one fails its entries
      if (run.observer && run.fs.getAttributes(run.path, &a) == FsStatus::Ok &&
          (a & attr::Directory))
        run.observer->entryDone(EntryDone::FolderCreated, run.path);
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

// Whether the files of a one-pass apply fit, all at once, beside the files they replace: the
// bytes of every file written below each target root against its volume's free space, nothing
// freed (checkFreeSpace). CannotWrite, with the volume's root named in *failures, when they do
// not.
Rc checkRoom(Run& run, FileNode* firstRoot, FailureLog* failures) {
  std::vector<SpaceNeed> needs;
  FileNode* root = firstRoot;
  for (size_t i = 0; i < run.target.roots.size() && root; ++i, root = root->link[1]) {
    const std::u16string& name = run.target.roots[i];
    if (name.empty()) continue;
    run.rootEmpty = false;
    try {
      needs.push_back({name, bytesToWrite(run, root->children), 0});
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
  }
  run.rootEmpty = true;
  return checkFreeSpace(run.fs, needs, "the files of the difference", failures);
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

// Says why a one-pass apply changed nothing (a refusal of room has said so itself): the entry
// whose failure ended it, with why, where one did (run.stopPath); otherwise the difference
// file path, with what was wrong with it.
void noteRefusal(Run& run, const char16_t* path, Rc rc) {
  FailureLog* failures = run.failures;
  if (rc == Rc::Ok || !failures) return;
  if (!failures->empty() && failures->back().reason.find("free space") != std::string::npos)
    return;
  if (!run.stopPath.empty()) {
    noteEntry(run, run.stopPath.c_str(), run.stopReason + "; nothing was changed", run.failure);
    return;
  }
  const FsFailure& failed = run.failure;
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
    // What the receiving side's ignore list leaves out is no part of the run, as in a sync of
    // two folders: the data pass read past it.
    if (flags & Ignored) return true;
    if (!isFolder(node) && !tallied(node) && a->carriedData) {
      // A file the difference should have carried, but did not (a difference made for
      // another target).
      SyncStats& failed = *ctx.failedStats;
      tally((flags & OnlyInSource) ? failed.addedFiles : failed.modifiedFiles, 1);
      noteFailure(ctx, ctx.targetPath, "not written: the difference does not carry its data");
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
  run.failures = failures;
  run.observer = request.observer;
  run.windowsNames = request.windowsNames;
  if (staging) {
    rc = checkRoom(run, request.firstRoot, failures);
    if (rc == Rc::Ok) rc = checkVolumes(*reader, path);
    if (rc != Rc::Ok) {
      noteRefusal(run, path, rc);
      return rc;
    }
  }
  rc = reader->openReader(FileKind::DifferenceFile, path);
  if (rc == Rc::Ok) rc = reader->findDataSection();
  if (rc == Rc::Ok) rc = readEntries(run, request.firstRoot, tallied);
  reader->endInflate();
  if (staging) {
    // Cancelled, nothing of the set is put in place either.
    if (rc == Rc::Ok && !isCancelled(cancel)) rc = installStaged(run);
    else if (rc == Rc::Ok) rollBack(run);
    if (rc != Rc::Ok) {
      rollBack(run);
      noteRefusal(run, path, rc);
    }
  } else if (rc != Rc::Ok && !run.stopPath.empty()) {
    noteEntry(run, run.stopPath.c_str(), run.stopReason, run.failure);  // two passes
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
