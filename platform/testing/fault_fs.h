// A forwarding Fs that fails chosen calls, for the engine's failure-path tests.
//
//   FaultFs fs(systemFs());
//   fs.failNth(FsOp::Write, 3, FsStatus::IoError);        // the third write from now fails
//   fs.failNth(FsOp::Read, 1, FsStatus::IoError, true);   // every read from the next on fails
//   fs.failPath(FsOp::FindFirst, u"locked", FsStatus::AccessDenied);  // paths containing it
//   fs.diskFullAfter(1 << 20);                            // writes beyond 1 MiB report DiskFull
//   fs.failPath(FsOp::Delete, u"a.txt", FsStatus::InUse, kSharingError);  // with an OS error
//   fs.setLogging(true); ... fs.log()                     // "rename a -> b" lines, in order
//
// Counting and logging are guarded by a mutex, so a worker thread may use it too.
#ifndef FERRYWICK_PLATFORM_TESTING_FAULT_FS_H
#define FERRYWICK_PLATFORM_TESTING_FAULT_FS_H

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/testing/forwarding_fs.h"

namespace fw {

enum class FsOp {
  FindFirst,
  FindNext,
  OpenRead,
  Create,
  Read,
  Write,
  Seek,
  SetFileTimes,
  SetAttributes,
  Delete,
  Rename,
  CreateDirectory,
  RemoveDirectory,
  SetPermissions,
  CreateHardLink,
  LockFolder,  // counted and failed, not logged
  GetFileStamp,   // neither is logged: they change nothing
  GetEntryStamp,
  AddRoot,  // Fs::addRoot; counted but never logged (every run adds its roots)
  Count
};

const char* fsOpName(FsOp op);

class FaultFs : public ForwardingFs {
 public:
  explicit FaultFs(Fs& base) : ForwardingFs(base) {}

  // The nth call of op from now (1 = the next one) fails with status; with persistent, every
  // call from then on fails too. An injected failure leaves osError in lastOsError() on the
  // failing thread, until that thread's next counted call (0: the system reports none).
  void failNth(FsOp op, int nth, FsStatus status, bool persistent = false, int osError = 0);
  // Every call of op whose path contains fragment fails with status (and osError).
  void failPath(FsOp op, std::u16string fragment, FsStatus status, int osError = 0);
  // Writes fail with DiskFull (and osError) once this many more bytes have been written (a
  // write that would cross the limit writes nothing and fails).
  void diskFullAfter(uint64_t bytes, int osError = 0);
  // freeSpace reports this many bytes on every volume (until clearFaults).
  void reportFreeSpace(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    freeSpace_ = bytes;
    fakeFreeSpace_ = true;
  }
  void clearFaults();

  void setLogging(bool on);
  std::vector<std::string> log() const;
  int calls(FsOp op) const;
  // Number of logged mutating calls (create, write, times, attributes, delete, rename, mkdir,
  // rmdir, permissions, hard links) since the start.
  int mutatingCalls() const;

  FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override;
  FsStatus findNext(FindHandle h, FindEntry* e) override;
  FsStatus openRead(const char16_t* p, FileHandle* f) override;
  FsStatus createAlways(const char16_t* p, uint32_t a, FileHandle* f) override;
  // Counted, failed and logged as Create.
  FsStatus createWithPermissions(const char16_t* p, uint32_t a, uint32_t m,
                                 FileHandle* f) override;
  FsStatus setFilePermissions(FileHandle f, uint32_t m) override;
  FsStatus read(FileHandle f, void* b, uint32_t n, uint32_t* got) override;
  FsStatus write(FileHandle f, const void* d, uint32_t n) override;
  FsStatus seek(FileHandle f, uint64_t o) override;
  FsStatus setFileTimes(FileHandle f, uint64_t c, uint64_t a, uint64_t m) override;
  FsStatus getFileStamp(FileHandle f, FileStamp* s) override;
  FsStatus getEntryStamp(const char16_t* p, FileStamp* s) override;
  FsStatus setAttributes(const char16_t* p, uint32_t a) override;
  FsStatus deleteFile(const char16_t* p) override;
  FsStatus rename(const char16_t* f, const char16_t* t, bool r) override;
  FsStatus createHardLink(const char16_t* e, const char16_t* n) override;
  FsStatus createDirectory(const char16_t* p) override;
  FsStatus removeDirectory(const char16_t* p) override;
  FsStatus lockFolder(const char16_t* p, bool x, FolderLock* l) override;
  FsStatus addRoot(const char16_t* r) override;
  int lastOsError() const override;
  FsStatus freeSpace(const char16_t* p, uint64_t* b) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (fakeFreeSpace_) {
        *b = freeSpace_;
        return FsStatus::Ok;
      }
    }
    return ForwardingFs::freeSpace(p, b);
  }

 private:
  struct Rule {
    FsOp op;
    int countdown;  // calls until it fires; 0 for path rules
    bool persistent;
    std::u16string fragment;
    FsStatus status;
    int osError;
  };
  // Counts the call, logs it, and returns the status it must fail with (Ok: forward it); keeps
  // the injected OS error for this thread.
  FsStatus check(FsOp op, const char16_t* path, const char16_t* path2 = nullptr);
  FsStatus inject(FsStatus status, int osError) const;

  mutable std::mutex mutex_;
  std::vector<Rule> rules_;
  int calls_[static_cast<int>(FsOp::Count)] = {};
  bool logging_ = false;
  std::vector<std::string> log_;
  bool diskLimit_ = false;
  uint64_t diskLeft_ = 0;
  int diskFullError_ = 0;
  int mutating_ = 0;
  bool fakeFreeSpace_ = false;
  uint64_t freeSpace_ = 0;
};

// The system's codes of the four failures a user must tell apart: a full disk, a denial, a
// file another program holds, a name the file system refuses.
#ifdef _WIN32
inline constexpr int kFullError = 112, kDeniedError = 5, kBusyError = 32, kNameError = 123;
#else
inline constexpr int kFullError = ENOSPC, kDeniedError = EACCES, kBusyError = ETXTBSY,
                     kNameError = EINVAL;
#endif

// Makes a mirror sync fail in those four ways: deleting the target's "busy.txt", reading the
// source's "denied.txt", creating anything in the source's folder "full" on the target,
// renaming "name.txt" into place.
inline void failFourWays(FaultFs& fs) {
  fs.failPath(FsOp::Delete, u"busy.txt", FsStatus::InUse, kBusyError);
  fs.failPath(FsOp::OpenRead, u"denied.txt", FsStatus::AccessDenied, kDeniedError);
  fs.failPath(FsOp::Create, u"full", FsStatus::DiskFull, kFullError);
  fs.failPath(FsOp::Rename, u"name.txt", FsStatus::InvalidName, kNameError);
}

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_TESTING_FAULT_FS_H
