// One run per folder: the locks a run takes on the folders it reads and changes (its roots, the
// folder of a file it saves), held from its start to its end, so that no second run of this
// program changes a folder another run reads or changes, or reads one another run changes.
// A run that only reads a folder shares it with other readers; one that changes it holds it
// alone (Fs::lockFolder). A folder held by another run is waited for briefly, then the run is
// refused before it has read or changed anything, with a sentence naming the folder.
//
// With every folder of a run locked, a temporary file of this program (temporary_name.h) found
// in them belongs to no running sync: it is a leftover of one that ended, to be removed at
// once. Where the system has no such lock the run goes on without one, and only temporary
// files older than an hour count as leftovers.
#ifndef FERRYWICK_SYNC_ROOT_LOCKS_H
#define FERRYWICK_SYNC_ROOT_LOCKS_H

#include <string>
#include <vector>

#include "core/comparison.h"
#include "core/result.h"
#include "platform/fs.h"
#include "sync/sync_request.h"

namespace fw {

// A folder a run uses, and how.
struct FolderUse {
  std::u16string path;  // as given; a folder that does not exist yet is locked through the
                        // nearest folder above it that does
  bool changes = false;  // exclusive; else shared with other readers
  std::u16string name;   // how a refusal names it: "row 1: the target /x/B"
};

// How long a run waits for a folder another run holds before it gives up (milliseconds).
inline constexpr int kLockWaitMs = 1500;

// Adds the folder roots of side (0 source, 1 target; a saved side has none, an empty root is
// skipped) to uses, changed or read.
void addRootUses(const SideInput& side, int sideIndex, bool changes,
                 std::vector<FolderUse>* uses);
// The folder that holds the file path, in long form; empty when there is none.
std::u16string folderOfFile(Fs& fs, const std::u16string& path);
// Adds the folder that holds the file path (a save's output and its temporary volumes), changed.
void addOutputUse(Fs& fs, const std::u16string& path, std::vector<FolderUse>* uses);
// Whether a sync with masks may change side (0 source, 1 target): when the other side wins any
// category. Judged from the masks alone, before the tree is marked: a side that might change is
// locked as changed.
bool syncChangesSide(const MarkMasks& masks, int side);

// The locks of one run. Released by release() or the destructor; not copied.
class RootLocks {
 public:
  RootLocks() = default;
  RootLocks(const RootLocks&) = delete;
  RootLocks& operator=(const RootLocks&) = delete;
  ~RootLocks() { release(); }

  // Locks the folder of every use (one lock per folder, whatever path leads to it; exclusive
  // when any use changes it), waiting up to waitMs while another run holds one, all or none.
  // Ok, also where the system has no lock (complete() then false). BadRequest when a folder
  // stayed held by another run: nothing is held then, and refusal() is a sentence that names
  // its use: "row 1: the target /x/B is in use by another run of this program (a sync, a
  // comparison or a save that has not finished)". OutOfMemory.
  Rc take(Fs& fs, const std::vector<FolderUse>& uses, int waitMs = kLockWaitMs);
  void release();
  // Whether take has succeeded and its locks are held.
  bool held() const { return fs_ != nullptr; }
  // Whether every folder of the run is locked: the temporary files in them are leftovers.
  bool complete() const { return held() && complete_; }
  // Whether a temporary file in the existing folder path belongs to no running run of this
  // program: the folder is one of ours, or no other run holds it for a change (a save's output
  // folder inside a compared tree). False while none is held.
  bool leftoversIn(const char16_t* folder) const;
  // After a refused take: the sentence, and the refused use's path; empty otherwise.
  const std::u16string& refusal() const { return refusal_; }
  const std::u16string& refusedPath() const { return refusedPath_; }

 private:
  struct Held {
    FileIdentity id;
    FolderLock lock;
  };
  Fs* fs_ = nullptr;
  std::vector<Held> locks_;
  bool complete_ = false;
  std::u16string refusal_;
  std::u16string refusedPath_;
};

// The words after a refused folder's name, for a failure log.
inline constexpr char kFolderInUse[] =
    "in use by another run of this program (a sync, a comparison or a save that has not "
    "finished)";

// For a job called without the caller's locks (request.rootsLocked false), takes into *locks
// those of a sync or an apply of request (syncChangesSide), or with output those of a save of
// its difference to that file (the source read, the output's folder changed); a refusal is
// named in request.failures (the refused folder and kFolderInUse). Ok at once when the caller
// holds them.
Rc lockForJob(const SyncRequest& request, const char16_t* output, RootLocks* locks);

// The temporary files of this program (isTemporaryName) directly in folder (long form, no
// trailing separator), last written before `before` (FILETIME ticks; UINT64_MAX: all), removed;
// their paths (without the long form's prefix) added to *removed. Folders and other names are left alone; a folder that cannot
// be listed removes nothing.
void removeTemporaryFiles(Fs& fs, const std::u16string& folder, uint64_t before,
                          std::vector<std::u16string>* removed);

}  // namespace fw

#endif  // FERRYWICK_SYNC_ROOT_LOCKS_H
