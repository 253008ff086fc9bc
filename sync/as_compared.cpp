#include "sync/as_compared.h"

namespace fw {

Rc checkAsCompared(Fs& fs, const char16_t* path, const SideInfo& recorded, bool folder,
                   FsFailure* why) {
  FileStamp now;
  FsStatus s = fs.getEntryStamp(path, &now);
  if (s == FsStatus::Unsupported) return Rc::Ok;
  if (s == FsStatus::NotFound) return Rc::Failed;
  if (kept(fs, s, why) != FsStatus::Ok) return Rc::CannotOpen;
  if (now.attributes & attr::Device) return Rc::Failed;
  if (folder)
    return (now.attributes & attr::Directory) && !(now.attributes & attr::ReparsePoint)
               ? Rc::Ok
               : Rc::Failed;
  if (now.attributes & attr::Directory) return Rc::Failed;
  return isRecordedVersion(now, recorded) ? Rc::Ok : Rc::Failed;
}

}  // namespace fw
