#include "platform/fs.h"

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
  }
  return "?";
}

}  // namespace fw
