#include "sync/discard.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "core/root_overlap.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/file_ops.h"

namespace fw {
namespace {

constexpr int kMostCopies = 100;  // of one stamped name in one folder

// The units of the character that begins at index i: 2 for a surrogate pair, else 1.
size_t codePointUnits(std::u16string_view s, size_t i) {
  bool pair = s[i] >= 0xD800 && s[i] < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
              s[i + 1] < 0xE000;
  return pair ? 2 : 1;
}

// What the character at index i takes in a name on disk: UTF-16 units on Windows; on POSIX
// bytes of its UTF-8 form, a byte for a lone surrogate that stands for one byte of a name that
// is not UTF-8 (text.h), and 3 for any other lone surrogate (the most it could take).
size_t storedUnits(std::u16string_view s, size_t i) {
#ifdef _WIN32
  return codePointUnits(s, i);
#else
  char16_t c = s[i];
  if (codePointUnits(s, i) == 2) return 4;
  if (c >= 0xDC80 && c <= 0xDCFF) return 1;
  return c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
#endif
}

void putNumber(std::u16string& out, int value, int digits) {
  char16_t buffer[8];
  for (int i = digits - 1; i >= 0; --i) {
    buffer[i] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  }
  out.append(buffer, static_cast<size_t>(digits));
}

// A path as a PathBuffer, for the calls that cut and restore it in place.
struct Scratch {
  std::unique_ptr<char16_t[]> units{new (std::nothrow) char16_t[kPathBufferUnits]};
  bool put(const std::u16string& path) {
    if (!units || path.size() + 1 > kPathBufferUnits) return false;
    for (size_t i = 0; i < path.size(); ++i) units[i] = path[i];
    units[path.size()] = 0;
    return true;
  }
};

// Puts one file (or link) into the backup folder under its relative path, stamped. Without
// keepOriginal it is moved there: renamed, or from another volume copied and then removed.
// With keepOriginal (for a replacement, which then renames the new version over it) the
// original stays where it is, so that its name is never empty: the backup folder receives a
// hard link to it or, where none can be made (another volume, a file system without them), a
// copy. *backup: the backup's path.
// *why (when given): the file-system call that failed, on CannotWrite.
Rc backupFile(Fs& fs, const DiscardPolicy& policy, const char16_t* path, size_t relativeStart,
              bool keepOriginal, std::u16string* backup, FsFailure* why) {
  if (relativeStart == 0) return Rc::CannotWrite;     // no root to be relative to
  std::u16string relative(path + relativeStart - 1);  // the separator, then the names
  size_t cut = relative.rfind(kPathSeparator);
  std::u16string folder = policy.backupRoot + relative.substr(0, cut);
  std::u16string name = relative.substr(cut + 1);
  const size_t backupStart = policy.backupRoot.size() + 1;
  // Nothing is written through a link inside the backup folder, nor outside it: the folder
  // must still be there (its parents are not made again), and the folders on the way are
  // looked at before any of them is made and after.
  uint32_t a = 0;
  Scratch scratch;
  if (fs.getAttributes(policy.backupRoot.c_str(), &a) != FsStatus::Ok || !(a & attr::Directory) ||
      !scratch.put(folder + kPathSeparator + name) ||
      pathRunsThroughLink(fs, scratch.units.get(), backupStart) || !scratch.put(folder))
    return Rc::CannotWrite;
  createFolderChain(fs, scratch.units.get(), folder.size());
  std::u16string destination;
  for (int copy = 1;; ++copy) {
    if (copy > kMostCopies) return Rc::CannotWrite;
    destination = folder + kPathSeparator + stampedName(name, policy.stamp, copy);
    if (!entryExists(fs, destination.c_str())) break;
  }
  if (!scratch.put(destination) || pathRunsThroughLink(fs, scratch.units.get(), backupStart))
    return Rc::CannotWrite;
  if (keepOriginal) {
    if (fs.createHardLink(path, destination.c_str()) == FsStatus::Ok) {
      if (backup) *backup = destination;
      return Rc::Ok;
    }
    // Whatever kept the link from being made, a copy may still be: it says what fails.
  } else {
    FsStatus moved = fs.rename(path, destination.c_str(), false);
    if (moved == FsStatus::Ok) return Rc::Ok;
    if (moved != FsStatus::CrossDevice) {
      kept(fs, moved, why);
      return Rc::CannotWrite;
    }
  }
  // A copy with the safety of every copy; the original goes only when it is moved.
  if (kept(fs, fs.getAttributes(path, &a), why) != FsStatus::Ok) return Rc::CannotWrite;
  constexpr uint32_t kKept = attr::ReadOnly | attr::Hidden | attr::System | attr::Archive;
  uint32_t attributes = (a & kKept) ? (a & kKept) : attr::Normal;
  CopyOptions options;
  options.start = backupStart;
  options.mayReplace = false;
  CopyOutcome copied;
  if (copyFile(fs, destination.c_str(), path, attributes, options, &copied) != Rc::Ok) {
    if (why && copied.failure.failed()) *why = copied.failure;
    return Rc::CannotWrite;
  }
  if (keepOriginal) {
    if (backup) *backup = destination;
    return Rc::Ok;
  }
  if (kept(fs, fs.deleteFile(path), why) != FsStatus::Ok) {
    discardTemporary(fs, destination.c_str());  // the original stays: no second copy of it
    return Rc::CannotWrite;
  }
  return Rc::Ok;
}

// Moves everything in folder into the backup folder, file by file, and removes the folders it
// empties (folder itself stays).
Rc backupContents(Fs& fs, const DiscardPolicy& policy, const std::u16string& folder,
                  size_t relativeStart, const CancelFlag* cancel, size_t depth, FsFailure* why) {
  if (depth > kMaxFolderDepth) return Rc::CannotWrite;
  std::u16string pattern = folder + kPathSeparator + u"*";
  std::vector<FindEntry> entries;
  FindHandle handle;
  FindEntry entry;
  FsStatus status = fs.findFirst(pattern.c_str(), &handle, &entry);
  if (status == FsStatus::NotFound) return Rc::Ok;
  if (kept(fs, status, why) != FsStatus::Ok) return Rc::CannotWrite;
  // Listed whole first: the moves below change the folder being listed.
  try {
    do {
      const char16_t* n = entry.name;
      bool dots = n[0] == u'.' && (n[1] == 0 || (n[1] == u'.' && n[2] == 0));
      if (!dots) entries.push_back(entry);
    } while ((status = fs.findNext(handle, &entry)) == FsStatus::Ok);
    if (status != FsStatus::NoMoreFiles) kept(fs, status, why);
  } catch (const std::bad_alloc&) {
    status = FsStatus::IoError;
  }
  fs.findClose(handle);
  if (status != FsStatus::NoMoreFiles) return Rc::CannotWrite;

  for (const FindEntry& e : entries) {
    if (isCancelled(cancel)) return Rc::CannotWrite;  // the folder is not empty
    std::u16string child = folder + kPathSeparator + e.name;
    if (child.size() + 1 > kPathBufferUnits || (e.attributes & attr::Device))
      return Rc::CannotWrite;
    bool link = (e.attributes & attr::ReparsePoint) != 0;
    Rc rc;
    if ((e.attributes & attr::Directory) && !link) {
      rc = backupContents(fs, policy, child, relativeStart, cancel, depth + 1, why);
      if (rc == Rc::Ok && kept(fs, fs.removeDirectory(child.c_str()), why) != FsStatus::Ok)
        rc = Rc::CannotWrite;
    } else if (!link && (e.attributes & attr::ReadOnly)) {
      rc = Rc::CannotWrite;  // as a deletion: a read-only file stays
      if (why) *why = FsFailure{FsStatus::AccessDenied, 0};
    } else {
      rc = backupFile(fs, policy, child.c_str(), relativeStart, false, nullptr, why);
    }
    if (rc != Rc::Ok) return rc;
  }
  return Rc::Ok;
}

}  // namespace

std::u16string discardStamp(int year, int month, int day, int hour, int minute, int second) {
  std::u16string out = u" ";
  putNumber(out, year, 4);
  out += u'-';
  putNumber(out, month, 2);
  out += u'-';
  putNumber(out, day, 2);
  out += u' ';
  putNumber(out, hour, 2);
  putNumber(out, minute, 2);
  putNumber(out, second, 2);
  return out;
}

std::u16string discardStampNow() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return discardStamp(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
}

size_t storedNameSize(std::u16string_view name) {
  size_t size = 0;
  for (size_t i = 0; i < name.size(); i += codePointUnits(name, i)) size += storedUnits(name, i);
  return size;
}

std::u16string stampedName(const std::u16string& name, const std::u16string& stamp, int copy) {
  size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || dot == 0) dot = name.size();
  std::u16string tail = stamp;
  if (copy > 1) {
    tail += u" (";
    std::u16string digits;
    for (int n = copy; n > 0; n /= 10)
      digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    tail += digits + u")";
  }
  // A name that would pass what one entry may hold loses the end of its part before the
  // extension, whole characters at a time; the stamp and the extension stay. An extension
  // too long to leave room for one character of the name is taken as part of the name.
  size_t room = kLongestNameOnDisk - std::min(kLongestNameOnDisk, storedNameSize(tail));
  std::u16string_view view(name);
  if (storedNameSize(view.substr(dot)) >= room) dot = name.size();
  size_t extension = storedNameSize(view.substr(dot));
  size_t keep = 0;  // units of the name part kept
  for (size_t used = 0; keep < dot;) {
    size_t next = storedUnits(view, keep);
    if (used + next + extension > room) break;
    used += next;
    keep += codePointUnits(view, keep);
  }
  return name.substr(0, keep) + tail + name.substr(dot);
}

Rc discardEntry(Fs& fs, const DiscardPolicy& policy, char16_t* path, size_t relativeStart,
                const CancelFlag* cancel, FsFailure* why) {
  try {
    if (pathRunsThroughLink(fs, path, relativeStart)) return Rc::CannotWrite;
    uint32_t a = 0;
    if (kept(fs, fs.getAttributes(path, &a), why) != FsStatus::Ok || (a & attr::Device))
      return Rc::CannotWrite;
    bool link = (a & attr::ReparsePoint) != 0;
    bool folder = (a & attr::Directory) != 0;
    if (policy.backupRoot.empty()) {
      if (!policy.recycleBin) return Rc::CannotWrite;
      return kept(fs, fs.moveToRecycleBin(path), why) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
    }
    if (!folder || link) {
      if (!link && (a & attr::ReadOnly)) {
        if (why) *why = FsFailure{FsStatus::AccessDenied, 0};  // as a deletion
        return Rc::CannotWrite;
      }
      return backupFile(fs, policy, path, relativeStart, false, nullptr, why);
    }
    std::u16string top(path);
    Rc rc = backupContents(fs, policy, top, relativeStart, cancel, 0, why);
    if (rc != Rc::Ok) return rc;
    return kept(fs, fs.removeDirectory(path), why) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
  } catch (const std::bad_alloc&) {
    return Rc::CannotWrite;
  }
}

Rc discardBeforeReplace(Fs& fs, const DiscardPolicy& policy, const char16_t* path,
                        size_t relativeStart, std::u16string* backup, FsFailure* why) {
  try {
    backup->clear();
    if (policy.backupRoot.empty()) {
      if (!policy.recycleBin) return Rc::CannotWrite;
      return kept(fs, fs.moveToRecycleBin(path), why) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
    }
    return backupFile(fs, policy, path, relativeStart, true, backup, why);
  } catch (const std::bad_alloc&) {
    return Rc::CannotWrite;
  }
}

void dropBackup(Fs& fs, const std::u16string& backup, const char16_t* path) {
  if (backup.empty() || fs.deleteFile(backup.c_str()) == FsStatus::Ok) return;
  // A read-only file: a link shares its attributes with the file at path, which keeps them.
  uint32_t a = 0;
  if (fs.getAttributes(path, &a) != FsStatus::Ok ||
      fs.setAttributes(backup.c_str(), attr::Normal) != FsStatus::Ok)
    return;
  fs.deleteFile(backup.c_str());
  fs.setAttributes(path, a);
}

namespace {

bool contains(const std::vector<FileIdentity>& ids, const FileIdentity& id) {
  for (const FileIdentity& x : ids)
    if (x == id) return true;
  return false;
}

// prepareBackupFolder, or with create false its checks alone: a missing folder then passes,
// judged by the folders above it.
Rc backupFolder(Fs& fs, const std::u16string& folder, const SideInput& source,
                const SideInput& target, bool create, std::u16string* longForm,
                std::string* why) {
  try {
    std::u16string full;
    if (folder.empty() || fs.fullPath(folder.c_str(), &full) != FsStatus::Ok) {
      *why = "the backup folder " + toUtf8Escaped(folder) + " is not a path";
      return Rc::BadRequest;
    }
    Scratch scratch;
    if (!scratch.units) return Rc::OutOfMemory;
    size_t n = toLongPath(scratch.units.get(), kPathBufferUnits, full.c_str());
    if (n == 0) {
      *why = "the backup folder's path is too long";
      return Rc::BadRequest;
    }
    if (n > 1 && scratch.units[n - 1] == kPathSeparator && scratch.units[n - 2] != u':')
      scratch.units[--n] = 0;
    std::u16string dir(scratch.units.get(), n);
    // Which root the folder would lie in, or hold: asked before it is made and again after.
    auto overlap = [&](std::string* root) {
      std::vector<FileIdentity> backupAndUp = identitiesUp(fs, dir);
      FileIdentity backup;
      bool backupThere = fs.identify(dir.c_str(), &backup) == FsStatus::Ok;
      for (const SideInput* side : {&source, &target}) {
        if (side->hasSavedFile()) continue;
        for (const std::u16string& r : side->roots) {
          if (r.empty() || toLongPath(scratch.units.get(), kPathBufferUnits, r.c_str()) == 0)
            continue;
          std::u16string longRoot(scratch.units.get());
          FileIdentity id;
          bool rootThere = fs.identify(longRoot.c_str(), &id) == FsStatus::Ok;
          if ((rootThere && contains(backupAndUp, id)) ||
              (backupThere && contains(identitiesUp(fs, longRoot), backup))) {
            *root = toUtf8Escaped(r);
            return true;
          }
        }
      }
      return false;
    };
    auto refuse = [&](const std::string& root) {
      *why = "the backup folder " + toUtf8Escaped(full) + " must lie outside the synced folder " +
             root + ", and hold none of them";
      return Rc::BadRequest;
    };
    std::string root;
    if (overlap(&root)) return refuse(root);
    uint32_t a = 0;
    FsStatus there = fs.getAttributes(dir.c_str(), &a);
    if (there == FsStatus::NotFound && !create) {
      // Made by the sync that needs it.
    } else if (there == FsStatus::NotFound) {
      // Only the folder itself is made: nothing is written outside it.
      if (fs.createDirectory(dir.c_str()) != FsStatus::Ok) {
        *why = "the backup folder " + toUtf8Escaped(full) +
               " cannot be created (its parent folder must exist)";
        return Rc::CannotWrite;
      }
      if (overlap(&root)) {  // a missing root below it
        fs.removeDirectory(dir.c_str());
        return refuse(root);
      }
    } else if (there != FsStatus::Ok || !(a & attr::Directory)) {
      *why = "the backup folder " + toUtf8Escaped(full) + " is not a folder";
      return Rc::BadRequest;
    }
    *longForm = dir;
    return Rc::Ok;
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
}

}  // namespace

Rc prepareBackupFolder(Fs& fs, const std::u16string& folder, const SideInput& source,
                       const SideInput& target, std::u16string* longForm, std::string* why) {
  return backupFolder(fs, folder, source, target, true, longForm, why);
}

Rc checkBackupFolder(Fs& fs, const std::u16string& folder, const SideInput& source,
                     const SideInput& target, std::string* why) {
  std::u16string longForm;
  return backupFolder(fs, folder, source, target, false, &longForm, why);
}

}  // namespace fw
