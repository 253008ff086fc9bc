#include "sync/file_ops.h"

#include <memory>
#include <new>

#include "core/sibling_tree.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/as_compared.h"
#include "sync/discard.h"

namespace fw {
namespace {


// A folder's bits while it is filled, and those its owner always keeps.
constexpr uint32_t kOwnerOnlyFolder = 0700;

// The attributes that keep a file from being renamed over, cleared for the replacement.
constexpr uint32_t kSettable = attr::ReadOnly | attr::Hidden | attr::System;

bool isDotName(const char16_t* n) {
  return n[0] == u'.' && (n[1] == 0 || (n[1] == u'.' && n[2] == 0));
}

// Restores the pattern "<folder><sep>*" of patternLength units after an entry's name was
// written over its asterisk.
void restorePattern(char16_t* pattern, size_t patternLength) {
  pattern[patternLength - 1] = u'*';
  pattern[patternLength] = 0;
}

// True when a folder on path, below the part that ends at index start, is a symbolic link or
// junction: what lies below it is elsewhere, and nothing is written or deleted there. Looked at
// are the folders that end at a separator in [start, end); the entry named after the last
// separator is not. The path is cut in place for each look and restored. start 0 looks at
// nothing (the caller vouches for the whole path).
bool linkOnPath(Fs& fs, char16_t* path, size_t start, size_t end) {
  if (start == 0) return false;
  for (size_t i = start; i < end; ++i) {
    if (path[i] != kPathSeparator) continue;
    path[i] = 0;
    uint32_t a = 0;
    bool link = fs.getAttributes(path, &a) == FsStatus::Ok && (a & attr::ReparsePoint);
    path[i] = kPathSeparator;
    if (link) return true;
  }
  return false;
}

// linkOnPath for a path the caller may not change, copied into scratch (kPathBufferUnits).
bool linkOnConstPath(Fs& fs, const char16_t* path, size_t start, char16_t* scratch) {
  if (start == 0) return false;
  size_t n = length16(path);
  if (n >= kPathBufferUnits) return true;
  for (size_t i = 0; i <= n; ++i) scratch[i] = path[i];
  return linkOnPath(fs, scratch, start, n);
}

// The buffers of one copy: the data block and the temporary file's path.
struct CopyBuffers {
  unsigned char data[kCopyBlockSize];
  char16_t temporary[kPathBufferUnits];
};

}  // namespace

bool createTemporary(Fs& fs, const char16_t* destination, uint32_t attributes,
                     std::span<char16_t> out, FileHandle* file, FsFailure* why) {
  *file = kInvalidHandle;
  size_t n = length16(destination);
  size_t folderEnd = n;  // one past the last separator
  while (folderEnd > 0 && destination[folderEnd - 1] != kPathSeparator) --folderEnd;
  if (folderEnd == 0 || folderEnd + kTemporaryNameUnits + 1 > out.size()) {
    if (why) *why = FsFailure{FsStatus::InvalidName, 0};  // a path that does not fit
    return false;
  }
  for (size_t i = 0; i < folderEnd; ++i) out[i] = destination[i];
  for (int attempt = 0; attempt < 16; ++attempt) {
    makeTemporaryName(out.data() + folderEnd);
    FsStatus s = fs.createNew(out.data(), attributes, kOwnerOnly, file);
    if (s == FsStatus::Ok) return true;
    if (s != FsStatus::Exists) {
      kept(fs, s, why);
      return false;
    }
  }
  if (why) *why = FsFailure{FsStatus::Exists, 0};  // every name drawn was taken
  return false;
}

void discardTemporary(Fs& fs, const char16_t* temporary) {
  if (fs.deleteFile(temporary) == FsStatus::Ok) return;
  fs.setAttributes(temporary, attr::Normal);
  fs.deleteFile(temporary);
}

Rc installTemporary(Fs& fs, const char16_t* temporary, const char16_t* destination,
                    bool* replacedOld, const CopyOptions& options, FsFailure* why) {
  const bool mayReplace = options.mayReplace;
  const DiscardPolicy* discard = options.discard;
  *replacedOld = false;
  if (mayReplace && discard && discard->active() && entryExists(fs, destination)) {
    // The old version is kept first: with a backup folder it stays here while the folder
    // receives a link to it (or a copy), and the rename below replaces it; the backup goes
    // again should the new one not take its place.
    uint32_t old = 0;
    fs.getAttributes(destination, &old);
    std::u16string backup;
    if (discardBeforeReplace(fs, *discard, destination, options.start, &backup, why) != Rc::Ok)
      return Rc::CannotWrite;
    bool replaced = false;
    Rc rc = installTemporary(fs, temporary, destination, &replaced, {}, why);
    if (rc != Rc::Ok) {
      dropBackup(fs, backup, destination);
    } else if (!backup.empty() && (old & kSettable) && !(old & attr::ReparsePoint)) {
      // The bits cleared for the rename were also the link's, which keeps the old ones.
      fs.setAttributes(backup.c_str(), old);
    }
    *replacedOld = rc == Rc::Ok;
    return rc;
  }
  if (!mayReplace) {
    // A new entry: whatever holds the name now (it appeared since the comparison, or it is
    // another spelling of it where the file system ignores case) is not ours to replace.
    return kept(fs, fs.rename(temporary, destination, false), why) == FsStatus::Ok
               ? Rc::Ok
               : Rc::CannotWrite;
  }
  uint32_t old = 0;
  bool present = fs.getAttributes(destination, &old) == FsStatus::Ok;
  // A read-only file cannot be renamed over: clear its bits, and put them back if the rename
  // fails. A link is replaced itself; its target's attributes are not touched.
  bool cleared = present && !(old & (attr::Directory | attr::ReparsePoint)) && (old & kSettable) &&
                 fs.setAttributes(destination, attr::Normal) == FsStatus::Ok;
  if (kept(fs, fs.rename(temporary, destination, true), why) != FsStatus::Ok) {
    if (cleared) fs.setAttributes(destination, old);
    return Rc::CannotWrite;
  }
  *replacedOld = present;
  return Rc::Ok;
}

Rc copyFile(Fs& fs, const char16_t* destination, const char16_t* source, uint32_t attributes,
            const CopyOptions& options, CopyOutcome* outcome) {
  std::atomic<uint64_t>* progress = options.progress;
  const CancelFlag* cancel = options.cancel;
  CopyOutcome local;
  CopyOutcome& out = outcome ? *outcome : local;
  out = CopyOutcome{};
  std::unique_ptr<CopyBuffers> buffers(new (std::nothrow) CopyBuffers);
  if (!buffers) return Rc::OutOfMemory;
  if (linkOnConstPath(fs, destination, options.start, buffers->temporary)) return Rc::CannotOpen;

  FsFailure* why = &out.failure;
  FileHandle in;
  if (kept(fs, fs.openRead(source, &in), why) != FsStatus::Ok) return Rc::CannotOpen;
  // The version read is the one the stamp names, checked again once it is read.
  FileStamp before;
  FsStatus s = fs.getFileStamp(in, &before);
  const bool stamped = s == FsStatus::Ok;  // otherwise the system cannot say: the time alone
  if (s == FsStatus::Unsupported) s = fs.getFileTime(in, &before.modified);
  if (kept(fs, s, why) != FsStatus::Ok) {
    fs.close(in);
    return Rc::CannotOpen;
  }
  if (stamped && options.sourceAsCompared &&
      (!isRecordedVersion(before, *options.sourceAsCompared) ||
       !openedAsCompared(fs, source, before, options.sourceComparedAsLink))) {
    fs.close(in);
    out.changed = kChangedSinceComparison;
    out.changedSource = true;
    return Rc::Failed;
  }
  const uint64_t modified = before.modified;
  // The copy takes the source's permission bits (where the system has any), but only once it
  // is complete: until then nobody but the owner may read it.
  uint32_t permissions = 0;
  bool withPermissions = fs.getFilePermissions(in, &permissions) == FsStatus::Ok;
  char16_t* temporary = buffers->temporary;
  FileHandle outFile;
  if (!createTemporary(fs, destination, attributes, {temporary, kPathBufferUnits}, &outFile, why)) {
    fs.close(in);
    return Rc::CannotOpen;
  }

  Rc rc = Rc::Ok;
  uint64_t copied = 0;
  bool inSystem = true;  // the system copies the blocks itself until it says it cannot
  for (;;) {
    if (isCancelled(cancel)) break;
    uint32_t got = 0;
    if (inSystem) {
      FsStatus s = fs.copyData(in, outFile, kCopyBlockSize, &got);
      if (s == FsStatus::Unsupported) {
        inSystem = false;
        continue;
      }
      if (kept(fs, s, why) != FsStatus::Ok) {
        rc = Rc::CannotWrite;
        break;
      }
      if (got == 0) {
        // Some files (of pseudo file systems) report no data to an in-system copy: the end
        // is only the end when a plain read agrees.
        inSystem = false;
        continue;
      }
    } else {
      if (kept(fs, fs.read(in, buffers->data, kCopyBlockSize, &got), why) != FsStatus::Ok) {
        rc = Rc::CannotWrite;  // a copy that stops short must not pass for the whole file
        break;
      }
      if (got == 0) break;
      if (kept(fs, fs.write(outFile, buffers->data, got), why) != FsStatus::Ok) {
        rc = Rc::CannotWrite;
        break;
      }
    }
    if (progress) progress->fetch_add(got, std::memory_order_relaxed);
    copied += got;
  }
  FileStamp after;
  if (rc == Rc::Ok && !isCancelled(cancel) && stamped) {
    if (kept(fs, fs.getFileStamp(in, &after), why) != FsStatus::Ok) {
      rc = Rc::CannotWrite;
    } else if (!(after == before) || copied != before.size) {
      rc = Rc::Failed;  // written meanwhile: the copy may hold parts of two versions
      out.changed = kChangedWhileCopied;
      out.changedSource = true;
    }
  }
  // Best effort: a file system without permission bits (FAT on a removable disk) refuses them,
  // and the copy is then as private as it can be, never more open than its source.
  if (rc == Rc::Ok && !isCancelled(cancel) && withPermissions &&
      fs.setFilePermissions(outFile, permissions) == FsStatus::Ok)
    fs.copyAccessList(in, outFile);  // where the bits alone would let more people in
  if (rc == Rc::Ok && !isCancelled(cancel) &&
      kept(fs, fs.setFileTimes(outFile, modified, modified, modified), why) != FsStatus::Ok)
    rc = Rc::CannotWrite;
  fs.close(outFile);
  fs.close(in);

  if (rc == Rc::Ok && isCancelled(cancel)) {
    out.cancelled = true;
    discardTemporary(fs, temporary);
    return Rc::Ok;
  }
  if (rc == Rc::Ok && options.destinationAsCompared) {
    rc = checkAsCompared(fs, destination, *options.destinationAsCompared, false, why);
    if (rc == Rc::Failed) out.changed = kChangedSinceComparison;
  }
  if (rc == Rc::Ok)
    rc = installTemporary(fs, temporary, destination, &out.replacedOld, options, why);
  if (rc != Rc::Ok) discardTemporary(fs, temporary);
  return rc;
}

Rc deleteFolderContents(Fs& fs, char16_t* pattern, size_t patternLength,
                        const CancelFlag* cancel, size_t depth, FsFailure* why) {
  // Deeper than any comparison reads: not removed (and the stack stays small).
  if (depth > kMaxFolderDepth) return Rc::CannotWrite;
  FindHandle handle;
  FindEntry entry;
  FsStatus status = fs.findFirst(pattern, &handle, &entry);
  if (status == FsStatus::NotFound) return Rc::Ok;  // nothing there
  if (kept(fs, status, why) != FsStatus::Ok) return Rc::CannotWrite;  // there, but unlisted
  Rc rc = Rc::Ok;
  while (!isCancelled(cancel)) {
    if (!isDotName(entry.name)) {
      size_t length = extendPattern(pattern, kPathBufferUnits, patternLength, entry.name);
      if (length == 0) {
        rc = Rc::CannotWrite;  // a path too long to name cannot be removed
        if (why) *why = FsFailure{FsStatus::InvalidName, 0};
        break;
      }
      bool link = (entry.attributes & attr::ReparsePoint) != 0;
      bool folder = (entry.attributes & attr::Directory) != 0;
      // A FIFO, socket or device (or a link leading nowhere) is not the sync's to remove: the
      // comparison leaves it out, so the folder that holds it stays.
      if (entry.attributes & attr::Device) rc = Rc::CannotWrite;
      else if (folder && !link)
        rc = deleteFolderContents(fs, pattern, length, cancel, depth + 1, why);
      pattern[length - 2] = 0;  // the entry's own path
      if (rc == Rc::Ok) {
        // A link or junction is removed as what it is, never entered: what it points to lies
        // outside the tree being removed.
        FsStatus removed = folder ? fs.removeDirectory(pattern) : fs.deleteFile(pattern);
        if (kept(fs, removed, why) != FsStatus::Ok) rc = Rc::CannotWrite;
      }
      restorePattern(pattern, patternLength);
      if (rc != Rc::Ok) break;
    }
    if (isCancelled(cancel)) break;
    status = fs.findNext(handle, &entry);
    if (status == FsStatus::NoMoreFiles) break;
    if (kept(fs, status, why) != FsStatus::Ok) {
      rc = Rc::CannotWrite;
      break;
    }
  }
  fs.findClose(handle);
  return rc;
}

Rc deleteTree(Fs& fs, char16_t* path, size_t length, const CancelFlag* cancel,
              FsFailure* why) {
  uint32_t a = 0;
  if (fs.getAttributes(path, &a) == FsStatus::Ok && (a & attr::ReparsePoint)) {
    // A link (or a junction) is removed itself; listing it would list what it points to.
    FsStatus s = (a & attr::Directory) ? fs.removeDirectory(path) : fs.deleteFile(path);
    return kept(fs, s, why) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
  }
  if (length + 3 > kPathBufferUnits) {
    if (why) *why = FsFailure{FsStatus::InvalidName, 0};
    return Rc::CannotWrite;
  }
  path[length] = kPathSeparator;
  path[length + 1] = u'*';
  path[length + 2] = 0;
  Rc rc = deleteFolderContents(fs, path, length + 2, cancel, 0, why);
  path[length] = 0;
  if (rc != Rc::Ok) return rc;
  return kept(fs, fs.removeDirectory(path), why) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
}

bool noteCreated(std::vector<std::u16string>* created, const char16_t* path) {
  if (!created) return true;
  try {
    created->emplace_back(path);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void createFolderChain(Fs& fs, char16_t* path, size_t end, std::vector<std::u16string>* created) {
  // Cut the path back at its separators to the deepest folder that exists (or to the
  // outermost name, which is not created), then create the cut-off folders outermost first.
  uint32_t a = 0;
  size_t cut = end;
  bool found;
  while (!(found = fs.getAttributes(path, &a) == FsStatus::Ok)) {
    size_t i = cut >= 2 ? cut - 2 : 0;
    while (i > 0 && path[i] != kPathSeparator) --i;
    if (i == 0) break;
    path[i] = 0;
    cut = i;
  }
  if (found && cut != end && (a & attr::ReparsePoint)) {
    // The deepest folder there is a link: what would be created lies elsewhere.
    while (cut != end) {
      path[cut] = kPathSeparator;
      do ++cut;
      while (path[cut] != 0);
    }
    return;
  }
  while (cut != end) {
    path[cut] = kPathSeparator;
    do ++cut;
    while (path[cut] != 0);  // the next cut, or the path's own terminator
    if (fs.createDirectory(path) == FsStatus::Ok && !noteCreated(created, path))
      fs.removeDirectory(path);
  }
}

bool pathRunsThroughLink(Fs& fs, char16_t* path, size_t start) {
  return linkOnPath(fs, path, start, length16(path));
}

bool isPlainName(const char16_t* name, size_t length) {
  if (length == 0) return false;
  if (name[0] == u'.' && (length == 1 || (length == 2 && name[1] == u'.'))) return false;
  for (size_t i = 0; i < length; ++i) {
    char16_t c = name[i];
    if (c == 0 || c == u'/' || c == kPathSeparator) return false;
#ifdef _WIN32
    if (c == u':') return false;  // a drive or an alternate data stream
#endif
  }
  return true;
}

FileNode* resolveRecordPath(Fs& fs, char16_t* path, size_t start, FileNode* siblings,
                            bool createFolders, std::vector<std::u16string>* created) {
  size_t begin = start;
  for (;;) {
    size_t end = begin;
    while (path[end] != 0 && path[end] != kPathSeparator) ++end;
    if (!isPlainName(path + begin, end - begin)) return nullptr;
    bool last = path[end] == 0;
    path[end] = 0;
    FileNode* node = findNode(siblings, path + begin);
    // The target may spell an entry it has in other letter case: its spelling is the path.
    if (node && (node->flags & OtherSpelling)) {
      const char16_t* own = sideName(node, 1);
      for (size_t i = begin; i < end; ++i) path[i] = own[i - begin];
    }
    if (node && !last && isFolder(node) && (node->flags & OnlyInSource) && createFolders &&
        !linkOnPath(fs, path, start, end) && fs.createDirectory(path) == FsStatus::Ok &&
        !noteCreated(created, path))
      fs.removeDirectory(path);
    if (!last) path[end] = kPathSeparator;
    if (!node || last) return node;
    if (!isFolder(node) || !node->children) return nullptr;
    siblings = node->children;
    begin = end + 1;
  }
}

Rc deleteEntry(Fs& fs, const FileNode* node, char16_t* path, const CancelFlag* cancel,
               size_t start, FsFailure* why) {
  const size_t length = length16(path);
  if (linkOnPath(fs, path, start, length)) return Rc::CannotWrite;
  uint32_t a = 0;
  bool link = fs.getAttributes(path, &a) == FsStatus::Ok && (a & attr::ReparsePoint);
  if (link) {
    FsStatus s = (a & attr::Directory) ? fs.removeDirectory(path) : fs.deleteFile(path);
    return kept(fs, s, why) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
  }
  if (isFolder(node)) return deleteTree(fs, path, length, cancel, why);
  return kept(fs, fs.deleteFile(path), why) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
}

void createFolder(Fs& fs, const char16_t* path, size_t start, const char16_t* source) {
  if (start != 0) {
    std::unique_ptr<char16_t[]> scratch(new (std::nothrow) char16_t[kPathBufferUnits]);
    if (!scratch || linkOnConstPath(fs, path, start, scratch.get())) return;
  }
  uint32_t permissions = 0;
  if (source && fs.getPermissions(source, &permissions) == FsStatus::Ok)
    fs.createDirectoryWithPermissions(path, kOwnerOnlyFolder);
  else
    fs.createDirectory(path);
}

void carryFolderPermissions(Fs& fs, const char16_t* path, const char16_t* source,
                            size_t start) {
  uint32_t permissions = 0;
  if (fs.getPermissions(source, &permissions) != FsStatus::Ok) return;
  if (start != 0) {
    std::unique_ptr<char16_t[]> scratch(new (std::nothrow) char16_t[kPathBufferUnits]);
    if (!scratch || linkOnConstPath(fs, path, start, scratch.get())) return;
  }
  fs.setFolderPermissions(path, (permissions & 0777) | kOwnerOnlyFolder);
}

ReplaceOutcome replaceFile(Fs& fs, const char16_t* destination, const char16_t* source,
                           uint8_t attrByte, const CopyOptions& options) {
  ReplaceOutcome result;
  CopyOutcome copy;
  result.copyResult = copyFile(fs, destination, source, fromAttrByte(attrByte), options, &copy);
  result.oldReplaced = copy.replacedOld;
  result.cancelled = copy.cancelled;
  result.failure = copy.failure;
  result.changed = copy.changed;
  result.changedSource = copy.changedSource;
  return result;
}

Rc updateAttributes(Fs& fs, const char16_t* destination, uint8_t attrByte, size_t start,
                    FsFailure* why) {
  if (start != 0) {
    std::unique_ptr<char16_t[]> scratch(new (std::nothrow) char16_t[kPathBufferUnits]);
    if (!scratch) return Rc::OutOfMemory;
    if (linkOnConstPath(fs, destination, start, scratch.get())) return Rc::CannotWrite;
  }
  uint32_t current = 0;
  if (kept(fs, fs.getAttributes(destination, &current), why) != FsStatus::Ok)
    return Rc::CannotWrite;
  uint32_t others = current & ~(attr::ReadOnly | attr::Hidden | attr::System | attr::Archive);
  fs.setAttributes(destination, attr::Normal);
  if (kept(fs, fs.setAttributes(destination, others | fromAttrByte(attrByte)), why) !=
      FsStatus::Ok)
    return Rc::CannotWrite;
  uint32_t now = 0;
  if (kept(fs, fs.getAttributes(destination, &now), why) != FsStatus::Ok) return Rc::CannotWrite;
  return toAttrByte(now) == toAttrByte(fromAttrByte(attrByte)) ? Rc::Ok : Rc::Failed;
}

bool entryExists(Fs& fs, const char16_t* path) {
  uint32_t a = 0;
  return fs.getAttributes(path, &a) != FsStatus::NotFound;
}

}  // namespace fw
