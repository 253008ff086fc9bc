#include "platform/testing/fault_fs.h"

#include "platform/text.h"

namespace fw {
namespace {

// The failure this thread's last counted call was given, and by which FaultFs (none: the
// call was forwarded, and the system's error is the base's).
struct Injected {
  const FaultFs* by = nullptr;
  int osError = 0;
};
thread_local Injected tInjected;

}  // namespace

const char* fsOpName(FsOp op) {
  static const char* const names[] = {"findFirst", "findNext", "openRead", "create",
                                      "read",      "write",    "seek",     "setFileTimes",
                                      "setAttributes", "delete", "rename", "createDirectory",
                                      "removeDirectory", "setPermissions", "createHardLink",
                                      "lockFolder",   "getFileStamp", "getEntryStamp",
                                      "addRoot"};
  int i = static_cast<int>(op);
  return i >= 0 && i < static_cast<int>(FsOp::Count) ? names[i] : "?";
}

void FaultFs::failNth(FsOp op, int nth, FsStatus status, bool persistent, int osError) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back(Rule{op, nth, persistent, {}, status, osError});
}

void FaultFs::failPath(FsOp op, std::u16string fragment, FsStatus status, int osError) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back(Rule{op, 0, true, std::move(fragment), status, osError});
}

void FaultFs::diskFullAfter(uint64_t bytes, int osError) {
  std::lock_guard<std::mutex> lock(mutex_);
  diskLimit_ = true;
  diskLeft_ = bytes;
  diskFullError_ = osError;
}

FsStatus FaultFs::inject(FsStatus status, int osError) const {
  tInjected = Injected{this, osError};
  return status;
}

int FaultFs::lastOsError() const {
  return tInjected.by == this ? tInjected.osError : base_.lastOsError();
}

void FaultFs::clearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.clear();
  diskLimit_ = false;
  fakeFreeSpace_ = false;
}

void FaultFs::setLogging(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  logging_ = on;
}

std::vector<std::string> FaultFs::log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

int FaultFs::calls(FsOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[static_cast<int>(op)];
}

int FaultFs::mutatingCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mutating_;
}

FsStatus FaultFs::check(FsOp op, const char16_t* path, const char16_t* path2) {
  std::lock_guard<std::mutex> lock(mutex_);
  tInjected = Injected{};
  ++calls_[static_cast<int>(op)];
  switch (op) {
    case FsOp::Create: case FsOp::Write: case FsOp::SetFileTimes: case FsOp::SetAttributes:
    case FsOp::Delete: case FsOp::Rename: case FsOp::CreateDirectory: case FsOp::RemoveDirectory:
    case FsOp::SetPermissions: case FsOp::CreateHardLink:
      ++mutating_;
      break;
    default:
      break;
  }
  if (logging_ && op != FsOp::Read && op != FsOp::Write && op != FsOp::FindNext &&
      op != FsOp::LockFolder && op != FsOp::GetFileStamp &&
      op != FsOp::GetEntryStamp && op != FsOp::AddRoot) {
    std::string line = fsOpName(op);
    if (path) line += " " + toUtf8(path);
    if (path2) line += " -> " + toUtf8(path2);
    log_.push_back(line);
  }
  for (Rule& r : rules_) {
    if (r.op != op) continue;
    if (!r.fragment.empty()) {
      bool hit = (path && std::u16string_view(path).find(r.fragment) != std::u16string_view::npos) ||
                 (path2 && std::u16string_view(path2).find(r.fragment) != std::u16string_view::npos);
      if (hit) return inject(r.status, r.osError);
      continue;
    }
    if (r.countdown > 0 && --r.countdown == 0) return inject(r.status, r.osError);
    if (r.countdown == 0 && r.persistent) return inject(r.status, r.osError);
  }
  return FsStatus::Ok;
}

FsStatus FaultFs::findFirst(const char16_t* p, FindHandle* h, FindEntry* e) {
  *h = kInvalidHandle;
  if (FsStatus s = check(FsOp::FindFirst, p); s != FsStatus::Ok) return s;
  return base_.findFirst(p, h, e);
}

FsStatus FaultFs::findNext(FindHandle h, FindEntry* e) {
  if (FsStatus s = check(FsOp::FindNext, nullptr); s != FsStatus::Ok) return s;
  return base_.findNext(h, e);
}

FsStatus FaultFs::openRead(const char16_t* p, FileHandle* f) {
  *f = kInvalidHandle;
  if (FsStatus s = check(FsOp::OpenRead, p); s != FsStatus::Ok) return s;
  return base_.openRead(p, f);
}

FsStatus FaultFs::createAlways(const char16_t* p, uint32_t a, FileHandle* f) {
  *f = kInvalidHandle;
  if (FsStatus s = check(FsOp::Create, p); s != FsStatus::Ok) return s;
  return base_.createAlways(p, a, f);
}

FsStatus FaultFs::createWithPermissions(const char16_t* p, uint32_t a, uint32_t m, FileHandle* f) {
  *f = kInvalidHandle;
  if (FsStatus s = check(FsOp::Create, p); s != FsStatus::Ok) return s;
  return base_.createWithPermissions(p, a, m, f);
}

FsStatus FaultFs::setFilePermissions(FileHandle f, uint32_t m) {
  if (FsStatus s = check(FsOp::SetPermissions, nullptr); s != FsStatus::Ok) return s;
  return base_.setFilePermissions(f, m);
}

FsStatus FaultFs::read(FileHandle f, void* b, uint32_t n, uint32_t* got) {
  *got = 0;
  if (FsStatus s = check(FsOp::Read, nullptr); s != FsStatus::Ok) return s;
  return base_.read(f, b, n, got);
}

FsStatus FaultFs::write(FileHandle f, const void* d, uint32_t n) {
  if (FsStatus s = check(FsOp::Write, nullptr); s != FsStatus::Ok) return s;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (diskLimit_) {
      if (n > diskLeft_) return inject(FsStatus::DiskFull, diskFullError_);
      diskLeft_ -= n;
    }
  }
  return base_.write(f, d, n);
}

FsStatus FaultFs::seek(FileHandle f, uint64_t o) {
  if (FsStatus s = check(FsOp::Seek, nullptr); s != FsStatus::Ok) return s;
  return base_.seek(f, o);
}

FsStatus FaultFs::setFileTimes(FileHandle f, uint64_t c, uint64_t a, uint64_t m) {
  if (FsStatus s = check(FsOp::SetFileTimes, nullptr); s != FsStatus::Ok) return s;
  return base_.setFileTimes(f, c, a, m);
}

FsStatus FaultFs::getFileStamp(FileHandle f, FileStamp* st) {
  *st = FileStamp{};
  if (FsStatus s = check(FsOp::GetFileStamp, nullptr); s != FsStatus::Ok) return s;
  return base_.getFileStamp(f, st);
}

FsStatus FaultFs::getEntryStamp(const char16_t* p, FileStamp* st) {
  *st = FileStamp{};
  if (FsStatus s = check(FsOp::GetEntryStamp, p); s != FsStatus::Ok) return s;
  return base_.getEntryStamp(p, st);
}

FsStatus FaultFs::setAttributes(const char16_t* p, uint32_t a) {
  if (FsStatus s = check(FsOp::SetAttributes, p); s != FsStatus::Ok) return s;
  return base_.setAttributes(p, a);
}

FsStatus FaultFs::deleteFile(const char16_t* p) {
  if (FsStatus s = check(FsOp::Delete, p); s != FsStatus::Ok) return s;
  return base_.deleteFile(p);
}

FsStatus FaultFs::rename(const char16_t* f, const char16_t* t, bool r) {
  if (FsStatus s = check(FsOp::Rename, f, t); s != FsStatus::Ok) return s;
  return base_.rename(f, t, r);
}

FsStatus FaultFs::createHardLink(const char16_t* e, const char16_t* n) {
  if (FsStatus s = check(FsOp::CreateHardLink, e, n); s != FsStatus::Ok) return s;
  return base_.createHardLink(e, n);
}

FsStatus FaultFs::createDirectory(const char16_t* p) {
  if (FsStatus s = check(FsOp::CreateDirectory, p); s != FsStatus::Ok) return s;
  return base_.createDirectory(p);
}

FsStatus FaultFs::lockFolder(const char16_t* p, bool x, FolderLock* l) {
  l->handle = kInvalidHandle;
  if (FsStatus s = check(FsOp::LockFolder, p); s != FsStatus::Ok) return s;
  return base_.lockFolder(p, x, l);
}

FsStatus FaultFs::removeDirectory(const char16_t* p) {
  if (FsStatus s = check(FsOp::RemoveDirectory, p); s != FsStatus::Ok) return s;
  return base_.removeDirectory(p);
}

FsStatus FaultFs::addRoot(const char16_t* r) {
  if (FsStatus s = check(FsOp::AddRoot, r); s != FsStatus::Ok) return s;
  return base_.addRoot(r);
}

}  // namespace fw
