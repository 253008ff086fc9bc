// Whether an entry is still what the comparison saw. Between a comparison and its sync other
// programs go on writing; a sync acts only on the versions the user was shown. Immediately
// before it replaces, deletes, renames or sets attributes of an entry, it looks at the entry
// on disk once (Fs::getEntryStamp) and compares it with the side the comparison recorded in the
// node; whatever differs is left alone, named and counted as failed, and a new comparison then
// shows it. One look per entry that changes, none for the entries left as they are.
#ifndef FERRYWICK_SYNC_AS_COMPARED_H
#define FERRYWICK_SYNC_AS_COMPARED_H

#include "core/file_node.h"
#include "core/result.h"
#include "platform/fs.h"
#include "sync/failure_text.h"  // the reasons a run gives the entries these checks leave alone

namespace fw {

// Whether the entry at path is the one the comparison recorded (recorded, folder: the node's
// side and whether it is a folder). A folder must still be a folder and not a link; a file
// must be neither a folder nor a special entry, and have the recorded size and last-write
// time to the tick (it was read from the same file system; the 2-second tolerance is only
// for telling two sides apart). Ok: it is, or the file system cannot say (Unsupported: as
// without the check). Failed: it is not, or nothing is there now. CannotOpen: it cannot be
// examined; *why (when given) says why.
Rc checkAsCompared(Fs& fs, const char16_t* path, const SideInfo& recorded, bool folder,
                   FsFailure* why = nullptr);

// Whether the stamp of an open file is the version recorded: its size and last-write time.
inline bool isRecordedVersion(const FileStamp& stamp, const SideInfo& recorded) {
  return stamp.size == recorded.size && stamp.modified == recorded.modified;
}

// Whether a file just opened for reading (opened: its stamp) is still the entry its path names,
// where the comparison saw a file there and no link: one swapped for a link between the look
// and the open (to a file elsewhere, given the recorded size and time) is not read. A link the
// comparison saw is read as what it leads to, as it was compared. One look at the path.
// comparedAsLink: the node's linkFlag of that side.
bool openedAsCompared(Fs& fs, const char16_t* path, const FileStamp& opened, bool comparedAsLink);

}  // namespace fw

#endif  // FERRYWICK_SYNC_AS_COMPARED_H
