// An Fs that forwards every call to another one; tests override what they need.
#ifndef FERRYWICK_PLATFORM_TESTING_FORWARDING_FS_H
#define FERRYWICK_PLATFORM_TESTING_FORWARDING_FS_H

#include "platform/fs.h"

namespace fw {

class ForwardingFs : public Fs {
 public:
  explicit ForwardingFs(Fs& base) : base_(base) {}

  FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override {
    return base_.findFirst(p, h, e);
  }
  FsStatus findNext(FindHandle h, FindEntry* e) override { return base_.findNext(h, e); }
  void findClose(FindHandle h) override { base_.findClose(h); }
  FsStatus openRead(const char16_t* p, FileHandle* f) override { return base_.openRead(p, f); }
  FsStatus createAlways(const char16_t* p, uint32_t a, FileHandle* f) override {
    return base_.createAlways(p, a, f);
  }
  FsStatus createWithPermissions(const char16_t* p, uint32_t a, uint32_t m,
                                 FileHandle* f) override {
    return base_.createWithPermissions(p, a, m, f);
  }
  // createNew is left to Fs's own, in terms of the calls here, so that a wrapper that counts
  // or fails creations sees this one too.
  FsStatus getFilePermissions(FileHandle f, uint32_t* m) override {
    return base_.getFilePermissions(f, m);
  }
  FsStatus getPermissions(const char16_t* p, uint32_t* m) override {
    return base_.getPermissions(p, m);
  }
  FsStatus setFilePermissions(FileHandle f, uint32_t m) override {
    return base_.setFilePermissions(f, m);
  }
  FsStatus copyAccessList(FileHandle from, FileHandle to) override {
    return base_.copyAccessList(from, to);
  }
  FsStatus read(FileHandle f, void* b, uint32_t n, uint32_t* got) override {
    return base_.read(f, b, n, got);
  }
  FsStatus write(FileHandle f, const void* d, uint32_t n) override { return base_.write(f, d, n); }
  FsStatus seek(FileHandle f, uint64_t o) override { return base_.seek(f, o); }
  FsStatus tell(FileHandle f, uint64_t* o) override { return base_.tell(f, o); }
  void close(FileHandle f) override { base_.close(f); }
  // Not forwarded: a copy inside the system would pass by the read and write calls that a
  // wrapper watches, so copies through a wrapper always read and write.
  FsStatus copyData(FileHandle, FileHandle, uint32_t, uint32_t* copied) override {
    *copied = 0;
    return FsStatus::Unsupported;
  }
  FsStatus getFileTime(FileHandle f, uint64_t* m) override { return base_.getFileTime(f, m); }
  FsStatus getFileStamp(FileHandle f, FileStamp* s) override { return base_.getFileStamp(f, s); }
  FsStatus getEntryStamp(const char16_t* p, FileStamp* s) override {
    return base_.getEntryStamp(p, s);
  }
  FsStatus setFileTimes(FileHandle f, uint64_t c, uint64_t a, uint64_t m) override {
    return base_.setFileTimes(f, c, a, m);
  }
  FsStatus getAttributes(const char16_t* p, uint32_t* a) override {
    return base_.getAttributes(p, a);
  }
  FsStatus setAttributes(const char16_t* p, uint32_t a) override {
    return base_.setAttributes(p, a);
  }
  FsStatus deleteFile(const char16_t* p) override { return base_.deleteFile(p); }
  FsStatus rename(const char16_t* f, const char16_t* t, bool r) override {
    return base_.rename(f, t, r);
  }
  FsStatus createHardLink(const char16_t* e, const char16_t* n) override {
    return base_.createHardLink(e, n);
  }
  FsStatus createDirectory(const char16_t* p) override { return base_.createDirectory(p); }
  // createDirectoryWithPermissions is left to Fs's own (createDirectory here), as createNew.
  FsStatus setFolderPermissions(const char16_t* p, uint32_t m) override {
    return base_.setFolderPermissions(p, m);
  }
  FsStatus removeDirectory(const char16_t* p) override { return base_.removeDirectory(p); }
  FsStatus moveToRecycleBin(const char16_t* p) override { return base_.moveToRecycleBin(p); }
  FsStatus fullPath(const char16_t* p, std::u16string* f) override { return base_.fullPath(p, f); }
  FsStatus identify(const char16_t* p, FileIdentity* i) override { return base_.identify(p, i); }
  FsStatus resolvedPath(const char16_t* p, std::u16string* r) override {
    return base_.resolvedPath(p, r);
  }
  FsStatus freeSpace(const char16_t* p, uint64_t* b) override { return base_.freeSpace(p, b); }
  FsStatus lockFolder(const char16_t* p, bool x, FolderLock* l) override {
    return base_.lockFolder(p, x, l);
  }
  void unlockFolder(FolderLock* l) override { base_.unlockFolder(l); }
  FsStatus addRoot(const char16_t* r) override { return base_.addRoot(r); }
  void dropRoot(const char16_t* r) override { base_.dropRoot(r); }
  int lastOsError() const override { return base_.lastOsError(); }

 protected:
  Fs& base_;
};

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_TESTING_FORWARDING_FS_H
