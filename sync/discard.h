// What a sync does with a file it deletes or replaces when the user keeps old versions: moves
// it into a backup folder, under its path below its row's root and with the run's time stamp
// in its name ("report 2026-12-07 101530.txt"), or into the system's recycle bin, instead of
// destroying it.
//
// Nothing is lost on the way: an entry that cannot be moved stays where it was, and the
// operation that wanted it gone fails. Moving is a rename where the backup folder is on the
// same volume; elsewhere a copy (to a temporary name, then renamed, as every copy of a sync)
// followed by the removal of the original. A file about to be replaced is not moved but given
// a second name in the backup folder (or copied there), so that its own name never stands
// empty between the two steps. Nothing is written outside the backup folder, and
// never through a link inside it.
#ifndef FERRYWICK_SYNC_DISCARD_H
#define FERRYWICK_SYNC_DISCARD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/result.h"
#include "platform/fs.h"

namespace fw {

struct DiscardPolicy {
  // The backup folder in long form (toLongPath), without a trailing separator; empty: none.
  std::u16string backupRoot;
  // Into the recycle bin (Fs::moveToRecycleBin) instead, where there is no backup folder.
  bool recycleBin = false;
  // Put before the extension of every name moved into the backup folder: " 2026-12-07 101530".
  std::u16string stamp;
  bool active() const { return !backupRoot.empty() || recycleBin; }
};

// The stamp of a run started at the given local time: " YYYY-MM-DD HHMMSS".
std::u16string discardStamp(int year, int month, int day, int hour, int minute, int second);
// The stamp of now, in local time.
std::u16string discardStampNow();

// The most one name may take on disk: bytes of its UTF-8 form on POSIX, UTF-16 units on
// Windows.
inline constexpr size_t kLongestNameOnDisk = 255;
// What name takes on disk, in those units.
size_t storedNameSize(std::u16string_view name);

// A name with the stamp before its extension: "a.txt" -> "a 2026-12-07 101530.txt"; a name
// without one, or whose only dot leads it (".profile"), gets the stamp at its end. copy > 1
// adds " (copy)" after the stamp, for a name that the backup folder holds already. A result
// that would not fit kLongestNameOnDisk is made to: the part before the extension loses whole
// characters from its end (never the stamp, the copy number or the extension, unless the
// extension alone leaves no room, when it counts as part of that name), so that a file whose
// name is already near the limit can still be kept.
std::u16string stampedName(const std::u16string& name, const std::u16string& stamp, int copy = 1);

// Moves the entry at path (a PathBuffer; a file, a link, or a folder and everything in it, as
// the entry on disk is) out of the sync's way as the policy says. relativeStart is where the part below the
// row's root begins in path (after the root's separator); in the backup folder the entry takes
// that relative path. A folder's files are moved one by one, each with a stamped name, and its
// emptied folders removed. Ok; CannotWrite when the entry, or in a folder the first entry that
// could not be moved, stays (a read-only file, an entry listed as attr::Device, a full disk, a
// link on the way, the cancel flag); what was moved before stays moved. On CannotWrite, *why
// (when given) holds the file-system call that failed, where one did (a read-only file counts
// as AccessDenied, as it would for a deletion); the same in discardBeforeReplace.
Rc discardEntry(Fs& fs, const DiscardPolicy& policy, char16_t* path, size_t relativeStart,
                const CancelFlag* cancel, FsFailure* why = nullptr);

// For a replacement: keeps the old file at path as the policy says before the new version
// takes its place. With a backup folder the old file stays at path, so that the name is never
// empty, and the folder receives a hard link to it (a second name of the same file), or a
// copy where no link can be made (another volume, a file system without them); the
// replacement then renames the new version over path, which leaves the old one in the backup
// folder alone. *backup receives the backup's path (for dropBackup, should the new version
// fail to take its place). Into the recycle bin the old file is moved: path is empty until
// the new version takes it, and *backup stays empty.
Rc discardBeforeReplace(Fs& fs, const DiscardPolicy& policy, const char16_t* path,
                        size_t relativeStart, std::u16string* backup, FsFailure* why = nullptr);
// Removes the backup discardBeforeReplace made of the file at path, which stays as it is.
void dropBackup(Fs& fs, const std::u16string& backup, const char16_t* path);

// Refuses a backup folder that lies inside a root of either side, or holds one, or whose
// parent does not exist; creates the folder itself when it is missing. On success *longForm is
// the folder's long form for DiscardPolicy::backupRoot. *why says what is wrong otherwise.
Rc prepareBackupFolder(Fs& fs, const std::u16string& folder, const SideInput& source,
                       const SideInput& target, std::u16string* longForm, std::string* why);
// The same refusals without making anything, for a folder the user is choosing: Ok also for
// a folder that does not exist yet (its parent is checked when a sync makes it).
Rc checkBackupFolder(Fs& fs, const std::u16string& folder, const SideInput& source,
                     const SideInput& target, std::string* why);

}  // namespace fw

#endif  // FERRYWICK_SYNC_DISCARD_H
