// The Win32 file system behind Fs: the wide-character calls, with paths passed through as they
// come (normally "\\?\" long forms, so that neither MAX_PATH nor name folding applies).
//
// Where the plain calls do not give what the interface promises, this file closes the gap:
// - findFirst on a folder that has no entries at all (an empty volume root, where even "." and
//   ".." are missing) fails like a missing folder would; the folder is looked at to tell the
//   cases apart, so that NotFound only ever means that the folder is not there.
// - createAlways replaces an existing hidden or system file as any other (CreateFileW refuses
//   unless the new attributes repeat those bits), never a read-only one, and leaves exactly
//   the attributes asked for.
// - rename onto the same name in other letter case takes that case also where the file
//   system ignores such a rename.
// - Below a run's root (Fs::addRoot), every folder on the way from the root to the entry a
//   call names is opened first, itself and not what a link there leads to, checked to be a
//   folder and no reparse point, and held open without FILE_SHARE_DELETE until the call
//   returns: while it is held nobody can rename it, remove it or put a link in its place, so
//   the path the call then names leads through exactly the folders that were checked.
// - copyData keeps the holes of a sparse file (FILE_ATTRIBUTE_SPARSE_FILE): the copy is made
//   sparse and receives only the source's allocated ranges; any other file is copied by the
//   caller's reads and writes.

#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <memory>
#include <new>
#include <mutex>
#include <string>
#include <vector>

#include "platform/case_map.h"
#include "platform/fs.h"
#include "platform/long_path.h"
#include "platform/sparse_copy.h"
#include "platform/text.h"

namespace fw {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 paths go to the wide calls as they are");

thread_local DWORD tLastError = 0;

// The one translation of Win32 error codes.
FsStatus statusOf(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return FsStatus::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return FsStatus::AccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return FsStatus::InUse;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: return FsStatus::Exists;
    case ERROR_NO_MORE_FILES: return FsStatus::NoMoreFiles;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return FsStatus::DiskFull;
    case ERROR_DIR_NOT_EMPTY: return FsStatus::NotEmpty;
    case ERROR_NOT_SAME_DEVICE: return FsStatus::CrossDevice;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME: return FsStatus::InvalidName;
    default: return FsStatus::IoError;
  }
}

FsStatus fail(DWORD err) {
  tLastError = err;
  return statusOf(err);
}

FsStatus failLast() { return fail(GetLastError()); }

const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
HANDLE toHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
intptr_t fromHandle(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

bool isSparse(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
}

uint64_t ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME fileTime(uint64_t ticks) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return t;
}

bool isNotFound(DWORD err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }

// The attribute bits a created file may be given; no flags, no Directory, Normal only alone.
DWORD creationAttributes(uint32_t attributes) {
  DWORD a = attributes & (attr::ReadOnly | attr::Hidden | attr::System | attr::Archive);
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

void describe(const WIN32_FIND_DATAW& data, FindEntry* entry) {
  static_assert(sizeof data.cFileName / sizeof data.cFileName[0] == kMaxNameUnits);
  size_t i = 0;
  for (; i < kMaxNameUnits - 1 && data.cFileName[i]; ++i)
    entry->name[i] = static_cast<char16_t>(data.cFileName[i]);
  entry->name[i] = 0;
  entry->attributes = data.dwFileAttributes;
  entry->modified = ticks(data.ftLastWriteTime);
  bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry->size = dir ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The folder a pattern lists: the pattern without "\*", but keeping the separator after a
// drive ("C:\", "\\?\C:\"), where the folder without it would be the drive's current folder
// or the volume device.
std::u16string folderOfPattern(const char16_t* pattern) {
  std::u16string folder(pattern);
  if (folder.size() >= 2 && folder.back() == u'*' &&
      (folder[folder.size() - 2] == u'\\' || folder[folder.size() - 2] == u'/')) {
    folder.resize(folder.size() - 2);
    if (folder.empty() || folder.back() == u':') folder += u'\\';
  }
  return folder;
}

// FindFirstFileW failed with a not-found code (findErr): either the folder is missing, or it
// exists and has no entries at all. Ok means the latter. Anything that exists but is not a
// listable folder is a failed listing, never NotFound.
FsStatus checkUnlistedFolder(const char16_t* pattern, DWORD findErr) {
  std::u16string folder = folderOfPattern(pattern);
  DWORD a = GetFileAttributesW(wide(folder.c_str()));
  if (a == INVALID_FILE_ATTRIBUTES) {
    DWORD err = GetLastError();
    return fail(isNotFound(err) ? findErr : err);
  }
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    fail(ERROR_DIRECTORY);
    return FsStatus::IoError;
  }
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link or junction whose target is gone is there but cannot be listed: not empty.
    HANDLE h = CreateFileW(wide(folder.c_str()), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      FsStatus s = failLast();
      return s == FsStatus::NotFound ? FsStatus::IoError : s;
    }
    CloseHandle(h);
  }
  return FsStatus::Ok;
}

// True when a and b are the same path, perhaps spelled in other letter case.
bool sameIgnoringCase(const char16_t* a, const char16_t* b) {
  const char16_t* lower = lowerCaseTable();
  for (; *a && *b; ++a, ++b)
    if (*a != *b && lower[*a] != lower[*b]) return false;
  return *a == *b;
}

size_t nameStart(const std::u16string& path) {
  size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string::npos ? 0 : cut + 1;
}

// After a rename onto the same name, spelled as the entry is meant to be called: some file
// systems (Wine's among them) report success and keep the old spelling. Such an entry is
// renamed away and back.
FsStatus takeLetterCase(const char16_t* from, const char16_t* to) {
  std::u16string target(to);
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(wide(to), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return failLast();
  FindClose(h);
  size_t name = nameStart(target);
  if (target.compare(name, std::u16string::npos,
                     reinterpret_cast<const char16_t*>(data.cFileName)) == 0)
    return FsStatus::Ok;
  std::u16string aside = target.substr(0, name) + u"~fw-case.tmp";
  if (!MoveFileExW(wide(to), wide(aside.c_str()), 0)) return failLast();
  if (!MoveFileExW(wide(aside.c_str()), wide(to), 0)) {
    DWORD err = GetLastError();
    MoveFileExW(wide(aside.c_str()), wide(from), 0);
    return fail(err);
  }
  return FsStatus::Ok;
}

// ---- Paths below a run's roots ----

#ifndef ERROR_STOPPED_ON_SYMLINK
#define ERROR_STOPPED_ON_SYMLINK 681L
#endif

struct RootList {
  std::mutex mutex;
  std::vector<std::pair<std::u16string, int>> counted;  // each root (no final '\') and its adds
};

RootList& rootList() {
  static RootList list;
  return list;
}

std::u16string rootForm(const char16_t* root) {
  std::u16string r(root);
  while (!r.empty() && (r.back() == u'\\' || r.back() == u'/')) r.pop_back();
  return r;
}

// The length of the longest added root that path lies below (the root, a separator and a
// name at least), or npos.
size_t rootBelow(const std::u16string_view path) {
  RootList& list = rootList();
  std::lock_guard<std::mutex> lock(list.mutex);
  size_t best = std::u16string::npos;
  for (const auto& c : list.counted) {
    size_t n = c.first.size();
    if (n == 0 || path.size() <= n + 1 || path[n] != u'\\' || path.substr(0, n) != c.first)
      continue;
    if (best == std::u16string::npos || n > best) best = n;
  }
  // A ".." after the root: not a path the engine built below it (its names never are ".."),
  // but one a user gave; used by name, as without roots.
  for (size_t at = best == std::u16string::npos ? best : path.find(u"\\..", best);
       at != std::u16string::npos; at = path.find(u"\\..", at + 1)) {
    if (at + 3 == path.size() || path[at + 3] == u'\\') return std::u16string::npos;
  }
  return best;
}

// NtCreateFile opens a name relative to a folder's handle: each folder on the way is opened
// from the one above it, in one step, instead of by its whole path (which would be looked up
// name by name again for every folder, a cost that grows with the square of the depth).
using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
using StatusToErrorCall = ULONG(NTAPI*)(NTSTATUS);

struct RelativeOpen {
  NtCreateFileCall create = nullptr;
  StatusToErrorCall toError = nullptr;
};

const RelativeOpen& relativeOpen() {
  static const RelativeOpen calls = [] {
    RelativeOpen r;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll) {
      r.create = reinterpret_cast<NtCreateFileCall>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
      r.toError = reinterpret_cast<StatusToErrorCall>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    }
    if (!r.create || !r.toError) r = RelativeOpen{};
    return r;
  }();
  return calls;
}

// The folders on the way from a root to the entry a path names, each open and checked while
// this lives (see the top of the file). status is Ok, or why the way is refused: a folder
// there that is a link or junction (AccessDenied, ERROR_STOPPED_ON_SYMLINK), not a folder
// (IoError), missing (NotFound) or that cannot be opened.
class HeldWay {
 public:
  static constexpr std::ptrdiff_t kMaxHeldFolders = 64;

  explicit HeldWay(const char16_t* path) {
    std::u16string_view p(path);
    size_t root = p.empty() ? std::u16string::npos : rootBelow(p);
    if (root == std::u16string::npos) return;
    // Every call opens each folder on its way, so the cost grows with the square of the depth
    // (a tree 600 folders deep took many minutes under Wine). Deeper than kMaxHeldFolders below
    // the root, a path is used by name, as without roots; the file operations' own link check
    // on the path still refuses a link there.
    if (std::count(p.begin() + static_cast<std::ptrdiff_t>(root) + 1, p.end(), u'\\') >
        kMaxHeldFolders)
      return;
    try {
      std::u16string folder(p);
      const RelativeOpen& relative = relativeOpen();
      HANDLE above = INVALID_HANDLE_VALUE;
      if (relative.create) {
        // The root by name (it may be a link), shared in every way: it is not ours to hold.
        std::u16string top(p.substr(0, root));
        if (top.back() == u':') top += u'\\';  // the drive's root folder, not its volume
        above = CreateFileW(wide(top.c_str()), FILE_TRAVERSE | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (above == INVALID_HANDLE_VALUE) {
          status = failLast();
          return;
        }
        held_.push_back(above);
      }
      size_t begin = root + 1;
      for (size_t at = p.find(u'\\', begin); at != std::u16string::npos;
           at = p.find(u'\\', begin)) {
        if (relative.create) {
          status = holdBelow(relative, above, p.substr(begin, at - begin));
          above = held_.empty() ? INVALID_HANDLE_VALUE : held_.back();
        } else {
          folder[at] = 0;
          status = hold(folder.c_str());
          folder[at] = u'\\';
        }
        if (status != FsStatus::Ok) return;
        begin = at + 1;
      }
    } catch (const std::bad_alloc&) {
      status = fail(ERROR_NOT_ENOUGH_MEMORY);
    }
  }
  ~HeldWay() {
    for (HANDLE h : held_) CloseHandle(h);
  }
  HeldWay(const HeldWay&) = delete;
  HeldWay& operator=(const HeldWay&) = delete;

  FsStatus status = FsStatus::Ok;

 private:
  // Opens the folder name inside the folder above (itself, not what a link there leads to).
  FsStatus holdBelow(const RelativeOpen& relative, HANDLE above, std::u16string_view name) {
    if (name.size() * sizeof(char16_t) > 0xFFFE) return fail(ERROR_FILENAME_EXCED_RANGE);
    UNICODE_STRING object;
    object.Buffer = const_cast<PWSTR>(reinterpret_cast<const wchar_t*>(name.data()));
    object.Length = static_cast<USHORT>(name.size() * sizeof(char16_t));
    object.MaximumLength = object.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &object, OBJ_CASE_INSENSITIVE, above, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE h = INVALID_HANDLE_VALUE;
    constexpr ULONG kOpen = 0x00000001;  // FILE_OPEN
    constexpr ULONG kOptions = 0x00000001 | 0x00000020 | 0x00004000 | 0x00200000;
    // FILE_DIRECTORY_FILE, FILE_SYNCHRONOUS_IO_NONALERT, FILE_OPEN_FOR_BACKUP_INTENT,
    // FILE_OPEN_REPARSE_POINT
    NTSTATUS st = relative.create(&h, FILE_READ_ATTRIBUTES | FILE_TRAVERSE | SYNCHRONIZE,
                                  &attributes, &io, nullptr, 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, kOpen, kOptions, nullptr, 0);
    if (st < 0) return fail(relative.toError(st));
    return check(h);
  }

  FsStatus hold(const char16_t* folder) {
    HANDLE h = CreateFileW(wide(folder), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failLast();
    return check(h);
  }

  // Keeps h held and checks that it is a folder and no link.
  FsStatus check(HANDLE h) {
    held_.push_back(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return failLast();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      fail(ERROR_STOPPED_ON_SYMLINK);
      return FsStatus::AccessDenied;  // refused, not missing: something is there
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      fail(ERROR_DIRECTORY);
      return FsStatus::IoError;
    }
    return FsStatus::Ok;
  }

  std::vector<HANDLE> held_;
};

class Win32Fs final : public Fs {
 public:
  FsStatus findFirst(const char16_t* pattern, FindHandle* handle, FindEntry* entry) override {
    HeldWay way(pattern);
    if (way.status != FsStatus::Ok) return way.status;
    *handle = kInvalidHandle;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileExW(wide(pattern), FindExInfoBasic, &data, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h != INVALID_HANDLE_VALUE) {
      describe(data, entry);
      *handle = fromHandle(h);
      return FsStatus::Ok;
    }
    DWORD err = GetLastError();
    if (!isNotFound(err)) return fail(err);
    FsStatus s = checkUnlistedFolder(pattern, err);
    if (s != FsStatus::Ok) return s;
    // An existing folder without entries: an enumeration of "." alone, as elsewhere.
    *handle = kEmptyFinder;
    entry->name[0] = u'.';
    entry->name[1] = 0;
    entry->attributes = attr::Directory;
    entry->modified = 0;
    entry->size = 0;
    return FsStatus::Ok;
  }

  FsStatus findNext(FindHandle handle, FindEntry* entry) override {
    if (handle == kEmptyFinder) return FsStatus::NoMoreFiles;
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(toHandle(handle), &data)) {
      DWORD err = GetLastError();
      // The end of a listing is not a failure: lastOsError keeps the last real one.
      return err == ERROR_NO_MORE_FILES ? FsStatus::NoMoreFiles : fail(err);
    }
    describe(data, entry);
    return FsStatus::Ok;
  }

  void findClose(FindHandle handle) override {
    if (handle == kInvalidHandle || handle == kEmptyFinder) return;
    FindClose(toHandle(handle));
  }

  FsStatus openRead(const char16_t* path, FileHandle* file) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    *file = kInvalidHandle;
    HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failLast();
    // Only files on a disk are read: a pipe or a device that a path may lead to is not.
    if (GetFileType(h) != FILE_TYPE_DISK) {
      CloseHandle(h);
      return fail(ERROR_ACCESS_DENIED);
    }
    *file = fromHandle(h);
    return FsStatus::Ok;
  }

  FsStatus createAlways(const char16_t* path, uint32_t attributes, FileHandle* file) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    *file = kInvalidHandle;
    DWORD wanted = creationAttributes(attributes);
    DWORD existing = GetFileAttributesW(wide(path));
    bool replacing = existing != INVALID_FILE_ATTRIBUTES;
    // Checked here rather than left to CreateFileW: Wine, run as root, overwrites a read-only
    // file.
    if (replacing && (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
      return fail(ERROR_ACCESS_DENIED);
    // CreateFileW refuses to replace a hidden or system file unless the new attributes repeat
    // those bits: create it with them, then set the attributes asked for.
    DWORD with = wanted;
    if (replacing && (existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
      with = (wanted & ~FILE_ATTRIBUTE_NORMAL) |
             (existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    HANDLE h = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           with, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failLast();
    // Some file systems keep the old bits of a replaced file whatever CreateFileW was given.
    if (replacing && (existing & kDosBits) != (wanted & kDosBits)) {
      FILE_BASIC_INFO info = {};  // zero times: left as they are
      info.FileAttributes = wanted;
      SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
    }
    *file = fromHandle(h);
    return FsStatus::Ok;
  }

  FsStatus read(FileHandle file, void* buffer, uint32_t size, uint32_t* got) override {
    DWORD n = 0;
    *got = 0;
    if (!ReadFile(toHandle(file), buffer, size, &n, nullptr)) return failLast();
    *got = n;
    return FsStatus::Ok;
  }

  FsStatus write(FileHandle file, const void* data, uint32_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      DWORD n = 0;
      if (!WriteFile(toHandle(file), p, size, &n, nullptr)) return failLast();
      if (n == 0) return fail(ERROR_DISK_FULL);
      p += n;
      size -= n;
    }
    return FsStatus::Ok;
  }

  FsStatus seek(FileHandle file, uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return fail(ERROR_NEGATIVE_SEEK);
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(toHandle(file), to, nullptr, FILE_BEGIN)) return failLast();
    return FsStatus::Ok;
  }

  FsStatus tell(FileHandle file, uint64_t* offset) override {
    LARGE_INTEGER zero, at;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(toHandle(file), zero, &at, FILE_CURRENT)) return failLast();
    *offset = static_cast<uint64_t>(at.QuadPart);
    return FsStatus::Ok;
  }

  // Sparse files. From a source that is sparse, the copy (made sparse first, FSCTL_SET_SPARSE)
  // receives the source's allocated ranges (FSCTL_QUERY_ALLOCATED_RANGES) with reads and
  // writes, each call up to the end of the range it starts in; a stretch between them is
  // skipped in both files, the copy's end moved over it (FileEndOfFileInfo), which leaves it
  // unallocated and gives a copy that ends in one its full size. Unsupported, so that the
  // caller reads and writes the file whole, for a source that is not sparse and for a copy
  // whose file system refuses to be (FAT, or a system without sparse files).
  FsStatus copyData(FileHandle from, FileHandle to, uint32_t size, uint32_t* copied) override {
    *copied = 0;
    HANDLE in = toHandle(from);
    HANDLE out = toHandle(to);
    if (!isSparse(in)) return FsStatus::Unsupported;
    if (!isSparse(out)) {
      FILE_SET_SPARSE_BUFFER on = {};
      on.SetSparse = TRUE;
      DWORD n = 0;
      if (!DeviceIoControl(out, FSCTL_SET_SPARSE, &on, sizeof on, nullptr, 0, &n, nullptr) ||
          !isSparse(out))
        return FsStatus::Unsupported;
    }
    LARGE_INTEGER zero, at, end;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(in, zero, &at, FILE_CURRENT) || !GetFileSizeEx(in, &end))
      return failLast();
    if (at.QuadPart >= end.QuadPart) return FsStatus::Ok;  // the end: the caller's read agrees
    // The first allocated range from here on. A source that cannot say is data from here.
    FILE_ALLOCATED_RANGE_BUFFER ask = {}, answer = {};
    ask.FileOffset = at;
    ask.Length.QuadPart = end.QuadPart - at.QuadPart;
    DWORD bytes = 0;
    AllocatedRange range{static_cast<uint64_t>(at.QuadPart), ~uint64_t{0}};
    const AllocatedRange* first = &range;
    if (DeviceIoControl(in, FSCTL_QUERY_ALLOCATED_RANGES, &ask, sizeof ask, &answer,
                        sizeof answer, &bytes, nullptr) ||
        GetLastError() == ERROR_MORE_DATA) {
      if (bytes < sizeof answer) {
        first = nullptr;  // none: a hole up to the end
      } else {
        range.offset = static_cast<uint64_t>(answer.FileOffset.QuadPart);
        range.length = static_cast<uint64_t>(answer.Length.QuadPart);
      }
    }
    const SparseStep step = sparseStep(static_cast<uint64_t>(at.QuadPart),
                                       static_cast<uint64_t>(end.QuadPart), first, size);
    if (step.hole) {
      const LONGLONG next = at.QuadPart + step.bytes;
      LARGE_INTEGER written;
      if (!GetFileSizeEx(out, &written)) return failLast();
      if (written.QuadPart < next) {
        FILE_END_OF_FILE_INFO eof = {};
        eof.EndOfFile.QuadPart = next;
        if (!SetFileInformationByHandle(out, FileEndOfFileInfo, &eof, sizeof eof))
          return failLast();
      }
      FsStatus s = seek(to, static_cast<uint64_t>(next));
      if (s == FsStatus::Ok) s = seek(from, static_cast<uint64_t>(next));
      if (s != FsStatus::Ok) return s;
      *copied = step.bytes;
      return FsStatus::Ok;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[step.bytes]);
    if (!buffer) return fail(ERROR_NOT_ENOUGH_MEMORY);
    uint32_t got = 0;
    FsStatus s = read(from, buffer.get(), step.bytes, &got);
    if (s == FsStatus::Ok && got > 0) s = write(to, buffer.get(), got);
    if (s != FsStatus::Ok) return s;
    *copied = got;
    return FsStatus::Ok;
  }

  void close(FileHandle file) override {
    if (file != kInvalidHandle) CloseHandle(toHandle(file));
  }

  FsStatus getFileTime(FileHandle file, uint64_t* modified) override {
    FILETIME written;
    if (!GetFileTime(toHandle(file), nullptr, nullptr, &written)) return failLast();
    *modified = ticks(written);
    return FsStatus::Ok;
  }

  FsStatus getFileStamp(FileHandle file, FileStamp* stamp) override {
    *stamp = FileStamp{};
    FILE_BASIC_INFO basic;
    LARGE_INTEGER size;
    if (!GetFileInformationByHandleEx(toHandle(file), FileBasicInfo, &basic, sizeof basic) ||
        !GetFileSizeEx(toHandle(file), &size))
      return failLast();
    stamp->size = static_cast<uint64_t>(size.QuadPart);
    stamp->modified = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
    stamp->changed = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    return FsStatus::Ok;
  }

  FsStatus getEntryStamp(const char16_t* path, FileStamp* stamp) override {
    *stamp = FileStamp{};
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    // The entry itself, as its folder's listing reports it (a link is not followed).
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return failLast();
    bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    stamp->size = dir ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp->modified = ticks(data.ftLastWriteTime);
    stamp->attributes =
        data.dwFileAttributes & (attr::Directory | attr::ReparsePoint | attr::Device);
    return FsStatus::Ok;
  }

  FsStatus setFileTimes(FileHandle file, uint64_t created, uint64_t accessed,
                        uint64_t modified) override {
    FILETIME c = fileTime(created), a = fileTime(accessed), m = fileTime(modified);
    if (!SetFileTime(toHandle(file), &c, &a, &m)) return failLast();
    return FsStatus::Ok;
  }

  FsStatus getAttributes(const char16_t* path, uint32_t* attributes) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    DWORD a = GetFileAttributesW(wide(path));
    if (a == INVALID_FILE_ATTRIBUTES) return failLast();
    *attributes = a;
    return FsStatus::Ok;
  }

  FsStatus setAttributes(const char16_t* path, uint32_t attributes) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    DWORD current = GetFileAttributesW(wide(path));
    if (current == INVALID_FILE_ATTRIBUTES) return failLast();
    // SetFileAttributesW replaces every settable bit: keep those that are not ours to set.
    DWORD keep = current & (FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    DWORD set = attributes & (attr::ReadOnly | attr::Hidden | attr::System | attr::Archive);
    DWORD a = keep | set;
    if (!SetFileAttributesW(wide(path), a ? a : FILE_ATTRIBUTE_NORMAL)) return failLast();
    return FsStatus::Ok;
  }

  FsStatus deleteFile(const char16_t* path) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    if (!DeleteFileW(wide(path))) return failLast();
    return FsStatus::Ok;
  }

  FsStatus rename(const char16_t* from, const char16_t* to, bool replace) override {
    HeldWay way(from);
    if (way.status != FsStatus::Ok) return way.status;
    HeldWay way2(to);
    if (way2.status != FsStatus::Ok) return way2.status;
    bool caseOnly = sameIgnoringCase(from, to);
    if (replace && !caseOnly) {
      // As in createAlways: Wine run as root would replace a read-only file.
      DWORD existing = GetFileAttributesW(wide(to));
      if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
        return fail(ERROR_ACCESS_DENIED);
    }
    if (!MoveFileExW(wide(from), wide(to), replace ? MOVEFILE_REPLACE_EXISTING : 0))
      return failLast();
    if (caseOnly) return takeLetterCase(from, to);
    return FsStatus::Ok;
  }

  FsStatus createHardLink(const char16_t* existing, const char16_t* newPath) override {
    HeldWay way(existing);
    if (way.status != FsStatus::Ok) return way.status;
    HeldWay way2(newPath);
    if (way2.status != FsStatus::Ok) return way2.status;
    if (CreateHardLinkW(wide(newPath), wide(existing), nullptr)) return FsStatus::Ok;
    DWORD err = GetLastError();
    // A file system without hard links (FAT, exFAT, some network shares), or a file that has
    // as many names as it may have: the caller copies instead.
    if (err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION ||
        err == ERROR_TOO_MANY_LINKS) {
      tLastError = err;
      return FsStatus::Unsupported;
    }
    return fail(err);
  }

  FsStatus createDirectory(const char16_t* path) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    if (!CreateDirectoryW(wide(path), nullptr)) return failLast();
    return FsStatus::Ok;
  }

  FsStatus removeDirectory(const char16_t* path) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    if (!RemoveDirectoryW(wide(path))) return failLast();
    return FsStatus::Ok;
  }

  // The shell's file operation knows no long-path prefix and wants a list ended by two NULs.
  FsStatus moveToRecycleBin(const char16_t* path) override {
    HeldWay way(path);
    if (way.status != FsStatus::Ok) return way.status;
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return failLast();
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_READONLY))
      return fail(ERROR_ACCESS_DENIED);  // as deleteFile: a read-only file is not removed
    std::u16string list = fromLongPath(path);
    if (list.size() >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
    list.push_back(u'\0');
    list.push_back(u'\0');
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = wide(list.c_str());
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    int result = SHFileOperationW(&op);
    if (result != 0) return fail(static_cast<DWORD>(result));
    if (op.fAnyOperationsAborted) return fail(ERROR_CANCELLED);
    // Nothing is reported as moved that is still there.
    if (GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES)
      return fail(ERROR_ACCESS_DENIED);
    return FsStatus::Ok;
  }

  FsStatus fullPath(const char16_t* path, std::u16string* full) override {
    // A prefixed path is taken in its ordinary form, so that dots are folded in both.
    std::u16string plain(path);
    if (plain.rfind(u"\\\\?\\UNC\\", 0) == 0) plain.erase(2, 6);
    else if (plain.rfind(u"\\\\?\\", 0) == 0) plain.erase(0, 4);
    std::wstring out(MAX_PATH, L'\0');
    for (;;) {
      DWORD n = GetFullPathNameW(wide(plain.c_str()), static_cast<DWORD>(out.size()), out.data(),
                                 nullptr);
      if (n == 0) return failLast();
      if (n < out.size()) {  // fitted: n excludes the terminator
        full->assign(reinterpret_cast<const char16_t*>(out.data()), n);
        return FsStatus::Ok;
      }
      out.resize(n);  // too small: n is the size needed, terminator included
    }
  }

  FsStatus identify(const char16_t* path, FileIdentity* identity) override {
    HANDLE h = CreateFileW(wide(path), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failLast();
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(h, &info);
    DWORD err = GetLastError();
    CloseHandle(h);
    if (!ok) return fail(err);
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return FsStatus::Ok;
  }

  FsStatus resolvedPath(const char16_t* path, std::u16string* resolved) override {
    resolved->clear();
    HANDLE h = CreateFileW(wide(path), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failLast();
    std::wstring out(MAX_PATH, L'\0');
    DWORD n = 0;
    for (;;) {
      n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (n == 0 || n < out.size()) break;  // failed, or fitted (n excludes the terminator)
      out.resize(n);                        // too small: n is the size needed
    }
    DWORD err = GetLastError();
    CloseHandle(h);
    if (n == 0) return fail(err);
    // The call answers in the long form; the contract is fullPath's.
    out.resize(n);
    *resolved = fromLongPath(reinterpret_cast<const char16_t*>(out.c_str()));
    return FsStatus::Ok;
  }

  FsStatus freeSpace(const char16_t* path, uint64_t* bytes) override {
    *bytes = 0;
    // A folder, given with its trailing separator as the call wants for a share.
    std::u16string folder(path);
    if (folder.empty() || folder.back() != u'\\') folder += u'\\';
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(wide(folder.c_str()), &available, nullptr, nullptr)) return failLast();
    *bytes = available.QuadPart;
    return FsStatus::Ok;
  }

  // Named objects of the session made from the folder's volume serial and file id, so every
  // spelling of one folder meets the same ones, and they vanish with their last handle: an
  // exclusive holder owns a mutex, shared holders share a semaphore. Each side creates its own
  // object first and then looks for the other's, so two of them can fail together (the caller
  // tries again) but never both hold.
  FsStatus lockFolder(const char16_t* path, bool exclusive, FolderLock* lock) override {
    lock->handle = kInvalidHandle;
    FileIdentity id;
    if (FsStatus s = identify(path, &id); s != FsStatus::Ok) return s;
    std::wstring writer = L"Local\\Ferrywick.folder.";
    for (uint64_t part : {id.volume, id.index}) {
      for (int shift = 60; shift >= 0; shift -= 4)
        writer += L"0123456789abcdef"[(part >> shift) & 15];
      writer += L'.';
    }
    std::wstring readers = writer + L'r';
    writer += L'w';
    HANDLE mine = exclusive ? CreateMutexW(nullptr, FALSE, writer.c_str())
                            : CreateSemaphoreW(nullptr, 0, 1, readers.c_str());
    if (!mine) return failLast();
    if (exclusive && GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(mine);
      fail(ERROR_ALREADY_EXISTS);
      return FsStatus::InUse;
    }
    HANDLE other = exclusive ? OpenSemaphoreW(SYNCHRONIZE, FALSE, readers.c_str())
                             : OpenMutexW(SYNCHRONIZE, FALSE, writer.c_str());
    if (other) {
      CloseHandle(other);
      CloseHandle(mine);
      fail(ERROR_ALREADY_EXISTS);
      return FsStatus::InUse;
    }
    lock->handle = reinterpret_cast<intptr_t>(mine);
    return FsStatus::Ok;
  }
  void unlockFolder(FolderLock* lock) override {
    if (lock->held()) CloseHandle(reinterpret_cast<HANDLE>(lock->handle));
    lock->handle = kInvalidHandle;
  }

  FsStatus addRoot(const char16_t* root) override {
    RootList& list = rootList();
    try {
      std::u16string r = rootForm(root);
      std::lock_guard<std::mutex> lock(list.mutex);
      for (auto& c : list.counted) {
        if (c.first == r) {
          ++c.second;
          return FsStatus::Ok;
        }
      }
      list.counted.emplace_back(std::move(r), 1);
    } catch (const std::exception&) {  // no memory, or the lock
      return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return FsStatus::Ok;
  }

  void dropRoot(const char16_t* root) override {
    RootList& list = rootList();
    try {
      std::u16string r = rootForm(root);
      std::lock_guard<std::mutex> lock(list.mutex);
      for (size_t i = 0; i < list.counted.size(); ++i) {
        if (list.counted[i].first != r || --list.counted[i].second > 0) continue;
        list.counted.erase(list.counted.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    } catch (const std::exception&) {
      // The root stays added: its paths stay confined, which is safe.
    }
  }

  int lastOsError() const override { return static_cast<int>(tLastError); }
  bool concurrentUse() const override { return true; }

 private:
  static constexpr FindHandle kEmptyFinder = -2;
  static constexpr DWORD kDosBits =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
      FILE_ATTRIBUTE_ARCHIVE;
};

// Lower-cases every unit but the surrogates and 0 in one call; false when the call does not
// map them one to one, as it must for a per-unit table.
bool mapUnitsAtOnce(char16_t* table) {
  std::wstring in, out;
  in.reserve(65536);
  for (unsigned u = 1; u < 0x10000; ++u)
    if (u < 0xD800 || u > 0xDFFF) in.push_back(static_cast<wchar_t>(u));
  out.resize(in.size());
  int n = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_LOWERCASE, in.data(),
                        static_cast<int>(in.size()), out.data(), static_cast<int>(out.size()),
                        nullptr, nullptr, 0);
  if (n != static_cast<int>(in.size())) return false;
  for (size_t i = 0; i < in.size(); ++i) table[in[i]] = static_cast<char16_t>(out[i]);
  return true;
}

void mapUnitsOneByOne(char16_t* table) {
  for (unsigned u = 1; u < 0x10000; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    wchar_t in = static_cast<wchar_t>(u), out = 0;
    int n = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_LOWERCASE, &in, 1, &out, 1, nullptr,
                          nullptr, 0);
    table[u] = n == 1 ? static_cast<char16_t>(out) : simpleLowerCase(static_cast<char16_t>(u));
  }
}

}  // namespace

Fs& systemFs() {
  static Win32Fs fs;
  return fs;
}

std::string osErrorText(int osError) {
  if (osError == 0) return {};
  wchar_t* message = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(osError), 0,
                           reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text;
  if (n > 0 && message) text = toUtf8(std::u16string_view(reinterpret_cast<char16_t*>(message), n));
  if (message) LocalFree(message);
  while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == '\r' ||
                           text.back() == ' '))
    text.pop_back();
  return text;
}

const char16_t* lowerCaseTable() {
  static const char16_t* table = [] {
    static char16_t t[65536];
    for (unsigned u = 0; u < 65536; ++u) t[u] = static_cast<char16_t>(u);
    if (!mapUnitsAtOnce(t)) mapUnitsOneByOne(t);
    // Comparisons rely on 0 staying the terminator and on pairs staying pairs.
    for (unsigned u = 1; u < 65536; ++u)
      if (t[u] == 0 || (t[u] >= 0xD800 && t[u] <= 0xDFFF)) t[u] = static_cast<char16_t>(u);
    return t;
  }();
  return table;
}

}  // namespace fw
