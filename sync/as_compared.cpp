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

bool openedAsCompared(Fs& fs, const char16_t* path, const FileStamp& opened, bool comparedAsLink) {
  if (comparedAsLink) return true;
  FileStamp entry;
  FsStatus s = fs.getEntryStamp(path, &entry);
  if (s == FsStatus::Unsupported) return true;
  if (s != FsStatus::Ok) return false;
  if (entry.attributes & (attr::ReparsePoint | attr::Directory | attr::Device)) return false;
  // A link's own stamp is not its target's; the change time tells two files of one size and
  // time apart, where both looks have it.
  return entry.size == opened.size && entry.modified == opened.modified &&
         (entry.changed == 0 || opened.changed == 0 || entry.changed == opened.changed);
}

}  // namespace fw
