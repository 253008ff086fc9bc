// Shared by the sync tests: times, data, folder listings and a wrapper Fs that raises the
// cancel flag in the middle of a run.
#ifndef FERRYWICK_SYNC_SYNC_TEST_SUPPORT_H
#define FERRYWICK_SYNC_SYNC_TEST_SUPPORT_H

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/result_test_util.h"
#include "platform/testing/fault_fs.h"
#include "platform/testing/forwarding_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"
#include "sync/file_ops.h"
#include "sync/sync_request.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fw {

inline constexpr uint64_t kT = 132500000000000000ull;  // some time in 2020
inline constexpr uint64_t kHour = 36000000000ull;
inline constexpr uint32_t kMirror = 0xFC;  // every category to the target, nothing back

// Contents that deflate cannot shrink.
inline std::string noise(size_t n, uint32_t seed) { return randomBytes(n, seed); }

inline void writeAt(const std::u16string& path, const std::string& content, uint64_t time) {
  writeFile(path, content);
  setModified(path, time);
}

// The names in a folder as the file system spells them.
inline std::set<std::u16string> namesIn(const std::u16string& folder) {
  std::set<std::u16string> out;
  Fs& sys = systemFs();
  std::u16string pattern = folder + kPathSeparator + u"*";
  FindHandle h;
  FindEntry e;
  if (sys.findFirst(pattern.c_str(), &h, &e) != FsStatus::Ok) return out;
  do {
    std::u16string n = e.name;
    if (n != u"." && n != u"..") out.insert(n);
  } while (sys.findNext(h, &e) == FsStatus::Ok);
  sys.findClose(h);
  return out;
}

inline bool hasTemporaryFile(const std::u16string& folder) {
  for (const std::u16string& n : namesIn(folder))
    if (isTemporaryName(n.c_str())) return true;
  return false;
}

// Marks a compared tree with the masks, as the File Tree window does before a sync.
inline void mark(FileNode* roots, uint32_t flagsSrc, uint32_t flagsTrg) {
  FileNode top{};
  top.flags = Folder;
  top.children = roots;
  markTree(&top, makeMarkMasks(flagsSrc, flagsTrg, kDefaultFlagsColorize), nullptr);
}

// The request of a job on the compared tree at roots with the masks, as the tasks make it.
inline SyncRequest requestFor(Fs& fs, const SideInput& source, const SideInput& target,
                              FileNode* roots, uint32_t flagsSrc, uint32_t flagsTrg) {
  SyncRequest r;
  r.fs = &fs;
  r.source = &source;
  r.target = &target;
  r.firstRoot = roots;
  r.masks = makeMarkMasks(flagsSrc, flagsTrg, kDefaultFlagsColorize);
  return r;
}

// Raises the cancel flag at the nth write.
class CancelAtWriteFs : public ForwardingFs {
 public:
  CancelAtWriteFs(Fs& base, int nth, CancelFlag& flag)
      : ForwardingFs(base), nth_(nth), flag_(flag) {}
  FsStatus write(FileHandle f, const void* d, uint32_t n) override {
    if (++writes_ == nth_) flag_ = 1;
    return base_.write(f, d, n);
  }

 private:
  int nth_;
  int writes_ = 0;
  CancelFlag& flag_;
};

#ifndef _WIN32
// The permission bits of what a path leads to, 0 when there is nothing.
inline uint32_t modeOf(const std::u16string& path) {
  struct stat st;
  return stat(toUtf8(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Notes the permission bits of every file at its first write, while it is being written.
class ModeAtWriteFs : public ForwardingFs {
 public:
  using ForwardingFs::ForwardingFs;
  FsStatus write(FileHandle f, const void* d, uint32_t n) override {
    struct stat st;
    if (f != last_ && fstat(static_cast<int>(f), &st) == 0) modes.insert(st.st_mode & 07777);
    last_ = f;
    return base_.write(f, d, n);
  }
  std::set<uint32_t> modes;

 private:
  FileHandle last_ = kInvalidHandle;
};
#endif

// Another program at work while a job runs: before the nth call of op from now (1: the next
// one), act runs once, on the calling thread. The calls counted: openRead, read, getFileStamp,
// getEntryStamp, deleteFile, rename, setAttributes, removeDirectory (FsOp's names for them).
class MutateAtFs : public ForwardingFs {
 public:
  using ForwardingFs::ForwardingFs;
  void at(FsOp op, int nth, std::function<void()> act) {
    acts_.push_back({op, nth, std::move(act)});
  }
  FsStatus openRead(const char16_t* p, FileHandle* f) override {
    fire(FsOp::OpenRead);
    return base_.openRead(p, f);
  }
  FsStatus read(FileHandle f, void* b, uint32_t n, uint32_t* got) override {
    fire(FsOp::Read);
    return base_.read(f, b, n, got);
  }
  FsStatus getFileStamp(FileHandle f, FileStamp* s) override {
    fire(FsOp::GetFileStamp);
    return base_.getFileStamp(f, s);
  }
  FsStatus getEntryStamp(const char16_t* p, FileStamp* s) override {
    fire(FsOp::GetEntryStamp);
    return base_.getEntryStamp(p, s);
  }
  FsStatus deleteFile(const char16_t* p) override {
    fire(FsOp::Delete);
    return base_.deleteFile(p);
  }
  FsStatus rename(const char16_t* f, const char16_t* t, bool r) override {
    fire(FsOp::Rename);
    return base_.rename(f, t, r);
  }
  FsStatus setAttributes(const char16_t* p, uint32_t a) override {
    fire(FsOp::SetAttributes);
    return base_.setAttributes(p, a);
  }
  FsStatus removeDirectory(const char16_t* p) override {
    fire(FsOp::RemoveDirectory);
    return base_.removeDirectory(p);
  }

 private:
  struct Act {
    FsOp op;
    int countdown;
    std::function<void()> act;
  };
  void fire(FsOp op) {
    for (Act& a : acts_)
      if (a.op == op && a.countdown > 0 && --a.countdown == 0) a.act();
  }
  std::vector<Act> acts_;
};

}  // namespace fw

#endif  // FERRYWICK_SYNC_SYNC_TEST_SUPPORT_H
