#include "platform/fs.h"

#include <new>

#include "platform/long_path.h"

namespace fw {

const char* fsStatusName(FsStatus status) {
  switch (status) {
    case FsStatus::Ok: return "Ok";
    case FsStatus::NotFound: return "NotFound";
    case FsStatus::AccessDenied: return "AccessDenied";
    case FsStatus::Exists: return "Exists";
    case FsStatus::NoMoreFiles: return "NoMoreFiles";
    case FsStatus::DiskFull: return "DiskFull";
    case FsStatus::NotEmpty: return "NotEmpty";
    case FsStatus::InvalidName: return "InvalidName";
    case FsStatus::IoError: return "IoError";
    case FsStatus::Unsupported: return "Unsupported";
    case FsStatus::CrossDevice: return "CrossDevice";
    case FsStatus::InUse: return "InUse";
  }
  return "?";
}

FsStatus kept(const Fs& fs, FsStatus status, FsFailure* why) {
  if (why && status != FsStatus::Ok) *why = FsFailure{status, fs.lastOsError()};
  return status;
}

std::string fsFailureText(const FsFailure& why) {
  const char* words = nullptr;
  bool withSystem = false;  // whether the system's message adds to the words
  switch (why.status) {
    case FsStatus::Ok: return {};
    case FsStatus::NotFound: words = "it or its folder does not exist"; break;
    case FsStatus::AccessDenied: words = "access is denied"; withSystem = true; break;
    case FsStatus::InUse: words = "another program has it open"; break;
    case FsStatus::Exists: words = "something of that name is there already"; break;
    case FsStatus::DiskFull: words = "the disk is full"; break;
    case FsStatus::NotEmpty: words = "the folder is not empty"; break;
    case FsStatus::InvalidName:
      words = "the file system does not allow this name";
      withSystem = true;
      break;
    case FsStatus::Unsupported: words = "the file system cannot do this"; withSystem = true; break;
    case FsStatus::CrossDevice: words = "it lies on another drive"; break;
    case FsStatus::NoMoreFiles:  // the end of a listing reported as a failure: an error all the same
    case FsStatus::IoError: words = "the system reports an error"; withSystem = true; break;
  }
  if (!words) words = "the system reports an error";
  std::string text = words;
  std::string system = withSystem ? osErrorText(why.osError) : std::string();
  if (!system.empty()) text += " (" + system + ")";
  return text;
}

const char* fsStatusWord(FsStatus status) {
  switch (status) {
    case FsStatus::Ok: return "other";
    case FsStatus::NotFound: return "not-found";
    case FsStatus::AccessDenied: return "access-denied";
    case FsStatus::InUse: return "in-use";
    case FsStatus::Exists: return "exists";
    case FsStatus::DiskFull: return "disk-full";
    case FsStatus::NotEmpty: return "not-empty";
    case FsStatus::InvalidName: return "invalid-name";
    case FsStatus::Unsupported: return "unsupported";
    case FsStatus::CrossDevice: return "cross-device";
    case FsStatus::NoMoreFiles:
    case FsStatus::IoError: return "io-error";
  }
  return "io-error";
}

RunRoots::~RunRoots() {
  for (auto it = added_.rbegin(); it != added_.rend(); ++it) fs_.dropRoot(it->c_str());
}

FsStatus RunRoots::add(const std::u16string& root) {
  if (root.empty()) return FsStatus::Ok;
  std::u16string form;
  try {
    form.resize(kPathBufferUnits);
    added_.reserve(added_.size() + 1);
  } catch (const std::bad_alloc&) {
    return FsStatus::IoError;  // no memory: as a root the system could not keep
  }
  size_t n = toLongPath(form.data(), form.size(), root.c_str());
  if (n == 0) return FsStatus::InvalidName;
  form.resize(n);
  FsStatus s = fs_.addRoot(form.c_str());
  if (s == FsStatus::Ok) added_.push_back(std::move(form));
  return s;
}

FsStatus RunRoots::add(const std::vector<std::u16string>& roots) {
  for (const std::u16string& root : roots) {
    FsStatus s = add(root);
    if (s != FsStatus::Ok) return s;
  }
  return FsStatus::Ok;
}

}  // namespace fw
