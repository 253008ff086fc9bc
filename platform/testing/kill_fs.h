// A forwarding Fs that stands for a program killed at a chosen instant (a power cut, the task
// manager): the first `calls` calls are forwarded, and every one after fails with IoError and
// reaches nothing, as if the program had stopped there. Closing a handle is still forwarded,
// since the system closes a killed program's handles, and is not counted.
//
//   for (int n = 0;; ++n) {
//     KillFs fs(systemFs(), n);
//     run the operation through fs;
//     look at what the disk holds;
//     if (!fs.killed()) break;  // the operation finished before its n-th call
//   }
#ifndef FERRYWICK_PLATFORM_TESTING_KILL_FS_H
#define FERRYWICK_PLATFORM_TESTING_KILL_FS_H

#include <atomic>

#include "platform/testing/forwarding_fs.h"

namespace fw {

class KillFs : public ForwardingFs {
 public:
  KillFs(Fs& base, int calls) : ForwardingFs(base), left_(calls) {}

  // Whether a call came after the kill.
  bool killed() const { return killed_; }

  FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override {
    *h = kInvalidHandle;
    return alive() ? base_.findFirst(p, h, e) : kDead;
  }
  FsStatus findNext(FindHandle h, FindEntry* e) override {
    return alive() ? base_.findNext(h, e) : kDead;
  }
  FsStatus openRead(const char16_t* p, FileHandle* f) override {
    *f = kInvalidHandle;
    return alive() ? base_.openRead(p, f) : kDead;
  }
  FsStatus createAlways(const char16_t* p, uint32_t a, FileHandle* f) override {
    *f = kInvalidHandle;
    return alive() ? base_.createAlways(p, a, f) : kDead;
  }
  FsStatus createWithPermissions(const char16_t* p, uint32_t a, uint32_t m,
                                 FileHandle* f) override {
    *f = kInvalidHandle;
    return alive() ? base_.createWithPermissions(p, a, m, f) : kDead;
  }
  FsStatus getFilePermissions(FileHandle f, uint32_t* m) override {
    *m = 0;
    return alive() ? base_.getFilePermissions(f, m) : kDead;
  }
  FsStatus getPermissions(const char16_t* p, uint32_t* m) override {
    *m = 0;
    return alive() ? base_.getPermissions(p, m) : kDead;
  }
  FsStatus setFilePermissions(FileHandle f, uint32_t m) override {
    return alive() ? base_.setFilePermissions(f, m) : kDead;
  }
  FsStatus read(FileHandle f, void* b, uint32_t n, uint32_t* got) override {
    *got = 0;
    return alive() ? base_.read(f, b, n, got) : kDead;
  }
  FsStatus write(FileHandle f, const void* d, uint32_t n) override {
    return alive() ? base_.write(f, d, n) : kDead;
  }
  FsStatus seek(FileHandle f, uint64_t o) override { return alive() ? base_.seek(f, o) : kDead; }
  FsStatus tell(FileHandle f, uint64_t* o) override { return alive() ? base_.tell(f, o) : kDead; }
  FsStatus getFileTime(FileHandle f, uint64_t* m) override {
    return alive() ? base_.getFileTime(f, m) : kDead;
  }
  FsStatus setFileTimes(FileHandle f, uint64_t c, uint64_t a, uint64_t m) override {
    return alive() ? base_.setFileTimes(f, c, a, m) : kDead;
  }
  FsStatus getAttributes(const char16_t* p, uint32_t* a) override {
    *a = 0;
    return alive() ? base_.getAttributes(p, a) : kDead;
  }
  FsStatus setAttributes(const char16_t* p, uint32_t a) override {
    return alive() ? base_.setAttributes(p, a) : kDead;
  }
  FsStatus deleteFile(const char16_t* p) override { return alive() ? base_.deleteFile(p) : kDead; }
  FsStatus rename(const char16_t* f, const char16_t* t, bool r) override {
    return alive() ? base_.rename(f, t, r) : kDead;
  }
  FsStatus createHardLink(const char16_t* e, const char16_t* n) override {
    return alive() ? base_.createHardLink(e, n) : kDead;
  }
  FsStatus createDirectory(const char16_t* p) override {
    return alive() ? base_.createDirectory(p) : kDead;
  }
  FsStatus removeDirectory(const char16_t* p) override {
    return alive() ? base_.removeDirectory(p) : kDead;
  }
  FsStatus moveToRecycleBin(const char16_t* p) override {
    return alive() ? base_.moveToRecycleBin(p) : kDead;
  }
  FsStatus fullPath(const char16_t* p, std::u16string* f) override {
    return alive() ? base_.fullPath(p, f) : kDead;
  }
  FsStatus identify(const char16_t* p, FileIdentity* i) override {
    return alive() ? base_.identify(p, i) : kDead;
  }
  FsStatus freeSpace(const char16_t* p, uint64_t* b) override {
    *b = 0;
    return alive() ? base_.freeSpace(p, b) : kDead;
  }

 private:
  static constexpr FsStatus kDead = FsStatus::IoError;
  bool alive() {
    if (left_.fetch_sub(1) > 0) return true;
    killed_ = true;
    return false;
  }
  std::atomic<int> left_;
  std::atomic<bool> killed_{false};
};

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_TESTING_KILL_FS_H
