// The POSIX file system behind Fs.
//
// What it adds to the plain system calls, so that the engine sees the file system it was
// written for:
// - Names are converted from UTF-16 to UTF-8 at this boundary, losslessly (text.h: bytes that
//   are not UTF-8 travel as lone surrogates U+DC80..U+DCFF).
// - Paths are used exactly as spelled: two names that differ only in letter case are two
//   entries here, as the file system has them.
// - Attributes: Directory from the file type, ReadOnly from the owner write bit; Archive,
//   System and Hidden live in the extended attribute user.DOSATTRIB. Without that attribute a
//   file reads as Archive, as a new file on Windows would, and a name beginning with "." as
//   Hidden. Where the file system has no extended attributes they are silently dropped.
// - A read-only file is neither deleted nor replaced nor created over (AccessDenied), as on
//   Windows; this also holds for root, who could otherwise write anything.
// - A symbolic link to a folder is listed as Directory|ReparsePoint; removeDirectory of a link
//   removes the link only.
// - Only regular files are opened. FIFOs, sockets and devices (and links to them, and links
//   that lead nowhere) are listed as Device; they are never opened, written, created through,
//   replaced or given attributes (AccessDenied), so that a FIFO cannot block a sync and a
//   device cannot feed it without end.
// - Permission bits: createWithPermissions gives a file its bits from the moment it exists,
//   setFilePermissions sets 0777 only (never set-uid, set-gid or sticky) and keeps the file's
//   read-only state; folders take theirs the same way. Access lists travel as the raw
//   extended attribute system.posix_acl_access.
// - A rename to a new name never replaces anything, also where the file system cannot refuse a
//   taken name in the rename itself (exFAT answers RENAME_NOREPLACE with EINVAL).
// - copyData keeps the holes of a sparse file (SEEK_DATA, SEEK_HOLE).
// - A folder whose entries cannot be examined (stat refused) fails to list; only an entry that
//   vanished during the listing is left out.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "platform/access_list.h"
#include "platform/case_map.h"
#include "platform/dos_attrib.h"
#include "platform/file_time.h"
#include "platform/fs.h"
#include "platform/posix/no_replace_rename.h"
#include "platform/text.h"

namespace fw {
namespace {

thread_local int tLastError = 0;

FsStatus fail(int err) {
  tLastError = err;
  switch (err) {
    case ENOENT: return FsStatus::NotFound;
    case EACCES:
    case EPERM:
    case EROFS: return FsStatus::AccessDenied;
    case EBUSY:  // a folder something is mounted on, a device in use
    case ETXTBSY: return FsStatus::InUse;  // a program being run
    case EEXIST: return FsStatus::Exists;
    case ENOSPC:
    case EDQUOT: return FsStatus::DiskFull;
    case ENOTEMPTY: return FsStatus::NotEmpty;
    case EXDEV: return FsStatus::CrossDevice;
    case ENAMETOOLONG:
    case EILSEQ:
    case EINVAL: return FsStatus::InvalidName;
    default: return FsStatus::IoError;
  }
}

FsStatus failErrno() { return fail(errno); }

// The answer for an entry that is not a regular file (or folder) where one is needed.
FsStatus refuseNotAFile() {
  tLastError = EPERM;
  return FsStatus::AccessDenied;
}

// A FIFO, socket or device, or (for the status of a link itself) a link.
bool isSpecial(mode_t mode) { return !S_ISREG(mode) && !S_ISDIR(mode); }

bool toNative(const char16_t* path, std::string* out) {
  size_t n = length16(path);
  out->resize(n * 3 + 1);
  size_t got = utf16ToUtf8Escaped(path, n, out->data(), out->size());
  if (got == kConversionFailed) {
    out->clear();
    return false;
  }
  out->resize(got);
  return true;
}

// A path converted for the system. Paths are used exactly as spelled: the engine builds each
// side's paths from that side's own spelling, and a path a user named means that folder and no
// other spelling of it.
struct NativePath {
  std::string value;
  bool ok;
  explicit NativePath(const char16_t* path) : ok(toNative(path, &value)) {}
  const char* c_str() const { return value.c_str(); }
};

const char* lastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

// Reading the attribute by folder handle and name spares the kernel a walk of the whole path
// for every entry of a listing; kernels before 6.13 lack the call, and then the path is used.
#if defined(__linux__) && !defined(__NR_getxattrat)
#define __NR_getxattrat 464  // the same number on every architecture
#endif

std::atomic<bool> gNoXattrAt{false};

ssize_t getDosAttribAt(int dirFd, const char* name, const char* path, char* value, size_t size) {
#ifdef __NR_getxattrat
  if (dirFd >= 0 && !gNoXattrAt.load(std::memory_order_relaxed)) {
    struct {
      uint64_t value;
      uint32_t size;
      uint32_t flags;
    } args = {reinterpret_cast<uintptr_t>(value), static_cast<uint32_t>(size), 0};
    long n = syscall(__NR_getxattrat, dirFd, name, AT_SYMLINK_NOFOLLOW, kDosAttribName, &args,
                     sizeof args);
    if (n >= 0 || errno != ENOSYS) return n;
    gNoXattrAt.store(true, std::memory_order_relaxed);
  }
#else
  (void)dirFd;
  (void)name;
#endif
  if (!path[0]) {
    errno = ENOSYS;
    return -1;
  }
  return lgetxattr(path, kDosAttribName, value, size);
}

// File systems (by device number) that have refused user extended attributes: nothing can be
// stored there, so nothing is asked for again. A few slots suffice; when all are taken, the
// others are simply asked each time.
constexpr int kNoXattrSlots = 8;
std::atomic<uint64_t> gNoXattrDevices[kNoXattrSlots];  // device + 1; 0 for a free slot

bool lacksXattrs(dev_t device) {
  uint64_t key = static_cast<uint64_t>(device) + 1;
  for (auto& slot : gNoXattrDevices) {
    uint64_t v = slot.load(std::memory_order_relaxed);
    if (v == key) return true;
    if (v == 0) return false;
  }
  return false;
}

void noteLacksXattrs(dev_t device) {
  uint64_t key = static_cast<uint64_t>(device) + 1;
  for (auto& slot : gNoXattrDevices) {
    uint64_t expected = 0;
    if (slot.compare_exchange_strong(expected, key, std::memory_order_relaxed) || expected == key)
      return;
  }
}

// Where an entry is: its folder's handle and its name (dirFd >= 0), or its full path; for a
// listing, the full path is made only when the call by handle is missing.
struct EntryPlace {
  int dirFd;
  const char* name;
  const char* path;            // null: folder + name, built when needed
  const std::string* folder;   // with trailing '/'
  std::string* scratch;
};

// Reads the stored DOS bits of an entry; false when none are stored or they cannot be read.
bool readDosAttrib(const struct stat& st, const EntryPlace& at, uint32_t* bits) {
  if (lacksXattrs(st.st_dev)) return false;
  char value[64];
  ssize_t n;
  if (at.path) {
    n = getDosAttribAt(at.dirFd, at.name, at.path, value, sizeof value);
  } else {
    // getDosAttribAt uses the path only without the call by handle.
    const char* path = "";
    if (gNoXattrAt.load(std::memory_order_relaxed)) {
      at.scratch->assign(*at.folder).append(at.name);
      path = at.scratch->c_str();
    }
    n = getDosAttribAt(at.dirFd, at.name, path, value, sizeof value);
    if (n < 0 && errno == ENOSYS) {  // the call by handle went missing just now
      at.scratch->assign(*at.folder).append(at.name);
      n = lgetxattr(at.scratch->c_str(), kDosAttribName, value, sizeof value);
    }
  }
  if (n < 0) {
    if (errno == ENOTSUP) noteLacksXattrs(st.st_dev);
    return false;
  }
  return parseDosAttrib(value, static_cast<size_t>(n), bits);
}

uint32_t attributesOf(const struct stat& st, const EntryPlace& at) {
  uint32_t a = 0;
  bool dir = S_ISDIR(st.st_mode);
  if (dir) a |= attr::Directory;
  if (!(st.st_mode & S_IWUSR)) a |= attr::ReadOnly;
  uint32_t dos = 0;
  if (readDosAttrib(st, at, &dos)) {
    // Stored bits say it all: a dot-file that came from Windows without Hidden stays so.
    a |= dos & (attr::Archive | attr::System | attr::Hidden);
  } else {
    if (!dir) a |= attr::Archive;
    if (at.name[0] == '.') a |= attr::Hidden;
  }
  return a;
}

// The extended attribute's value for the DOS bits of attributes; returns its length.
// Failures to store it (no extended attributes here, a link) are not errors: these bits are
// best effort.
size_t dosAttribValue(uint32_t attributes, char* value) {
  return formatDosAttrib(attributes & (attr::Archive | attr::System | attr::Hidden), value);
}

// The permission bits that give mode the read-only state asked for: all write bits off, or the
// owner's write bit on.
mode_t readOnlyMode(mode_t mode, bool readOnly) {
  mode_t wanted = readOnly ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  return wanted & 07777;
}

// The process's umask. Setting one to read the old is the only way; the value set meanwhile is
// the strictest, so that a file another thread creates in that instant is only ever the more
// private for it. One thread at a time: two reads that overlapped would leave 077 in place.
mode_t currentUmask() {
  static std::mutex reading;
  std::lock_guard<std::mutex> lock(reading);
  mode_t mask = umask(077);
  umask(mask);
  return mask;
}

// The mode bits a file gets for permissions (see fs.h): set-uid, set-gid and sticky never.
mode_t permissionBits(uint32_t permissions) {
  if (permissions == kDefaultPermissions) return 0666 & ~currentUmask();
  return static_cast<mode_t>(permissions & 0777);
}

bool isReadOnlyFile(const struct stat& st) {
  return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR);
}

// An open listing: the folder's handle and a buffer of raw directory entries (getdents64, so
// that no stat of the folder itself is made, as opendir would).
struct Finder {
  int fd = -1;
  std::string folder;   // with trailing '/'
  std::string scratch;  // an entry's full path, when one is needed
  size_t at = 0;        // next entry in buffer
  size_t filled = 0;
  alignas(8) char buffer[32768];
};

// The modification time of what st describes, as every call of this layer reports it: within
// what a file here keeps (keptFileTime), so a listing, a stamp and an open file agree.
uint64_t modifiedOf(const struct stat& st) {
  return keptFileTime(unixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
}

// Fills entry from one directory entry. NotFound when the entry vanished meanwhile (it is
// skipped); any other failure to examine it fails the listing: a folder whose names can be
// read but whose entries cannot be examined (read but no search permission) must not pass for
// one without them.
FsStatus describe(Finder* f, const char* name, unsigned char type, FindEntry* entry) {
  size_t units = utf8ToUtf16Escaped(name, strlen(name), entry->name, kMaxNameUnits - 1);
  // Cannot happen for names of <= 255 bytes.
  if (units == kConversionFailed) return FsStatus::NotFound;
  entry->name[units] = 0;
  int fd = f->fd;
  struct stat st;
  bool link = false;
  // A link (by the entry's type) is examined by what it leads to first: one call where the
  // target is there. Otherwise the entry itself, never following a link put in its place.
  if (type == DT_LNK && fstatat(fd, name, &st, 0) == 0) {
    link = true;
  } else {
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      int err = errno;
      if (err == ENOENT) return FsStatus::NotFound;
      tLastError = err;
      return err == EACCES || err == EPERM ? FsStatus::AccessDenied : FsStatus::IoError;
    }
    if (S_ISLNK(st.st_mode)) {
      link = true;
      struct stat target;
      // A target that is missing, a cycle or out of reach leaves st a link: listed as Device.
      if (type != DT_LNK && fstatat(fd, name, &target, 0) == 0) st = target;
    }
  }
  entry->modified = modifiedOf(st);
  if (isSpecial(st.st_mode)) {
    entry->attributes = attr::Device | (link ? attr::ReparsePoint : 0) |
                        (name[0] == '.' ? attr::Hidden : 0);
    entry->size = 0;
    return FsStatus::Ok;
  }
  entry->attributes = attributesOf(st, EntryPlace{fd, name, nullptr, &f->folder, &f->scratch});
  if (link) entry->attributes |= attr::ReparsePoint;
  bool dir = S_ISDIR(st.st_mode);
  entry->size = dir ? 0 : static_cast<uint64_t>(st.st_size);
  return FsStatus::Ok;
}

// Sparse files. Where the source's position lies in a hole (SEEK_DATA finds data further on,
// or none before its end), up to size bytes of it are skipped in both files, and the copy is
// made as long with ftruncate, which leaves a hole on file systems that have them: *hole true,
// *skipped the bytes skipped. Where it lies in data, size is cut to the end of that data, so
// that the copy of it (which would write a following hole out as zeros) stops there. A file
// system without holes (SEEK_DATA refused, or all data) changes nothing.
FsStatus skipHole(int in, int out, uint32_t& size, uint32_t* skipped, bool* hole) {
  *hole = false;
  *skipped = 0;
  off_t at = lseek(in, 0, SEEK_CUR);
  if (at < 0) return FsStatus::Ok;
  off_t data = lseek(in, at, SEEK_DATA);
  off_t end = -1;  // where the hole ends
  if (data < 0) {
    struct stat st;
    if (errno != ENXIO || fstat(in, &st) != 0 || st.st_size <= at) {
      lseek(in, at, SEEK_SET);
      return FsStatus::Ok;  // no holes here, or the end of the file: the copy says so
    }
    end = st.st_size;  // a hole up to the end
  } else if (data > at) {
    end = data;
  } else {
    off_t dataEnd = lseek(in, at, SEEK_HOLE);
    lseek(in, at, SEEK_SET);
    if (dataEnd > at && static_cast<uint64_t>(dataEnd - at) < size)
      size = static_cast<uint32_t>(dataEnd - at);
    return FsStatus::Ok;
  }
  off_t next = end - at > static_cast<off_t>(size) ? at + static_cast<off_t>(size) : end;
  struct stat written;
  if (fstat(out, &written) != 0) return failErrno();
  if ((written.st_size < next && ftruncate(out, next) != 0) || lseek(out, next, SEEK_SET) < 0 ||
      lseek(in, next, SEEK_SET) < 0)
    return failErrno();
  *hole = true;
  *skipped = static_cast<uint32_t>(next - at);
  return FsStatus::Ok;
}

// Copies up to size bytes with read and write, where the system copies none itself (two
// volumes, a file system without the call).
FsStatus copyThroughBuffer(int in, int out, uint32_t size, uint32_t* copied) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  if (!buffer) return fail(ENOMEM);
  ssize_t n;
  do {
    n = ::read(in, buffer.get(), size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failErrno();
  for (ssize_t done = 0; done < n;) {
    ssize_t w = ::write(out, buffer.get() + done, static_cast<size_t>(n - done));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return failErrno();
    if (w == 0) return fail(ENOSPC);
    done += w;
  }
  *copied = static_cast<uint32_t>(n);
  return FsStatus::Ok;
}

// Folder permissions. A folder is made with exactly mode (0777 bits; the umask does not
// narrow or widen it: a folder's bits are set, as a file's, once it exists), and a folder's
// bits are changed through a handle opened without following a link, so that a link put in
// its place changes nothing.
FsStatus setFolderMode(int dir, const char* name, mode_t mode) {
  int fd = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP || errno == ENOTDIR ? refuseNotAFile() : failErrno();
  struct stat st;
  FsStatus s = FsStatus::Ok;
  if (fstat(fd, &st) != 0) {
    s = failErrno();
  } else {
    mode_t wanted = (st.st_mode & 07000) | (mode & 0777);
    if (wanted != (st.st_mode & 07777) && fchmod(fd, wanted) != 0) s = failErrno();
  }
  ::close(fd);
  return s;
}

FsStatus makeFolderWithMode(int dir, const char* name, mode_t mode) {
  if (mkdirat(dir, name, mode & 0700) != 0) return failErrno();
  return setFolderMode(dir, name, mode);
}

// Access lists (fs.h: copyAccessList). The list is read and written as the raw extended
// attribute, which needs no library; a list this code cannot read leaves the copy only the
// owner's bits.
FsStatus copyAccessListOf(int in, int out) {
  ssize_t n = fgetxattr(in, kAccessListName, nullptr, 0);
  std::string value;
  for (int attempt = 0; n > 0 && attempt < 4; ++attempt) {
    value.resize(static_cast<size_t>(n));
    n = fgetxattr(in, kAccessListName, value.data(), value.size());
    if (n >= 0 || errno != ERANGE) break;
    n = fgetxattr(in, kAccessListName, nullptr, 0);  // it grew meanwhile
  }
  if (n < 0 && (errno == ENODATA || errno == EOPNOTSUPP)) return FsStatus::Ok;  // none
  if (n < 0) return failErrno();
  if (n == 0) return FsStatus::Ok;
  value.resize(static_cast<size_t>(n));
  uint32_t bits = 0700;
  bitsWithoutAccessList(value.data(), value.size(), &bits);
  struct stat st;
  if (fstat(out, &st) != 0) return failErrno();
  mode_t narrowed = (st.st_mode & 07700) | (st.st_mode & bits & 077);
  if (narrowed != (st.st_mode & 07777) && fchmod(out, narrowed) != 0) return failErrno();
  if (fsetxattr(out, kAccessListName, value.data(), value.size(), 0) != 0)
    return errno == EOPNOTSUPP ? FsStatus::Ok : failErrno();
  return FsStatus::Ok;
}

// The stamp of what st describes, with the kind bits given; size 0 for a folder and for
// what the listing reports as Device.
FileStamp stampOf(const struct stat& st, uint32_t kind) {
  FileStamp stamp;
  stamp.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  stamp.modified = modifiedOf(st);
  stamp.changed = unixToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  stamp.attributes = kind;
  return stamp;
}

// Clears O_NONBLOCK, with which a file is opened so that a FIFO put in its place meanwhile
// cannot block the open; false (errno set) when that fails.
bool makeBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

FsStatus nextEntry(Finder* f, FindEntry* entry) {
  for (;;) {
    if (f->at >= f->filled) {
      ssize_t n;
      do {
        n = getdents64(f->fd, f->buffer, sizeof f->buffer);
      } while (n < 0 && errno == EINTR);
      if (n < 0) return failErrno();
      if (n == 0) return FsStatus::NoMoreFiles;
      f->filled = static_cast<size_t>(n);
      f->at = 0;
    }
    const auto* d = reinterpret_cast<const struct dirent64*>(f->buffer + f->at);
    f->at += d->d_reclen;
    if (d->d_name[0] == '.' && (d->d_name[1] == 0 || (d->d_name[1] == '.' && d->d_name[2] == 0)))
      continue;
    FsStatus s = describe(f, d->d_name, d->d_type, entry);
    if (s != FsStatus::NotFound) return s;
  }
}

// ---- Paths below a run's roots ----
//
// A run's roots (Fs::addRoot) are kept in one list for the process. A path below one is not
// handed to the system whole, which would follow any link on the way, but reached from the
// root's folder one name at a time, each folder opened with O_DIRECTORY|O_NOFOLLOW, and the
// call then acts on its last name inside the folder that holds it (fstatat, openat, unlinkat,
// renameat, mkdirat, linkat). A link on the way fails the open instead of being followed, and
// a folder swapped for a link after it was opened is never looked up again by name.
//
// Each thread holds the folders it opened last (kHeldFolders of them): the next call in the
// same folder, or below it, starts from there. A held folder stays the folder that was opened,
// wherever it is moved meanwhile. A folder the program itself removes or renames, and a root
// added or dropped, makes every thread let go of its held folders (gGeneration).

struct RootList {
  std::mutex mutex;
  std::vector<std::pair<std::string, int>> counted;  // each root (no final '/') and its adds
  std::shared_ptr<const std::vector<std::string>> roots;  // the same, for the threads to read
};

RootList& rootList() {
  static RootList list;
  return list;
}

std::atomic<uint64_t> gGeneration{1};

// Tells every thread to let go of its held folders before its next call below a root.
void foldersChanged() { gGeneration.fetch_add(1, std::memory_order_acq_rel); }

constexpr int kHeldFolders = 16;

struct HeldFolder {
  std::string path;  // the folder's path as the calls name it, without a final '/'
  size_t rootLength = 0;  // the length of the root it was reached from
  int fd = -1;            // O_PATH
  uint64_t used = 0;      // when it was last used, for the choice of one to let go
  int pins = 0;           // places using it now: not let go of until they end
  bool stale = false;     // to be let go of once unpinned; never used again

  void release() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    stale = false;
  }
};

struct ThreadFolders {
  uint64_t generation = 0;
  std::shared_ptr<const std::vector<std::string>> roots;
  HeldFolder held[kHeldFolders];
  uint64_t clock = 0;
  std::string name;  // scratch: one name of a path

  void letGo() {
    for (HeldFolder& h : held) {
      if (h.pins > 0) h.stale = true;
      else h.release();
    }
  }
  ~ThreadFolders() {
    for (HeldFolder& h : held) h.release();
  }
};

thread_local ThreadFolders tFolders;

// Brings the thread's view of the roots up to date; its held folders go when anything changed.
void refreshFolders(ThreadFolders& t) {
  uint64_t generation = gGeneration.load(std::memory_order_acquire);
  if (generation == t.generation) return;
  t.letGo();
  RootList& list = rootList();
  std::lock_guard<std::mutex> lock(list.mutex);
  t.roots = list.roots;
  t.generation = generation;
}

// The answer for a folder on the way that could not be opened; err ELOOP for a link.
FsStatus failOnTheWay(int err) {
  if (err != ELOOP) return fail(err);
  tLastError = ELOOP;
  return FsStatus::AccessDenied;  // refused, not missing: something is there
}

// Takes fd as the held folder for path's first length bytes, letting go of the one used
// longest ago (a stale one first; never a pinned one).
HeldFolder* holdFolder(ThreadFolders& t, const std::string& path, size_t length,
                       size_t rootLength, int fd) {
  HeldFolder* slot = nullptr;
  for (HeldFolder& h : t.held) {
    if (h.pins > 0) continue;
    if (h.fd < 0 || h.stale) {
      slot = &h;
      break;
    }
    if (!slot || h.used < slot->used) slot = &h;
  }
  if (!slot) {  // cannot happen: a call pins two folders at most
    ::close(fd);
    errno = EMFILE;
    return nullptr;
  }
  slot->release();
  try {
    slot->path.assign(path, 0, length);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  slot->fd = fd;
  slot->rootLength = rootLength;
  slot->used = ++t.clock;
  return slot;
}

// The held folder for the first end bytes of path, which lie at or below the root of
// rootLength bytes: a held one, or opened from the nearest held folder above it (or from the
// root) one name at a time. Null with errno set when a folder on the way cannot be opened:
// ELOOP when it is a link.
HeldFolder* folderOf(ThreadFolders& t, const std::string& path, size_t rootLength, size_t end) {
  HeldFolder* best = nullptr;
  for (HeldFolder& h : t.held) {
    if (h.fd < 0 || h.stale || h.rootLength != rootLength) continue;
    size_t n = h.path.size();
    if (n > end || n < rootLength || (n < end && path[n] != '/')) continue;
    if (path.compare(0, n, h.path) != 0) continue;
    if (!best || n > best->path.size()) best = &h;
  }
  if (!best) {
    // The root, by name: it may be a link, followed here once.
    std::string& root = t.name;
    if (rootLength == 0) root.assign("/");
    else root.assign(path, 0, rootLength);
    int fd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    best = holdFolder(t, path, rootLength, rootLength, fd);
    if (!best) return nullptr;
  }
  best->used = ++t.clock;
  size_t at = best->path.size();
  while (at < end) {
    size_t next = path.find('/', at + 1);
    if (next == std::string::npos || next > end) next = end;
    t.name.assign(path, at + 1, next - at - 1);
    const char* name = t.name.c_str();
    if (t.name.empty() || t.name == ".") {
      at = next;
      continue;
    }
    int fd = openat(best->fd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      int err = errno;
      struct stat st;
      // O_PATH|O_NOFOLLOW answers ENOTDIR for a link as for a file: tell them apart.
      if (err == ENOTDIR && fstatat(best->fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode))
        err = ELOOP;
      errno = err;
      return nullptr;
    }
    best = holdFolder(t, path, next, rootLength, fd);
    if (!best) return nullptr;
    at = next;
  }
  return best;
}

// Whether a name ".." follows the root in path: such a path was not built below the root by
// the engine (whose names never are "..") but given by a user (a saved file beside the
// folder, "root/../x.fws"), and is used by name as without roots.
bool leavesBy(const std::string& path, size_t rootLength) {
  for (size_t at = path.find("/..", rootLength); at != std::string::npos;
       at = path.find("/..", at + 1)) {
    if (at + 3 == path.size() || path[at + 3] == '/') return true;
  }
  return false;
}

// Where a call acts: the folder that holds its entry and the entry's name in it. For a path
// below a root, a held folder (pinned while the place lives) and the last name; for any other
// path, AT_FDCWD and the whole path, used by name as given.
class Place {
 public:
  Place() = default;
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;
  ~Place() {
    if (!held_) return;
    if (--held_->pins == 0 && held_->stale) held_->release();
  }

  // Fills the place for path (as NativePath gives it); a failure when a folder on the way
  // below a root cannot be opened.
  FsStatus locate(const std::string& path) {
    dir = AT_FDCWD;
    name = path.c_str();
    ThreadFolders& t = tFolders;
    try {
      refreshFolders(t);
    } catch (const std::system_error&) {
      return fail(EAGAIN);
    }
    if (!t.roots) return FsStatus::Ok;
    size_t rootLength = std::string::npos;
    for (const std::string& r : *t.roots) {
      size_t n = r.size();
      if (path.size() > n + 1 && path[n] == '/' && path.compare(0, n, r) == 0 &&
          (rootLength == std::string::npos || n > rootLength))
        rootLength = n;
    }
    if (rootLength == std::string::npos || leavesBy(path, rootLength)) return FsStatus::Ok;
    size_t slash = path.rfind('/');
    if (slash + 1 == path.size()) return fail(EINVAL);  // no name after the last '/'
    HeldFolder* h = nullptr;
    try {
      h = folderOf(t, path, rootLength, slash);
    } catch (const std::bad_alloc&) {  // a long name in the scratch string
      return fail(ENOMEM);
    }
    if (!h) return failOnTheWay(errno);
    ++h->pins;
    held_ = h;
    dir = h->fd;
    name = path.c_str() + slash + 1;
    return FsStatus::Ok;
  }

  bool belowRoot() const { return held_ != nullptr; }

  int dir = AT_FDCWD;
  const char* name = nullptr;

 private:
  HeldFolder* held_ = nullptr;
};

// The answer for a folder below a root that cannot be opened for listing: as for a folder on
// the way when it is a link now.
FsStatus failListed(const Place& at, int err) {
  struct stat st;
  if ((err == ELOOP || err == ENOTDIR) && fstatat(at.dir, at.name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode))
    err = ELOOP;
  return failOnTheWay(err);
}

// A path converted for the system and located: its folder and name (see Place).
struct PlacedPath {
  NativePath path;
  Place at;
  FsStatus status;
  explicit PlacedPath(const char16_t* p)
      : path(p), status(path.ok ? at.locate(path.value) : fail(EILSEQ)) {}
};

FsStatus addRootNamed(const char16_t* root) {
  NativePath p(root);
  if (!p.ok) return fail(EILSEQ);
  std::string r = p.value;
  while (!r.empty() && r.back() == '/') r.pop_back();  // "/" is ""
  RootList& list = rootList();
  std::lock_guard<std::mutex> lock(list.mutex);
  try {
    bool known = false;
    for (auto& c : list.counted) {
      if (c.first == r) {
        ++c.second;
        known = true;
      }
    }
    if (!known) {
      list.counted.emplace_back(r, 1);
      auto roots = std::make_shared<std::vector<std::string>>();
      for (auto& c : list.counted) roots->push_back(c.first);
      list.roots = std::move(roots);
    }
  } catch (const std::bad_alloc&) {
    return fail(ENOMEM);
  }
  foldersChanged();
  return FsStatus::Ok;
}

void dropRootNamed(const char16_t* root) {
  NativePath p(root);
  if (!p.ok) return;
  std::string r = p.value;
  while (!r.empty() && r.back() == '/') r.pop_back();
  {
    RootList& list = rootList();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (size_t i = 0; i < list.counted.size(); ++i) {
      if (list.counted[i].first != r || --list.counted[i].second > 0) continue;
      list.counted.erase(list.counted.begin() + static_cast<std::ptrdiff_t>(i));
      try {
        auto roots = std::make_shared<std::vector<std::string>>();
        for (auto& c : list.counted) roots->push_back(c.first);
        list.roots = roots->empty() ? nullptr : std::move(roots);
      } catch (const std::bad_alloc&) {
        // The list the threads read keeps the root: its paths stay confined, which is safe.
      }
      break;
    }
    foldersChanged();
  }
  // The folders this thread held under it are let go of now, not at its next call.
  tFolders.letGo();
}

class PosixFs final : public Fs {
 public:
  FsStatus findFirst(const char16_t* pattern, FindHandle* handle, FindEntry* entry) override {
    *handle = kInvalidHandle;
    size_t n = length16(pattern);
    if (n < 2 || pattern[n - 1] != u'*' || pattern[n - 2] != u'/') return fail(EINVAL);
    std::u16string folder16 = n > 2 ? std::u16string(pattern, n - 2) : std::u16string(1, u'/');
    PlacedPath folder(folder16.c_str());
    if (folder.status != FsStatus::Ok) return folder.status;
    // Below a root the folder itself is not followed either, should it be a link now.
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
    if (folder.at.belowRoot()) flags |= O_NOFOLLOW;
    int dir = openat(folder.at.dir, folder.at.name, flags);
    if (dir < 0) return folder.at.belowRoot() ? failListed(folder.at, errno) : failErrno();
    auto* f = new (std::nothrow) Finder;
    if (!f) {
      ::close(dir);
      return fail(ENOMEM);
    }
    f->fd = dir;
    f->folder = folder.path.value;
    if (f->folder.back() != '/') f->folder += '/';
    FsStatus s = nextEntry(f, entry);
    if (s != FsStatus::Ok) {
      ::close(dir);
      delete f;
      // An empty folder is an enumeration with no entries, as on Windows, where "." and ".."
      // keep FindFirstFileW from failing: report it through an empty finder.
      if (s != FsStatus::NoMoreFiles) return s;
      *handle = kEmptyFinder;
      entry->name[0] = u'.';
      entry->name[1] = 0;
      entry->attributes = attr::Directory;
      entry->modified = 0;
      entry->size = 0;
      return FsStatus::Ok;
    }
    *handle = reinterpret_cast<FindHandle>(f);
    return FsStatus::Ok;
  }

  FsStatus findNext(FindHandle handle, FindEntry* entry) override {
    if (handle == kEmptyFinder) return FsStatus::NoMoreFiles;
    return nextEntry(reinterpret_cast<Finder*>(handle), entry);
  }

  void findClose(FindHandle handle) override {
    if (handle == kInvalidHandle || handle == kEmptyFinder) return;
    auto* f = reinterpret_cast<Finder*>(handle);
    ::close(f->fd);
    delete f;
  }

  FsStatus openRead(const char16_t* path, FileHandle* file) override {
    *file = kInvalidHandle;
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    // Looked at before the open, since opening a device can have effects of its own, and
    // again on the open file, in case the entry was replaced between the two.
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, 0) != 0) return failErrno();
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    if (!S_ISREG(st.st_mode)) return refuseNotAFile();
    int fd = openat(p.at.dir, p.at.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return failErrno();
    FsStatus s = FsStatus::Ok;
    if (fstat(fd, &st) != 0 || !makeBlocking(fd)) s = failErrno();
    else if (S_ISDIR(st.st_mode)) s = fail(EISDIR);
    else if (!S_ISREG(st.st_mode)) s = refuseNotAFile();
    if (s != FsStatus::Ok) {
      ::close(fd);
      return s;
    }
    *file = fd;
    return FsStatus::Ok;
  }

  FsStatus createAlways(const char16_t* path, uint32_t attributes, FileHandle* file) override {
    return create(path, attributes, kDefaultPermissions, file);
  }

  FsStatus createWithPermissions(const char16_t* path, uint32_t attributes, uint32_t permissions,
                                 FileHandle* file) override {
    return create(path, attributes, permissions, file);
  }

  FsStatus createNew(const char16_t* path, uint32_t attributes, uint32_t permissions,
                     FileHandle* file) override {
    *file = kInvalidHandle;
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    // O_EXCL refuses any entry at the name, a link too (followed or not): what is opened is
    // always a new regular file, which never blocks.
    bool exact = permissions != kDefaultPermissions;
    int fd = openat(p.at.dir, p.at.name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                    exact ? permissionBits(permissions) : 0666);
    if (fd < 0) return failErrno();
    struct stat st;
    if (fstat(fd, &st) != 0) {
      int err = errno;
      ::close(fd);
      unlinkat(p.at.dir, p.at.name, 0);
      return fail(err);
    }
    giveCreatedBits(fd, st, attributes, permissions);
    *file = fd;
    return FsStatus::Ok;
  }

  FsStatus getFilePermissions(FileHandle file, uint32_t* permissions) override {
    *permissions = 0;
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return failErrno();
    *permissions = st.st_mode & 07777;
    return FsStatus::Ok;
  }

  FsStatus getPermissions(const char16_t* path, uint32_t* permissions) override {
    *permissions = 0;
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, 0) != 0) return failErrno();
    *permissions = st.st_mode & 07777;
    return FsStatus::Ok;
  }

  FsStatus setFilePermissions(FileHandle file, uint32_t permissions) override {
    int fd = static_cast<int>(file);
    struct stat st;
    if (fstat(fd, &st) != 0) return failErrno();
    mode_t mode = readOnlyMode(permissionBits(permissions), !(st.st_mode & S_IWUSR));
    if (mode != (st.st_mode & 07777) && fchmod(fd, mode) != 0) return failErrno();
    return FsStatus::Ok;
  }

  FsStatus copyAccessList(FileHandle from, FileHandle to) override {
    return copyAccessListOf(static_cast<int>(from), static_cast<int>(to));
  }

  FsStatus read(FileHandle file, void* buffer, uint32_t size, uint32_t* got) override {
    *got = 0;
    for (;;) {
      ssize_t n = ::read(static_cast<int>(file), buffer, size);
      if (n >= 0) {
        *got = static_cast<uint32_t>(n);
        return FsStatus::Ok;
      }
      if (errno != EINTR) return failErrno();
    }
  }

  FsStatus write(FileHandle file, const void* data, uint32_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = ::write(static_cast<int>(file), p, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return failErrno();
      }
      if (n == 0) return fail(ENOSPC);
      p += n;
      size -= static_cast<uint32_t>(n);
    }
    return FsStatus::Ok;
  }

  FsStatus seek(FileHandle file, uint64_t offset) override {
    if (offset > static_cast<uint64_t>(LLONG_MAX)) return fail(EINVAL);
    if (lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0) return failErrno();
    return FsStatus::Ok;
  }

  FsStatus tell(FileHandle file, uint64_t* offset) override {
    off_t at = lseek(static_cast<int>(file), 0, SEEK_CUR);
    if (at < 0) return failErrno();
    *offset = static_cast<uint64_t>(at);
    return FsStatus::Ok;
  }

  FsStatus copyData(FileHandle from, FileHandle to, uint32_t size, uint32_t* copied) override {
    *copied = 0;
    int in = static_cast<int>(from);
    int out = static_cast<int>(to);
    // A hole of the source stays one: skipped in both files, never written as zeros.
    bool hole = false;
    FsStatus s = skipHole(in, out, size, copied, &hole);
    if (s != FsStatus::Ok || hole) return s;
    for (;;) {
      ssize_t n = copy_file_range(in, nullptr, out, nullptr, size, 0);
      if (n >= 0) {
        *copied = static_cast<uint32_t>(n);
        return FsStatus::Ok;
      }
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF)
        return copyThroughBuffer(in, out, size, copied);
      return failErrno();
    }
  }

  void close(FileHandle file) override {
    if (file != kInvalidHandle) ::close(static_cast<int>(file));
  }

  FsStatus getFileTime(FileHandle file, uint64_t* modified) override {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return failErrno();
    *modified = modifiedOf(st);
    return FsStatus::Ok;
  }

  FsStatus getFileStamp(FileHandle file, FileStamp* stamp) override {
    *stamp = FileStamp{};
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return failErrno();
    *stamp = stampOf(st, 0);
    return FsStatus::Ok;
  }

  FsStatus getEntryStamp(const char16_t* path, FileStamp* stamp) override {
    *stamp = FileStamp{};
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failErrno();
    // As the listing: a link by what it leads to; one that leads nowhere is Device.
    uint32_t kind = 0;
    if (S_ISLNK(st.st_mode)) {
      kind = attr::ReparsePoint;
      struct stat target;
      if (fstatat(p.at.dir, p.at.name, &target, 0) == 0) st = target;
    }
    if (isSpecial(st.st_mode)) kind |= attr::Device;
    else if (S_ISDIR(st.st_mode)) kind |= attr::Directory;
    *stamp = stampOf(st, kind);
    return FsStatus::Ok;
  }

  FsStatus setFileTimes(FileHandle file, uint64_t, uint64_t accessed,
                        uint64_t modified) override {
    struct timespec times[2];
    int64_t s, ns;
    fileTimeToUnix(keptFileTime(accessed), &s, &ns);
    times[0].tv_sec = static_cast<time_t>(s);
    times[0].tv_nsec = static_cast<long>(ns);
    fileTimeToUnix(keptFileTime(modified), &s, &ns);
    times[1].tv_sec = static_cast<time_t>(s);
    times[1].tv_nsec = static_cast<long>(ns);
    if (futimens(static_cast<int>(file), times) != 0) return failErrno();
    return FsStatus::Ok;
  }

  FsStatus getAttributes(const char16_t* path, uint32_t* attributes) override {
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failErrno();
    bool link = S_ISLNK(st.st_mode);
    struct stat target;
    // A link that leads nowhere is there, as Device, as the listing reports it.
    if (link && fstatat(p.at.dir, p.at.name, &target, 0) == 0) st = target;
    const char* name = lastComponent(p.path.value);
    if (isSpecial(st.st_mode)) {
      *attributes = attr::Device | (link ? attr::ReparsePoint : 0) |
                    (name[0] == '.' ? attr::Hidden : 0);
      return FsStatus::Ok;
    }
    int dirFd = p.at.belowRoot() ? p.at.dir : -1;
    *attributes = attributesOf(st, EntryPlace{dirFd, name, p.path.c_str(), nullptr, nullptr});
    if (link) *attributes |= attr::ReparsePoint;
    return FsStatus::Ok;
  }

  FsStatus setAttributes(const char16_t* path, uint32_t attributes) override {
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    // A symbolic link keeps no attributes of its own here, and chmod would change the file
    // or folder it points to, which may lie anywhere: a link is refused as a whole.
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failErrno();
    if (isSpecial(st.st_mode)) return refuseNotAFile();
    char value[16];
    size_t units = dosAttribValue(attributes, value);
    // Set on the entry opened (never through a link put in its place meanwhile) where it can
    // be read; otherwise by name in its folder.
    int fd = openat(p.at.dir, p.at.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      FsStatus s = FsStatus::Ok;
      if (fstat(fd, &st) != 0) s = failErrno();
      else if (isSpecial(st.st_mode)) s = refuseNotAFile();
      mode_t mode = readOnlyMode(st.st_mode, (attributes & attr::ReadOnly) != 0);
      if (s == FsStatus::Ok && mode != (st.st_mode & 07777) && fchmod(fd, mode) != 0)
        s = failErrno();
      if (s == FsStatus::Ok) fsetxattr(fd, kDosAttribName, value, units, 0);
      ::close(fd);
      return s;
    }
    mode_t mode = readOnlyMode(st.st_mode, (attributes & attr::ReadOnly) != 0);
    if (mode != (st.st_mode & 07777) && fchmodat(p.at.dir, p.at.name, mode, 0) != 0)
      return failErrno();
    if (!p.at.belowRoot()) lsetxattr(p.path.c_str(), kDosAttribName, value, units, 0);
    return FsStatus::Ok;
  }

  FsStatus deleteFile(const char16_t* path) override {
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failErrno();
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    if (isReadOnlyFile(st)) return fail(EACCES);
    if (unlinkat(p.at.dir, p.at.name, 0) != 0) return failErrno();
    return FsStatus::Ok;
  }

  FsStatus rename(const char16_t* from, const char16_t* to, bool replace) override {
    PlacedPath source(from);
    if (source.status != FsStatus::Ok) return source.status;
    PlacedPath dest(to);
    if (dest.status != FsStatus::Ok) return dest.status;
    const Place& a = source.at;
    const Place& b = dest.at;
    struct stat s;
    if (fstatat(a.dir, a.name, &s, AT_SYMLINK_NOFOLLOW) != 0) return failErrno();
    // A folder held by some thread may be the one renamed, or lie below it.
    if (S_ISDIR(s.st_mode)) foldersChanged();
    // A new name in one call where the file system can refuse an existing one itself; when it
    // cannot, or the name is taken (perhaps by this entry in other letter case), as below.
    bool noReplaceRefused = false;
    if (!replace) {
      if (renameat2(a.dir, a.name, b.dir, b.name, RENAME_NOREPLACE) == 0) return FsStatus::Ok;
      noReplaceRefused = errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
    }
    struct stat d;
    // The same entry under another spelling (a file system that ignores case) is renamed to
    // exactly the name asked for.
    bool sameEntry = false;
    if (fstatat(b.dir, b.name, &d, AT_SYMLINK_NOFOLLOW) == 0) {
      sameEntry = d.st_dev == s.st_dev && d.st_ino == s.st_ino;
      if (!sameEntry) {
        if (!replace) return fail(EEXIST);
        if (S_ISDIR(d.st_mode) || isReadOnlyFile(d)) return fail(EACCES);
        // A link to a file is replaced itself; one to a folder is a folder here, and what the
        // listing calls Device is never replaced.
        struct stat t = d;
        if (S_ISLNK(d.st_mode) && fstatat(b.dir, b.name, &t, 0) != 0) return refuseNotAFile();
        if (S_ISDIR(t.st_mode)) return fail(EACCES);
        if (isSpecial(t.st_mode)) return refuseNotAFile();
      }
    }
    // Without the one call (exFAT, FAT, some network file systems), a look and then a rename
    // could replace what another thread or program puts there between the two.
    if (noReplaceRefused && !sameEntry) {
      int err = renameWithoutReplacingAt(a.dir, a.name, b.dir, b.name);
      return err == 0 ? FsStatus::Ok : fail(err);
    }
    if (renameat(a.dir, a.name, b.dir, b.name) != 0) return failErrno();
    return FsStatus::Ok;
  }

  FsStatus createHardLink(const char16_t* existing, const char16_t* newPath) override {
    PlacedPath source(existing);
    if (source.status != FsStatus::Ok) return source.status;
    PlacedPath dest(newPath);
    if (dest.status != FsStatus::Ok) return dest.status;
    // Without AT_SYMLINK_FOLLOW: a symbolic link gets the second name itself.
    if (linkat(source.at.dir, source.at.name, dest.at.dir, dest.at.name, 0) == 0)
      return FsStatus::Ok;
    int err = errno;
    // EPERM for a file (not a folder) is the answer of a file system without hard links (FAT,
    // exFAT) or of a kernel that allows none to another user's file; EMLINK says the file has
    // as many names as it may have. A copy may still be made.
    struct stat st;
    bool cannotLink = err == EOPNOTSUPP || err == EMLINK ||
                    (err == EPERM &&
                     fstatat(source.at.dir, source.at.name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                     !S_ISDIR(st.st_mode));
    if (!cannotLink) return fail(err);
    tLastError = err;
    return FsStatus::Unsupported;
  }

  FsStatus createDirectory(const char16_t* path) override {
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    if (mkdirat(p.at.dir, p.at.name, 0777) != 0) return failErrno();
    return FsStatus::Ok;
  }

  FsStatus createDirectoryWithPermissions(const char16_t* path, uint32_t permissions) override {
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    return makeFolderWithMode(p.at.dir, p.at.name, permissionBits(permissions));
  }

  FsStatus setFolderPermissions(const char16_t* path, uint32_t permissions) override {
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    return setFolderMode(p.at.dir, p.at.name, permissionBits(permissions));
  }

  FsStatus removeDirectory(const char16_t* path) override {
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failErrno();
    if (S_ISLNK(st.st_mode)) {
      if (unlinkat(p.at.dir, p.at.name, 0) != 0) return failErrno();
      return FsStatus::Ok;
    }
    foldersChanged();  // a held folder may be this one
    if (unlinkat(p.at.dir, p.at.name, AT_REMOVEDIR) != 0) return failErrno();
    return FsStatus::Ok;
  }

  FsStatus fullPath(const char16_t* path, std::u16string* full) override {
    std::string native;
    if (!toNative(path, &native)) return fail(EILSEQ);
    if (native.empty() || native[0] != '/') {
      char cwd[PATH_MAX];
      if (!getcwd(cwd, sizeof cwd)) return failErrno();
      native = std::string(cwd) + "/" + native;
    }
    // Fold "." and ".." and doubled separators, as the Windows call does, without touching disk.
    std::string out;
    size_t i = 0;
    while (i < native.size()) {
      size_t j = native.find('/', i);
      if (j == std::string::npos) j = native.size();
      std::string part = native.substr(i, j - i);
      if (part == "..") {
        size_t cut = out.rfind('/');
        out.resize(cut == std::string::npos ? 0 : cut);
      } else if (!part.empty() && part != ".") {
        out.push_back('/');
        out.append(part);
      }
      i = j + 1;
    }
    if (out.empty()) out.push_back('/');
    full->resize(out.size());
    size_t n = utf8ToUtf16Escaped(out.data(), out.size(), full->data(), full->size());
    if (n == kConversionFailed) return fail(EILSEQ);
    full->resize(n);
    return FsStatus::Ok;
  }

  FsStatus identify(const char16_t* path, FileIdentity* identity) override {
    NativePath p(path);
    if (!p.ok) return fail(EILSEQ);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return failErrno();
    identity->volume = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
    return FsStatus::Ok;
  }

  FsStatus resolvedPath(const char16_t* path, std::u16string* resolved) override {
    resolved->clear();
    NativePath p(path);
    if (!p.ok) return fail(EILSEQ);
    std::unique_ptr<char, decltype(&std::free)> real(realpath(p.c_str(), nullptr), &std::free);
    if (!real) return failErrno();
    size_t bytes = std::strlen(real.get());
    resolved->resize(bytes);
    size_t n = utf8ToUtf16Escaped(real.get(), bytes, resolved->data(), resolved->size());
    if (n == kConversionFailed) return fail(EILSEQ);
    resolved->resize(n);
    return FsStatus::Ok;
  }

  FsStatus freeSpace(const char16_t* path, uint64_t* bytes) override {
    *bytes = 0;
    NativePath p(path);
    if (!p.ok) return fail(EILSEQ);
    struct statvfs st;
    if (statvfs(p.c_str(), &st) != 0) return failErrno();
    *bytes = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
    return FsStatus::Ok;
  }

  // flock on a descriptor of the folder: it belongs to that open description, so a second
  // descriptor of this process is refused like another process, and the kernel drops it
  // when the descriptor is closed, at the latest when the process ends.
  FsStatus lockFolder(const char16_t* path, bool exclusive, FolderLock* lock) override {
    lock->handle = kInvalidHandle;
    NativePath p(path);
    if (!p.ok) return fail(EILSEQ);
    int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failErrno();
    int rc;
    do {
      rc = flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      int err = errno;
      ::close(fd);
      tLastError = err;
      if (err == EWOULDBLOCK) return FsStatus::InUse;
      if (err == EOPNOTSUPP || err == ENOLCK || err == ENOSYS) return FsStatus::Unsupported;
      return fail(err);
    }
    lock->handle = fd;
    return FsStatus::Ok;
  }
  void unlockFolder(FolderLock* lock) override {
    if (lock->held()) ::close(static_cast<int>(lock->handle));
    lock->handle = kInvalidHandle;
  }

  FsStatus addRoot(const char16_t* root) override { return addRootNamed(root); }
  void dropRoot(const char16_t* root) override { dropRootNamed(root); }

  int lastOsError() const override { return tLastError; }
  bool concurrentUse() const override { return true; }

 private:
  static constexpr FindHandle kEmptyFinder = -2;

  // createAlways with permissions as createWithPermissions takes them.
  FsStatus create(const char16_t* path, uint32_t attributes, uint32_t permissions,
                  FileHandle* file) {
    *file = kInvalidHandle;
    PlacedPath p(path);
    if (p.status != FsStatus::Ok) return p.status;
    struct stat st;
    if (fstatat(p.at.dir, p.at.name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      // Through a link whose target is missing, the open would create a file wherever it
      // points.
      if (S_ISLNK(st.st_mode) && fstatat(p.at.dir, p.at.name, &st, 0) != 0)
        return refuseNotAFile();
      if (S_ISDIR(st.st_mode)) return fail(EISDIR);
      if (!S_ISREG(st.st_mode)) return refuseNotAFile();
      if (isReadOnlyFile(st)) return fail(EACCES);
    }
    bool exact = permissions != kDefaultPermissions;
    int fd = openat(p.at.dir, p.at.name,
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                    exact ? permissionBits(permissions) : 0666);
    if (fd < 0) return failErrno();
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !makeBlocking(fd)) {
      ::close(fd);
      return refuseNotAFile();
    }
    giveCreatedBits(fd, st, attributes, permissions);
    *file = fd;
    return FsStatus::Ok;
  }

  // Gives a file just created or truncated (st: as it is now) the permission bits asked for,
  // with the read-only state of attributes, and stores the DOS bits.
  static void giveCreatedBits(int fd, const struct stat& st, uint32_t attributes,
                              uint32_t permissions) {
    bool exact = permissions != kDefaultPermissions;
    mode_t mode = readOnlyMode(exact ? permissionBits(permissions) : st.st_mode,
                               (attributes & attr::ReadOnly) != 0);
    if (mode != (st.st_mode & 07777)) fchmod(fd, mode);
    char value[16];
    fsetxattr(fd, kDosAttribName, value, dosAttribValue(attributes, value), 0);
  }
};

// strerror_r comes in two forms: the GNU one returns the text, the POSIX one fills buffer.
[[maybe_unused]] const char* errorTextOf(const char* text, const char*) { return text; }
[[maybe_unused]] const char* errorTextOf(int result, const char* buffer) { return result == 0 ? buffer : ""; }

}  // namespace

int renameWithoutReplacingAt(int sourceDir, const char* source, int targetDir,
                             const char* target) {
  struct stat s;
  if (fstatat(sourceDir, source, &s, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  bool folder = S_ISDIR(s.st_mode);
  if (!folder) {
    if (linkat(sourceDir, source, targetDir, target, 0) == 0) {
      if (unlinkat(sourceDir, source, 0) == 0) return 0;
      int err = errno;
      unlinkat(targetDir, target, 0);
      return err;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != ENOSYS)
      return errno;  // EEXIST among them: the name is taken
  }
  if (folder) {
    if (mkdirat(targetDir, target, 0700) != 0) return errno;
  } else {
    int fd = openat(targetDir, target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW,
                    0600);
    if (fd < 0) return errno;
    ::close(fd);
  }
  if (renameat(sourceDir, source, targetDir, target) == 0) return 0;
  int err = errno;
  unlinkat(targetDir, target, folder ? AT_REMOVEDIR : 0);
  return err;
}

int renameWithoutReplacing(const char* source, const char* target) {
  return renameWithoutReplacingAt(AT_FDCWD, source, AT_FDCWD, target);
}

Fs& systemFs() {
  static PosixFs fs;
  return fs;
}

std::string osErrorText(int osError) {
  if (osError == 0) return {};
  char buffer[256] = {};
  std::string text = errorTextOf(strerror_r(osError, buffer, sizeof buffer), buffer);
  while (!text.empty() && (text.back() == '.' || text.back() == '\n')) text.pop_back();
  return text;
}

const char16_t* lowerCaseTable() {
  static const char16_t* table = [] {
    static char16_t t[65536];
    for (unsigned u = 0; u < 65536; ++u) t[u] = simpleLowerCase(static_cast<char16_t>(u));
    return t;
  }();
  return table;
}

}  // namespace fw
