// The file-system interface the engine is written against.
//
// Every path is UTF-16 (char16_t), NUL-terminated, in the form the engine builds: a root made
// by toLongPath() (long_path.h) followed by kPathSeparator and names. The engine never calls the
// operating system directly; it receives an Fs in its context records, so a test can hand it a
// wrapper (forwarding_fs.h) that fails chosen calls.
//
// One implementation per operating system is compiled, chosen by CMake:
//   platform/win32/win32_fs.cpp  the wide-character Win32 calls (FindFirstFileW, CreateFileW, ...)
//   platform/posix/posix_fs.cpp  POSIX calls; UTF-16 converted to UTF-8 at the boundary, paths
//                                used exactly as spelled (names that differ only in letter case
//                                are two entries), DOS bits in user.DOSATTRIB
//
// Contracts common to every operation:
// - The result is an FsStatus. NotFound means the path (or one of its folders) does not exist;
//   it is never used for any other failure. Every failure leaves the raw OS error in
//   lastOsError() on the calling thread, for messages.
// - Handles are owned by the caller and closed with the matching close call exactly once.
// - Besides open handles (files and listings), an implementation keeps each thread's last OS
//   error and the lowerCaseTable() it builds on first use; the POSIX one also a process-wide
//   flag, set once, that the kernel lacks getxattrat (listings then read the DOS bits by path),
//   and reading the umask sets it to 077 for an instant, one thread at a time (another
//   thread's file created then gets the stricter mask). Both keep the roots added (addRoot)
//   for the process; the POSIX one also, per thread, the folders below them it opened last
//   (descriptors, let go of when a root is added or dropped or the program removes or renames
//   a folder, and when the thread ends). None of this changes what a call
//   does, so an implementation may be used from several threads at once as long as one handle
//   is used by one thread at a time.
#ifndef FERRYWICK_PLATFORM_FS_H
#define FERRYWICK_PLATFORM_FS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw {

enum class FsStatus : int {
  Ok = 0,
  NotFound,      // the path or a folder on it does not exist
  AccessDenied,  // permissions, a read-only file, a write-protected volume
  Exists,        // the object to be created exists already
  NoMoreFiles,   // findNext: the enumeration is complete
  DiskFull,
  NotEmpty,      // removeDirectory of a folder that still has entries
  InvalidName,   // a name the file system cannot hold, or a path that does not fit
  IoError,       // anything else
  Unsupported,   // this file system or build cannot do the operation; use another way
  CrossDevice,   // rename: the two paths lie on different volumes; copy instead
  InUse,         // another program has the file open or locked, or a folder mounted there
};

const char* fsStatusName(FsStatus status);

class Fs;

// Why a file-system call failed: its status and the system's error (Fs::lastOsError on the
// failing thread, read right after the call; 0 when there is none). Status Ok: nothing failed
// on the file system (the engine refused on its own, or ran out of memory).
struct FsFailure {
  FsStatus status = FsStatus::Ok;
  int osError = 0;
  bool failed() const { return status != FsStatus::Ok; }
};

// Keeps status, with the system's error of fs, in *why (when given) if it is a failure, and
// returns it: `if (kept(fs, fs.deleteFile(p), why) != FsStatus::Ok) ...`. To be called right
// after the call that gave status, on its thread.
FsStatus kept(const Fs& fs, FsStatus status, FsFailure* why);

// The words for a person, the one table of them: why a call failed ("the disk is full",
// "another program has it open", "access is denied", ...), with the system's own message
// added where the status alone says little (an error without a status of its own, a denial
// that may come from a read-only volume). Empty for Ok.
std::string fsFailureText(const FsFailure& why);
// A stable word for machines: "disk-full", "access-denied", "in-use", "invalid-name",
// "not-found", "exists", "not-empty", "io-error", "unsupported", "cross-device"; "other" for Ok
// (no file-system failure).
const char* fsStatusWord(FsStatus status);
// The system's message for one of its error codes (strerror, FormatMessageW), in UTF-8,
// without a final period or line end; empty for 0.
std::string osErrorText(int osError);

// File attribute bits, the values of the Win32 FILE_ATTRIBUTE_* constants.
namespace attr {
inline constexpr uint32_t ReadOnly = 0x01;
inline constexpr uint32_t Hidden = 0x02;
inline constexpr uint32_t System = 0x04;
inline constexpr uint32_t Directory = 0x10;
inline constexpr uint32_t Archive = 0x20;
inline constexpr uint32_t Device = 0x40;  // not a file or folder: see Fs::findFirst
inline constexpr uint32_t Normal = 0x80;
inline constexpr uint32_t ReparsePoint = 0x400;  // symbolic link or junction
}  // namespace attr

// Permission bits, the POSIX mode bits (0777 for owner, group and others; 07000 for set-uid,
// set-gid and sticky), for the calls that carry them. Windows has none.
inline constexpr uint32_t kOwnerOnly = 0600;
// Not bits but "what a file created the ordinary way gets": 0666 less the process's umask.
inline constexpr uint32_t kDefaultPermissions = 0x80000000u;

// Longest name one directory entry can have, in UTF-16 units, terminator included.
inline constexpr size_t kMaxNameUnits = 260;
// Capacity of a path buffer (PathBuffer) in UTF-16 units, terminator included.
inline constexpr size_t kPathBufferUnits = 32768;

#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// One directory entry as the enumeration reports it.
struct FindEntry {
  char16_t name[kMaxNameUnits];
  uint32_t attributes;  // attr:: bits
  uint64_t modified;    // last-write time, FILETIME ticks (100 ns since 1601-01-01 UTC)
  uint64_t size;        // bytes; 0 for a folder
};

// What identifies a folder on its volume, whatever path leads to it.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What tells one version of a file from another, for a check that it is still the version
// that was read or compared. changed is the system's change time (POSIX st_ctime, Windows
// ChangeTime): set at every change of the data or the metadata, and no program can set it
// back, so a writer that restores the old last-write time still changes it; 0 where it is not
// known. attributes: of an entry looked up by path (getEntryStamp), the attr:: bits Directory,
// ReparsePoint and Device as findFirst reports them; 0 for an open file.
struct FileStamp {
  uint64_t size = 0;      // bytes; 0 for a folder
  uint64_t modified = 0;  // last-write time, FILETIME ticks
  uint64_t changed = 0;   // change time, FILETIME ticks
  uint32_t attributes = 0;
  bool operator==(const FileStamp&) const = default;
};

using FileHandle = intptr_t;
using FindHandle = intptr_t;
inline constexpr intptr_t kInvalidHandle = -1;

// A lock on a folder that this process holds (Fs::lockFolder), until unlockFolder.
struct FolderLock {
  intptr_t handle = kInvalidHandle;
  bool held() const { return handle != kInvalidHandle; }
};

class Fs {
 public:
  virtual ~Fs() = default;

  // Enumeration of a folder. pattern is the folder's path followed by kPathSeparator and "*".
  // The entries "." and ".." may or may not be reported; callers skip them. On success *handle
  // is open and *entry holds the first entry. NotFound: the folder does not exist. Any other
  // failure: the folder exists (or may) but cannot be listed, which callers must not take for
  // an empty folder. A link or junction to a folder is reported with Directory|ReparsePoint.
  // An entry that is neither a file nor a folder (a FIFO, a socket, a block or character
  // device, a link to one of these, or a symbolic link whose target is missing or cannot be
  // examined, a link cycle among them) is reported with Device and without Directory, size 0:
  // callers leave it alone, since it holds no data to copy and cannot be recreated.
  // An entry whose name can be read but which cannot be examined (its type, size or time
  // refused) fails the listing, in findFirst or findNext, with AccessDenied or IoError; one
  // removed while the folder is listed is left out.
  virtual FsStatus findFirst(const char16_t* pattern, FindHandle* handle, FindEntry* entry) = 0;
  // Next entry, or NoMoreFiles at the end; any other status is a failed listing.
  virtual FsStatus findNext(FindHandle handle, FindEntry* entry) = 0;
  virtual void findClose(FindHandle handle) = 0;

  // Opens an existing file for reading; others may read it too. Only a regular file (or a link
  // to one) is opened: a folder, FIFO, socket or device gives a failure without ever blocking
  // or reading from it (AccessDenied for the entries listed as Device).
  virtual FsStatus openRead(const char16_t* path, FileHandle* file) = 0;
  // Creates a file for writing, replacing an existing one (its content is discarded), with the
  // given attr:: bits; others may read it. A read-only existing file gives AccessDenied, and so
  // does a path that the listing reports as Device (it is neither opened nor created through).
  virtual FsStatus createAlways(const char16_t* path, uint32_t attributes, FileHandle* file) = 0;
  // As createAlways, but the file gets the permission bits given (kDefaultPermissions: as
  // createAlways would), with the read-only state of attributes applied on top, from the
  // moment it exists: a new file is created with them and an existing one is given them before
  // anything is written. Where the system has no permission bits this is createAlways.
  virtual FsStatus createWithPermissions(const char16_t* path, uint32_t attributes,
                                         uint32_t permissions, FileHandle* file) {
    (void)permissions;
    return createAlways(path, attributes, file);
  }
  // As createWithPermissions, but only where nothing holds the name: Exists when anything
  // does (a file, a folder, a link, whether or not it leads anywhere), and nothing is opened or
  // changed then. Here in terms of the calls above; an implementation does it in one step, so
  // that nothing can take the name between the look and the creation.
  virtual FsStatus createNew(const char16_t* path, uint32_t attributes, uint32_t permissions,
                             FileHandle* file) {
    *file = kInvalidHandle;
    uint32_t a = 0;
    FsStatus there = getAttributes(path, &a);
    if (there == FsStatus::Ok) return FsStatus::Exists;
    if (there != FsStatus::NotFound) return there;
    return createWithPermissions(path, attributes, permissions, file);
  }
  // The permission bits (07777) of an open file, or of what a path leads to (NotFound when
  // there is nothing). Unsupported where the system has none.
  virtual FsStatus getFilePermissions(FileHandle file, uint32_t* permissions) {
    (void)file;
    *permissions = 0;
    return FsStatus::Unsupported;
  }
  virtual FsStatus getPermissions(const char16_t* path, uint32_t* permissions) {
    (void)path;
    *permissions = 0;
    return FsStatus::Unsupported;
  }
  // Gives a file open for writing the bits 0777 of permissions (or kDefaultPermissions), and
  // keeps its read-only state: a file without the owner's write bit gets no write bit at all,
  // one with it keeps it. Set-uid, set-gid and sticky are never set: the file belongs to
  // whoever runs the program, not to the owner of the file whose bits it takes. Unsupported
  // where the system has no permission bits.
  virtual FsStatus setFilePermissions(FileHandle file, uint32_t permissions) {
    (void)file;
    (void)permissions;
    return FsStatus::Unsupported;
  }
  // Gives the file open for writing to the access list that the open file from has beyond its
  // permission bits (POSIX ACLs), after setFilePermissions gave it from's bits, whose group
  // bits are then the list's mask and would let the owning group do what only the list's
  // named entries may. First to's group and other bits are narrowed so that nobody may do
  // more than the list lets them (access_list.h); then the list is given, where to's file
  // system takes it. Ok also when from has no list, or to's file system keeps none (the
  // narrowed bits stay). Unsupported where the system has no such lists.
  virtual FsStatus copyAccessList(FileHandle from, FileHandle to) {
    (void)from;
    (void)to;
    return FsStatus::Unsupported;
  }
  // Reads up to size bytes; *got is 0 at the end of the file.
  virtual FsStatus read(FileHandle file, void* buffer, uint32_t size, uint32_t* got) = 0;
  // Writes all size bytes or fails (DiskFull when the volume is full).
  virtual FsStatus write(FileHandle file, const void* data, uint32_t size) = 0;
  virtual FsStatus seek(FileHandle file, uint64_t offset) = 0;
  virtual FsStatus tell(FileHandle file, uint64_t* offset) = 0;
  virtual void close(FileHandle file) = 0;
  // Copies up to size bytes from the current position of from to that of to inside the
  // system, without passing them through a buffer of ours; *copied is 0 at the end of from.
  // Unsupported where the system cannot (the caller then reads and writes instead). A hole of
  // a sparse source (a stretch never written) is skipped in both files rather than written out
  // as zeros, and counts in *copied as the bytes it spans, where the file systems have holes.
  virtual FsStatus copyData(FileHandle from, FileHandle to, uint32_t size, uint32_t* copied) {
    (void)from;
    (void)to;
    (void)size;
    *copied = 0;
    return FsStatus::Unsupported;
  }

  // Last-write time of an open file, FILETIME ticks.
  virtual FsStatus getFileTime(FileHandle file, uint64_t* modified) = 0;
  // Size, last-write time and change time of an open file, all from one look at the file
  // itself (not at its folder's listing). Unsupported where the build cannot say; callers then
  // go without the check it serves.
  virtual FsStatus getFileStamp(FileHandle file, FileStamp* stamp) {
    (void)file;
    *stamp = FileStamp{};
    return FsStatus::Unsupported;
  }
  // The stamp of the entry at path as a listing of its folder reports it (findFirst): a link
  // to a file by what it leads to, with ReparsePoint; a link to a folder with Directory and
  // ReparsePoint; Device as there; size 0 for a folder; change time where the system
  // gives it in the same call, else 0. One look, never opening the entry. NotFound when
  // nothing is there; Unsupported where the build cannot say.
  virtual FsStatus getEntryStamp(const char16_t* path, FileStamp* stamp) {
    (void)path;
    *stamp = FileStamp{};
    return FsStatus::Unsupported;
  }
  // Sets the times of a file open for writing. Where a system keeps no creation time, that
  // value is dropped.
  virtual FsStatus setFileTimes(FileHandle file, uint64_t created, uint64_t accessed,
                                uint64_t modified) = 0;

  // Attributes of a file or folder; NotFound when it does not exist. Doubles as existence test.
  // A link is described by what it leads to, with ReparsePoint; Device as in findFirst.
  virtual FsStatus getAttributes(const char16_t* path, uint32_t* attributes) = 0;
  // Sets the attr:: bits ReadOnly, Hidden, System, Archive (Normal alone clears them all).
  // Never reaches what an entry points to: on POSIX, where a symbolic link has no attributes
  // of its own, a link gives AccessDenied and nothing changes; so does an entry listed as
  // Device. On Windows the link itself takes the bits.
  virtual FsStatus setAttributes(const char16_t* path, uint32_t attributes) = 0;

  // Deletes a file or a link to a file. A read-only file is not deleted (AccessDenied).
  virtual FsStatus deleteFile(const char16_t* path) = 0;
  // Renames from onto to. With replace, an existing file at to is replaced in one step (a link
  // to a file is replaced itself, its target untouched); a folder, a link to one and an entry
  // listed as Device are not replaced (AccessDenied). A file renamed onto its own name in other
  // letter case takes that case.
  virtual FsStatus rename(const char16_t* from, const char16_t* to, bool replace) = 0;
  // Gives the file at existing a second name, newPath, in the same volume: both names then
  // lead to the same data and attributes until one of them is removed or renamed over. A link
  // at existing is given the name itself (it is not followed). Exists when anything holds
  // newPath; CrossDevice when the two lie on different volumes; Unsupported where the file
  // system or build has no such names (the caller then copies instead).
  virtual FsStatus createHardLink(const char16_t* existing, const char16_t* newPath) {
    (void)existing;
    (void)newPath;
    return FsStatus::Unsupported;
  }
  // Creates one folder; its parent must exist. Exists when it is there already.
  virtual FsStatus createDirectory(const char16_t* path) = 0;
  // As createDirectory, but the folder has the permission bits 0777 of permissions from the
  // moment it exists (set-uid, set-gid and sticky never given). Where the system has no
  // permission bits this is createDirectory.
  virtual FsStatus createDirectoryWithPermissions(const char16_t* path, uint32_t permissions) {
    (void)permissions;
    return createDirectory(path);
  }
  // Gives the folder at path (never a link: AccessDenied, nothing changes) the bits 0777 of
  // permissions; its set-uid, set-gid and sticky bits are left as they are, neither set nor
  // cleared. Unsupported where the system has no permission bits.
  virtual FsStatus setFolderPermissions(const char16_t* path, uint32_t permissions) {
    (void)path;
    (void)permissions;
    return FsStatus::Unsupported;
  }
  // Removes an empty folder, or a link or junction to a folder without touching its target.
  virtual FsStatus removeDirectory(const char16_t* path) = 0;
  // Moves a file or a folder with everything in it into the system's recycle bin, from where
  // the user can put it back; without asking, without showing anything. A read-only file gives
  // AccessDenied and stays. Unsupported where the build has no recycle bin (POSIX).
  virtual FsStatus moveToRecycleBin(const char16_t* path) {
    (void)path;
    return FsStatus::Unsupported;
  }

  // The absolute form of a path given by a user (relative to the current folder), without
  // the long-path prefix.
  virtual FsStatus fullPath(const char16_t* path, std::u16string* full) = 0;
  // The identity of the folder a path leads to, following links.
  virtual FsStatus identify(const char16_t* path, FileIdentity* identity) = 0;
  // The absolute path of what an existing path leads to, with every link or junction along it
  // followed and its dots folded, in fullPath's form: the folders above it in that path are
  // the ones it really lies in. NotFound when nothing is there; Unsupported where the system
  // cannot say (callers then go by the path as given).
  virtual FsStatus resolvedPath(const char16_t* path, std::u16string* resolved) {
    (void)path;
    resolved->clear();
    return FsStatus::Unsupported;
  }
  // The bytes the calling user may still write on the volume that holds the existing folder
  // path. Unsupported where the system cannot say (callers then do without the check).
  virtual FsStatus freeSpace(const char16_t* path, uint64_t* bytes) {
    (void)path;
    *bytes = 0;
    return FsStatus::Unsupported;
  }

  // Takes a lock on the existing folder path for this program's runs: exclusive for a run that
  // changes it, shared for one that only reads it. Never waits: InUse when another holder's lock
  // does not allow it, also one taken by another thread of this process (two locks of one
  // process exclude each other like those of two). Nothing is written into the folder, links
  // are followed (every spelling of one folder takes one lock), and the lock ends with
  // unlockFolder or with the process. NotFound when nothing is there; Unsupported where the
  // system or file system has no such lock (callers then go on without one). Where shared locks
  // are weaker (Windows: a shared lock refuses only while an exclusive one is held, and an
  // exclusive one only while a shared one is) it says so.
  virtual FsStatus lockFolder(const char16_t* path, bool exclusive, FolderLock* lock) {
    (void)path;
    (void)exclusive;
    lock->handle = kInvalidHandle;
    return FsStatus::Unsupported;
  }
  // Ends a lock of lockFolder (one not held: nothing) and marks it not held.
  virtual void unlockFolder(FolderLock* lock) { lock->handle = kInvalidHandle; }
  // The roots of a run. A run names each folder it reads or writes below before it begins
  // (addRoot) and drops it when it ends (dropRoot); a root is given in the form the engine
  // builds its paths from (toLongPath, a final separator ignored), and a root added n times
  // is dropped after n drops. While a root is added, every call on a path below it (the root,
  // kPathSeparator and at least one name) reaches that path's folder from the root's folder
  // without following a link: the root itself may be a link (followed, as any path given by a
  // user), but a folder on the way below it that is a link (or junction), or has become one
  // since the comparison, fails the call with AccessDenied (the system's error says why, on
  // POSIX ELOOP), and nothing outside the root is read, listed, created, written, renamed,
  // deleted or given attributes through it. The folders on the way are held, not named
  // again, while the call works in them: a folder swapped for a link in that instant is not
  // followed either. A file named last that is a link to a file is still what it leads to for
  // openRead and createAlways, as above. The root is the root's own path: one reached over
  // another spelling or above it (fullPath, identify, resolvedPath, freeSpace, and the
  // folders above the root that a run creates) is used by name, as without roots. addRoot
  // fails only when the root cannot be kept (no memory, a name the system cannot hold); a
  // run then does not begin. Here: nothing is kept, every path is used by name.
  virtual FsStatus addRoot(const char16_t* root) {
    (void)root;
    return FsStatus::Ok;
  }
  virtual void dropRoot(const char16_t* root) { (void)root; }

  // Raw OS error of the calling thread's last failed call, for messages.
  virtual int lastOsError() const = 0;

  // Whether several threads may call this object at the same time to good effect. The
  // system's implementations may; one that counts or orders its calls (a test's wrapper) says
  // no, and callers then keep every call on one thread, in the order they would make them.
  virtual bool concurrentUse() const { return false; }
};

// The implementation of this operating system, alive for the whole program.
Fs& systemFs();

// The roots of one run, added to an Fs for as long as it lives (Fs::addRoot): each root as a
// user gives it (toLongPath is applied), an empty one (no folder on that side) skipped.
//   RunRoots roots(fs);
//   if (roots.add(source.roots) != FsStatus::Ok || roots.add(target.roots) != ...) refuse;
class RunRoots {
 public:
  explicit RunRoots(Fs& fs) : fs_(fs) {}
  ~RunRoots();
  RunRoots(const RunRoots&) = delete;
  RunRoots& operator=(const RunRoots&) = delete;
  // The first failure of Fs::addRoot (or InvalidName for a root too long to name); the roots
  // added before it stay added until the end.
  FsStatus add(const std::u16string& root);
  FsStatus add(const std::vector<std::u16string>& roots);

 private:
  Fs& fs_;
  std::vector<std::u16string> added_;  // in toLongPath form
};

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_FS_H
