// The operations a sync performs on single files and folders: copying a file with its time and
// attributes, removing a folder tree, creating a folder with its missing ancestors, finding the
// node a relative path of a difference file names, and the four entry actions of the sync walk.
//
// Paths are PathBuffers (kPathBufferUnits units) in the form toLongPath() gives a root, then
// kPathSeparator and names. Operations that descend extend the caller's buffer in place and
// cut it back before they return. Every file access goes through the Fs handed in.
//
// Links. A symbolic link (or junction) to a file is itself the entry: replacing it renames the
// new file over the link, deleting it unlinks the link, and its target is never touched. A
// link to a folder is never entered. The operations that take a start index (where the part
// below the sync's root begins in the path; 0 when the caller vouches for the whole path)
// refuse to act when a folder on the path below the root is a link, since what lies below it
// is elsewhere: a copy gives CannotOpen, a deletion CannotWrite, and createFolder and
// updateAttributes do nothing. These checks name the cause early; that a folder swapped for a
// link after them is not followed either is the Fs's part, for the roots a job adds
// (Fs::addRoot): the call then fails (AccessDenied) and the operation with it.
//
// A file is never written in place. A copy goes to a temporary file in the destination's own
// folder and replaces the destination only once it is complete and stamped with its time;
// when anything fails, or the run is cancelled, the temporary file is removed and the old
// destination stays as it was. Temporary names look like "~fw0123456789abcdef.fwtmp": a fixed
// prefix and suffix around 16 random hexadecimal digits, checked to be free before use, so that
// they cannot meet a user's file in practice and a leftover one (after a crash or power loss)
// is recognisable by isTemporaryName() and by an ignore pattern "*.fwtmp".
#ifndef FERRYWICK_SYNC_FILE_OPS_H
#define FERRYWICK_SYNC_FILE_OPS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/cancel_flag.h"
#include "core/file_node.h"
#include "core/result.h"
#include "core/temporary_name.h"
#include "platform/fs.h"

namespace fw {

struct DiscardPolicy;  // discard.h

// The unit in which file data move.
inline constexpr uint32_t kCopyBlockSize = 65536;


// Creates a temporary file in the folder of destination under a name nothing holds (a fresh
// one is drawn when the first is taken), with attributes and, until it is complete, the
// owner's permissions alone; its path goes into out. False when destination
// has no folder part, the path would not fit (*why, when given: InvalidName), or the file
// cannot be created (*why: the failure of the creation).
bool createTemporary(Fs& fs, const char16_t* destination, uint32_t attributes,
                     std::span<char16_t> out, FileHandle* file, FsFailure* why = nullptr);

// Removes a temporary file, whatever its attributes.
void discardTemporary(Fs& fs, const char16_t* temporary);

// How a file is copied and put in place. start: where the part below the sync's root begins
// in the destination's path (0 when the caller vouches for the whole path; see Links above).
// mayReplace false: the file is new on that side, and an existing destination of any spelling
// is left alone. discard: with an active policy, an existing destination is moved out of the
// way as it says (discard.h) rather than lost. progress grows by every block written; cancel
// stops a copy (neither is read by installTemporary).
struct CopyOptions {
  std::atomic<uint64_t>* progress = nullptr;
  const CancelFlag* cancel = nullptr;
  size_t start = 0;
  bool mayReplace = true;
  const DiscardPolicy* discard = nullptr;
  // What the comparison recorded of the source and of the destination (as_compared.h), when
  // the copy carries out a sync of compared entries: a source that is not that version is not
  // copied, a destination that is not is not replaced. Null: not looked at (and the copy of
  // a file new on its side needs no look: its rename never replaces anything).
  const SideInfo* sourceAsCompared = nullptr;
  const SideInfo* destinationAsCompared = nullptr;
  bool sourceComparedAsLink = false;  // the source was a link to a file (SourceLink, TargetLink)
};

// Puts a finished temporary file in place of destination in one rename. An existing
// destination file is replaced even when it is read-only, hidden or system; if the rename
// fails, its attributes are put back and it stays as it was. *replacedOld tells whether an
// existing destination was replaced. Returns CannotWrite when the rename fails; the temporary
// file is then still there, for the caller to discard. Without options.mayReplace (a file that
// is new on that side), an existing destination of any spelling is left alone: CannotWrite.
// With an active discard policy, an existing destination is first kept as the policy says
// (options.start: where its path below the root begins): a backup folder receives a link to
// it or a copy while it stays in place until the rename replaces it, so that its name never
// stands empty; the recycle bin receives the file itself. When that fails, nothing changes
// (CannotWrite); when the new file then cannot take its place, the backup is removed again
// (the old file is still there). On CannotWrite, *why (when given) says which file-system
// call failed.
Rc installTemporary(Fs& fs, const char16_t* temporary, const char16_t* destination,
                    bool* replacedOld, const CopyOptions& options = {}, FsFailure* why = nullptr);

struct CopyOutcome {
  bool replacedOld = false;  // an existing destination was replaced by the copy
  bool cancelled = false;    // the cancel flag stopped the copy; nothing was changed
  // When the result is not Ok: the file-system call that made it so, with the system's error
  // (status Ok when none did: no memory, a link on the destination's path).
  FsFailure failure;
  // Result Failed: why the copy was left undone (kChangedSinceComparison,
  // kChangedWhileCopied), and whether the source (else the destination) is the entry that is
  // not the version the copy was to be of.
  const char* changed = nullptr;
  bool changedSource = false;
};

// Copies source to destination, giving the new file attributes (attr:: bits), the source's
// permission bits 0777 where the system has them (with the read-only state of attributes on
// top; set-uid, set-gid and sticky are not carried, since the copy belongs to whoever runs the
// sync) and the source's last-write time as all three of its times; a POSIX access list of the
// source goes with it (Fs::copyAccessList: where the target keeps none, the bits are narrowed
// so that nobody may do more than the list lets them). A sparse source's holes stay holes
// where the system copies the data (Fs::copyData). The temporary file is the
// owner's alone (0600) until it is complete. options.progress grows by every block written.
// The copy is of one version of the source: its size, last-write time and change time are
// read from the open file before and after (Fs::getFileStamp), and a source that changed
// while it was read, or is not options.sourceAsCompared, is not copied; neither is one over a
// destination that is not options.destinationAsCompared, looked at just before the rename.
// Results:
// Failed (one of these: outcome->changed says which), OutOfMemory (nothing opened), CannotOpen (the source cannot be opened, or the temporary file
// cannot be created), CannotWrite (a read or write fails, the time cannot be set, or the
// destination cannot be replaced, or exists and options.mayReplace is false). On every result
// but a completed Ok the destination is as it was before and no temporary file remains; a
// copy cancelled by options.cancel returns Ok. With options.discard, the old destination is
// kept as installTemporary says. *outcome, when given, says how it went.
Rc copyFile(Fs& fs, const char16_t* destination, const char16_t* source, uint32_t attributes,
            const CopyOptions& options = {}, CopyOutcome* outcome = nullptr);

// Removes the folder whose path (length units, no trailing separator) is in the buffer, with
// everything in it. A symbolic link or junction, at the top or anywhere below, is removed
// itself and never entered. CannotWrite on the first entry that cannot be removed (a read-only
// file is not removed, nor an entry listed as attr::Device: a FIFO, socket, device or a link
// leading nowhere, which a comparison never offers to delete) or a folder that cannot be
// listed; what was removed before stays
// removed. A removal stopped by the cancel flag leaves the folder and returns CannotWrite for
// it, since it is not empty. On CannotWrite, *why (when given) holds the file-system call
// that failed, where one did (here and in the deletions below).
Rc deleteTree(Fs& fs, char16_t* path, size_t length, const CancelFlag* cancel,
              FsFailure* why = nullptr);

// Removes everything in the folder whose pattern (its path, kPathSeparator and "*";
// patternLength units with the asterisk) is in the buffer. Used by deleteTree and by itself.
// Returns Ok when the cancel flag stops it; CannotWrite for a folder more than
// kMaxFolderDepth levels below (depth counts the levels above this one).
Rc deleteFolderContents(Fs& fs, char16_t* pattern, size_t patternLength,
                        const CancelFlag* cancel, size_t depth = 0, FsFailure* why = nullptr);

// True when a folder on path (a PathBuffer, changed and restored) after index start is a link;
// the entry named last is not looked at. Always false for start 0.
bool pathRunsThroughLink(Fs& fs, char16_t* path, size_t start);

// Creates the folder at path (end units long) and its missing ancestors, outermost first.
// Nothing is created when the deepest folder that exists is a link. Failures are not
// reported: a later operation on the missing folder fails instead. Every folder created is
// added to *created when given, outermost first.
void createFolderChain(Fs& fs, char16_t* path, size_t end,
                       std::vector<std::u16string>* created = nullptr);

// The node named by the relative path that begins at index start of path (components
// separated by kPathSeparator, each in the source's exact spelling), looked up from siblings
// on, or null. A component whose entry the target spells in other letter case is rewritten in
// place to the target's spelling, so that the path names the target's entry.
// With createFolders, an intermediate folder flagged OnlyInSource is created on the way,
// unless a folder on its path from start on is a link. A
// component that is empty, "." or "..", or holds a character that separates or qualifies
// names on either system, names nothing: such a path cannot leave the folder it starts in.
// Every folder it creates is added to *created when given, outermost first.
FileNode* resolveRecordPath(Fs& fs, char16_t* path, size_t start, FileNode* siblings,
                            bool createFolders = true,
                            std::vector<std::u16string>* created = nullptr);

// Adds the folder path to *created (when given) after a createDirectory that made it. False
// only when that cannot be remembered (no memory): the caller then removes it again.
bool noteCreated(std::vector<std::u16string>* created, const char16_t* path);

// True when a name can be one entry of a folder on this build (see resolveRecordPath).
bool isPlainName(const char16_t* name, size_t length);

// The entry actions of the sync walk, each on the path of the side that changes.

// Removes a folder (node flagged Folder) with deleteTree, a file with a plain delete (a
// read-only file is not removed). A link is removed itself. Ok or CannotWrite.
Rc deleteEntry(Fs& fs, const FileNode* node, char16_t* path, const CancelFlag* cancel,
               size_t start = 0, FsFailure* why = nullptr);

// Creates one folder; an existing folder is not an error and nothing is reported. With source
// (the folder it stands for on the other side; a path its permission bits can be read from),
// a folder created here is the owner's alone (0700) until carryFolderPermissions gives it
// its source's bits, once what goes into it has been handed over.
void createFolder(Fs& fs, const char16_t* path, size_t start = 0,
                  const char16_t* source = nullptr);

// Gives the folder at path the permission bits of the folder at source, as a copy takes its
// source's: 0777 of them, never set-uid, set-gid or sticky (those the folder has stay as they
// are). The owner always keeps read, write and search, so that later syncs can still write
// into it (the owner could give himself these bits anyway: nobody gains access by them).
// Nothing happens where either has no bits, where a link lies on path below start, or where
// path is a link. Best effort, as for files: a file system without permission bits refuses
// them, and the folder is then as the system made it.
void carryFolderPermissions(Fs& fs, const char16_t* path, const char16_t* source,
                            size_t start = 0);

struct ReplaceOutcome {
  bool oldReplaced = false;  // an old destination existed and was replaced by the new version
  bool cancelled = false;    // stopped by the cancel flag before anything was changed
  Rc copyResult = Rc::Ok;
  FsFailure failure;  // why copyResult is not Ok, as CopyOutcome::failure
  const char* changed = nullptr;  // as CopyOutcome
  bool changedSource = false;
};

// Replaces destination (or creates it) by a copy of source with the attributes of attrByte.
// The old destination is kept until the copy is complete, so a failed or cancelled copy loses
// nothing. With options.discard, the old destination is moved out of the way (discard.h), not
// lost. The rest of the options as copyFile.
ReplaceOutcome replaceFile(Fs& fs, const char16_t* destination, const char16_t* source,
                           uint8_t attrByte, const CopyOptions& options);

// Gives destination the attributes of attrByte (other attribute bits stay) and reads them back.
// Ok when it has them now; CannotWrite when a call failed (*why, when given, says which) or a
// link lies on the path below the root (nothing is done); Failed when every call succeeded but
// the file system did not keep them (a read-only bit on a drive mounted without permissions,
// DOS bits where no extended attributes are stored), so that a later comparison would find the
// same difference again. (The letter case of the name is the sync walk's: it renames.) On a
// link, its target keeps its attributes (POSIX refuses to set attributes on a link; see
// Fs::setAttributes).
Rc updateAttributes(Fs& fs, const char16_t* destination, uint8_t attrByte, size_t start = 0,
                    FsFailure* why = nullptr);

// Whether anything is at the path: also an entry that cannot be read counts (only NotFound
// does not).
bool entryExists(Fs& fs, const char16_t* path);

}  // namespace fw

#endif  // FERRYWICK_SYNC_FILE_OPS_H
