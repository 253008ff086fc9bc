#include "sync/free_space.h"

#include <algorithm>
#include <memory>
#include <new>

#include "core/format_size.h"
#include "platform/long_path.h"

namespace fw {
namespace {

struct Volume {
  uint64_t id = 0;  // FileIdentity::volume
  uint64_t adds = 0;
  uint64_t frees = 0;
  uint64_t free = 0;
  const std::u16string* folder = nullptr;  // the first that it adds to
};

// The free space and identity of the volume of folder's deepest existing ancestor (folder
// itself when it exists), through buffer. False when they cannot be had.
bool volumeOf(Fs& fs, char16_t* buffer, const std::u16string& folder, uint64_t* free,
              uint64_t* id) {
  size_t length = toLongPath(buffer, kPathBufferUnits, folder.c_str());
  if (length == 0) return false;
  uint32_t attributes = 0;
  while (fs.getAttributes(buffer, &attributes) != FsStatus::Ok) {
    // The parent, with its separator: a drive's root is "C:\", not "C:".
    if (buffer[length - 1] == kPathSeparator) --length;
    while (length > 0 && buffer[length - 1] != kPathSeparator) --length;
    if (length == 0) return false;
    buffer[length] = 0;
  }
  FileIdentity identity;
  if (fs.freeSpace(buffer, free) != FsStatus::Ok || fs.identify(buffer, &identity) != FsStatus::Ok)
    return false;
  *id = identity.volume;
  return true;
}

}  // namespace

Rc checkFreeSpace(Fs& fs, const std::vector<SpaceNeed>& needs, const char* what,
                  FailureLog* failures) {
  std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[kPathBufferUnits]);
  if (!buffer) return Rc::OutOfMemory;
  try {
    std::vector<Volume> volumes;
    for (const SpaceNeed& need : needs) {
      if (need.adds == 0 && need.frees == 0) continue;
      Volume v;
      if (!volumeOf(fs, buffer.get(), need.folder, &v.free, &v.id)) continue;
      auto it = std::find_if(volumes.begin(), volumes.end(),
                             [&](const Volume& known) { return known.id == v.id; });
      if (it == volumes.end()) it = volumes.insert(volumes.end(), v);
      it->adds += need.adds;
      it->frees += need.frees;
      if (!it->folder && need.adds > 0) it->folder = &need.folder;
    }
    for (const Volume& v : volumes) {
      if (v.adds <= v.frees || v.adds - v.frees <= v.free) continue;  // never without a folder
      const uint64_t needed = v.adds - v.frees;
      if (failures) {
        try {
          failures->push_back({*v.folder,
                               std::string("not enough free space for ") + what + ": " +
                                   formatSize(needed) + " needed, " + formatSize(v.free) +
                                   " free (" + formatSize(needed - v.free) +
                                   " short); nothing was changed",
                               FsStatus::DiskFull, 0});
        } catch (const std::bad_alloc&) {
          // Refused all the same; only the sentence is lost.
        }
      }
      return Rc::CannotWrite;
    }
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  return Rc::Ok;
}

}  // namespace fw
