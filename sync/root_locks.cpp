#include "sync/root_locks.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

#include "core/root_overlap.h"
#include "core/temporary_name.h"
#include "platform/long_path.h"
#include "platform/text.h"
#include "sync/file_ops.h"

namespace fw {
namespace {

constexpr auto kRetryEvery = std::chrono::milliseconds(100);

// Cuts the last name off a long-form path; false at the volume's top (or the long form's
// prefix), which is left as it is.
bool cutLastName(std::u16string* path) {
  size_t cut = path->find_last_of(kPathSeparator);
  if (cut == std::u16string::npos) return false;
  if (cut < 4 && path->compare(0, 4, u"\\\\?\\") == 0) return false;
  bool top = cut == 0 || (*path)[cut - 1] == u':';
  if (top && cut + 1 >= path->size()) return false;
  path->resize(top ? cut + 1 : cut);
  return true;
}

}  // namespace

void addRootUses(const SideInput& side, int sideIndex, bool changes,
                 std::vector<FolderUse>* uses) {
  if (side.hasSavedFile()) return;
  for (size_t row = 0; row < side.roots.size(); ++row) {
    const std::u16string& root = side.roots[row];
    if (root.empty()) continue;
    std::u16string name = u"row " + toUtf16(std::to_string(row + 1)) +
                          (sideIndex == 0 ? u": the source " : u": the target ") + root;
    uses->push_back(FolderUse{root, changes, std::move(name)});
  }
}

std::u16string folderOfFile(Fs& fs, const std::u16string& path) {
  if (path.empty()) return path;
  std::u16string folder = longForm(fs, path);
  if (!cutLastName(&folder)) folder.clear();
  return folder;
}

void addOutputUse(Fs& fs, const std::u16string& path, std::vector<FolderUse>* uses) {
  std::u16string folder = folderOfFile(fs, path);
  if (folder.empty()) return;
  uses->push_back(FolderUse{fromLongPath(folder.c_str()), true,
                            u"the folder of the output file " + path});
}

bool syncChangesSide(const MarkMasks& masks, int side) {
  return (side == 0 ? masks.targetWins : masks.sourceWins) != 0;
}

Rc RootLocks::take(Fs& fs, const std::vector<FolderUse>& uses, int waitMs) {
  release();
  refusal_.clear();
  refusedPath_.clear();
  try {
    // The folders, one per identity: the nearest existing folder of each use.
    struct Wanted {
      FileIdentity id;
      std::u16string path;
      bool changes;
      const FolderUse* use;
    };
    std::vector<Wanted> wanted;
    bool complete = true;
    for (const FolderUse& use : uses) {
      std::u16string dir = longForm(fs, use.path);
      FileIdentity id;
      // Up only past what is not there: a folder that cannot be examined is not locked.
      while (!dir.empty()) {
        FsStatus status = fs.identify(dir.c_str(), &id);
        if (status == FsStatus::Ok) break;
        if (status != FsStatus::NotFound || !cutLastName(&dir)) dir.clear();
      }
      if (dir.empty()) {
        complete = false;
        continue;
      }
      auto same = std::find_if(wanted.begin(), wanted.end(),
                               [&](const Wanted& w) { return w.id == id; });
      if (same == wanted.end()) {
        wanted.push_back(Wanted{id, dir, use.changes, &use});
      } else if (use.changes && !same->changes) {
        same->changes = true;
        same->use = &use;  // a refusal names the use that would change it
      }
    }
    locks_.reserve(wanted.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    fs_ = &fs;
    for (;;) {
      const Wanted* busy = nullptr;
      bool all = complete;
      for (const Wanted& w : wanted) {
        FolderLock lock;
        FsStatus status = fs.lockFolder(w.path.c_str(), w.changes, &lock);
        if (status == FsStatus::Ok) {
          locks_.push_back(Held{w.id, lock});
        } else if (status == FsStatus::InUse) {
          busy = &w;
          break;
        } else {
          all = false;  // no lock here (none on this system, or the folder cannot be opened)
        }
      }
      if (!busy) {
        complete_ = all;
        return Rc::Ok;
      }
      // All or none: a run that waits holds nothing another run may wait for.
      release();
      fs_ = &fs;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) {
        fs_ = nullptr;
        refusal_ = busy->use->name + u" is " + toUtf16(kFolderInUse);
        refusedPath_ = busy->use->path;
        return Rc::BadRequest;
      }
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          kRetryEvery, deadline - now));
    }
  } catch (const std::bad_alloc&) {
    release();
    return Rc::OutOfMemory;
  }
}

void RootLocks::release() {
  if (fs_)
    for (Held& h : locks_) fs_->unlockFolder(&h.lock);
  locks_.clear();
  fs_ = nullptr;
  complete_ = false;
}

Rc lockForJob(const SyncRequest& request, const char16_t* output, RootLocks* locks) {
  if (request.rootsLocked) return Rc::Ok;
  std::vector<FolderUse> uses;
  try {
    if (output) {
      addRootUses(*request.source, 0, false, &uses);
      addOutputUse(*request.fs, output, &uses);
    } else {
      addRootUses(*request.source, 0, syncChangesSide(request.masks, 0), &uses);
      addRootUses(*request.target, 1, syncChangesSide(request.masks, 1), &uses);
    }
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  Rc rc = locks->take(*request.fs, uses);
  if (rc == Rc::BadRequest && request.failures)
    request.failures->push_back(EntryFailure{locks->refusedPath(), kFolderInUse});
  return rc;
}

bool RootLocks::leftoversIn(const char16_t* folder) const {
  if (!held()) return false;
  FileIdentity id;
  if (fs_->identify(folder, &id) != FsStatus::Ok) return false;
  for (const Held& h : locks_)
    if (h.id == id) return true;
  // A folder inside ours that another run holds for a change: its temporary files are that
  // run's. Probed with a shared lock, given back at once.
  FolderLock probe;
  if (fs_->lockFolder(folder, false, &probe) != FsStatus::Ok) return false;
  fs_->unlockFolder(&probe);
  return true;
}

void removeTemporaryFiles(Fs& fs, const std::u16string& folder, uint64_t before,
                          std::vector<std::u16string>* removed) {
  std::u16string path = folder;
  if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
  const size_t end = path.size();
  FindHandle find;
  FindEntry entry;
  if (fs.findFirst((path + u"*").c_str(), &find, &entry) != FsStatus::Ok) return;
  std::vector<std::u16string> found;
  do {
    if (isTemporaryName(entry.name) && !(entry.attributes & attr::Directory) &&
        entry.modified < before) {
      path.resize(end);
      found.push_back(path + entry.name);
    }
  } while (fs.findNext(find, &entry) == FsStatus::Ok);
  fs.findClose(find);
  for (const std::u16string& file : found) {
    discardTemporary(fs, file.c_str());
    uint32_t a;
    if (fs.getAttributes(file.c_str(), &a) == FsStatus::NotFound) removed->push_back(fromLongPath(file.c_str()));
  }
}

}  // namespace fw
