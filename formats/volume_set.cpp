#include "formats/volume_set.h"

#include <cstring>
#include <memory>
#include <new>

#include "formats/compressed_reader.h"
#include "formats/compressed_writer.h"
#include "formats/file_header.h"
#include "platform/text.h"

namespace fw {
namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

enum class HeaderRead { Ok, Missing, NotAVolume };

// The header of the file at path, when it is one of a difference's volumes (magic, version).
HeaderRead readVolumeHeader(Fs& fs, const std::u16string& path, FileHeader* h) {
  FileHandle file = kInvalidHandle;
  if (path.size() >= kPathBufferUnits || fs.openRead(path.c_str(), &file) != FsStatus::Ok)
    return HeaderRead::Missing;
  uint8_t bytes[kVolumeHeaderSize];
  size_t got = 0;
  while (got < sizeof bytes) {  // a read may return less than asked before the end
    uint32_t n = 0;
    if (fs.read(file, bytes + got, static_cast<uint32_t>(sizeof bytes - got), &n) !=
            FsStatus::Ok ||
        n == 0)
      break;
    got += n;
  }
  fs.close(file);
  if (got < sizeof bytes) return HeaderRead::NotAVolume;
  decodeHeader(bytes, FileKind::DifferenceFile, h);
  if (std::memcmp(h->magic, fileMagic(FileKind::DifferenceFile), kMagicSize) != 0 ||
      h->version != kFormatVersion)
    return HeaderRead::NotAVolume;
  return HeaderRead::Ok;
}

// The last component of a path, as the messages show it.
std::string shown(const std::u16string& path) {
  size_t slash = path.find_last_of(u"/\\");
  return toUtf8Escaped(slash == std::u16string::npos ? std::u16string_view(path)
                                                     : std::u16string_view(path).substr(slash + 1));
}

// Both streams of the set that begins with first read whole.
bool streamsWhole(Fs& fs, const std::u16string& first) {
  return readStreamWhole(fs, first.c_str(), true, nullptr) == Rc::Ok &&
         readStreamWhole(fs, first.c_str(), false, nullptr) == Rc::Ok;
}

}  // namespace

Rc readStreamWhole(Fs& fs, const char16_t* path, bool tree, const CancelFlag* cancel) {
  std::unique_ptr<CompressedReader> r;
  Rc rc = CompressedReader::create(fs, &r);
  if (rc != Rc::Ok) return rc;
  rc = r->openReader(FileKind::DifferenceFile, path);
  if (rc == Rc::Ok) rc = tree ? r->startInflate(0) : r->findDataSection();
  while (rc == Rc::Ok) {
    if (isCancelled(cancel)) {
      r->endInflate();
      return Rc::Ok;
    }
    bool end = false;
    rc = r->atEnd(&end);
    if (rc != Rc::Ok || end) break;
    const uint8_t* data;
    size_t n;
    rc = r->takeBytes(UINT64_MAX, &data, &n);
  }
  if (rc == Rc::Ok) rc = r->requireStreamEnd(tree);
  r->endInflate();
  return rc;
}

bool parseVolumeName(const std::u16string& name, std::u16string* first, uint32_t* number) {
  // "<base>.NNN.fwd" with a base of at least one unit, as volumeName() makes the names of
  // volumes 1 to 999 from a first name "<base>.fwd".
  const char16_t* ext = u".fwd";
  constexpr size_t kTail = 4 + 4;  // ".NNN" and ".fwd"
  if (name.size() < kTail + 1) return false;
  size_t at = name.size() - kTail;
  for (size_t i = 0; i < 4; ++i)
    if (asciiLower(name[name.size() - 4 + i]) != ext[i]) return false;
  if (name[at] != u'.') return false;
  uint32_t n = 0;
  for (size_t i = at + 1; i < at + 4; ++i) {
    if (!isDigit(name[i])) return false;
    n = n * 10 + static_cast<uint32_t>(name[i] - u'0');
  }
  if (n == 0) return false;
  *first = name.substr(0, at) + name.substr(name.size() - 4);
  *number = n;
  return true;
}

Rc checkNamedVolume(Fs& fs, const std::u16string& named, const std::u16string& first,
                    uint32_t number, VolumeCheck* check) {
  *check = VolumeCheck{};
  auto fault = [&](VolumeFault f, uint32_t at, Rc rc) {
    check->fault = f;
    check->at = at;
    return rc;
  };
  FileHeader h;
  HeaderRead read = readVolumeHeader(fs, named, &h);
  if (read == HeaderRead::Missing) return fault(VolumeFault::Missing, number, Rc::CannotOpen);
  if (read == HeaderRead::NotAVolume) return fault(VolumeFault::NotAVolume, number, Rc::Failed);
  if (h.volumeNumber != number) {
    check->number = h.volumeNumber;
    return fault(VolumeFault::WrongNumber, number, Rc::Failed);
  }
  bool treeEnded = (h.volumeFlags & kTreeEndsHere) != 0;
  std::u16string path;
  for (uint32_t v = 0; v < number; ++v) {
    try {
      path = volumeName(first, v);
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
    read = readVolumeHeader(fs, path, &h);
    if (read == HeaderRead::Missing)
      return fault(v == 0 ? VolumeFault::FirstMissing : VolumeFault::Missing, v, Rc::CannotOpen);
    if (read == HeaderRead::NotAVolume) return fault(VolumeFault::NotAVolume, v, Rc::Failed);
    if (h.volumeNumber != v) {
      check->number = h.volumeNumber;
      return fault(VolumeFault::WrongNumber, v, Rc::Failed);
    }
    if (h.volumeFlags & kLastVolume) {
      check->volumes = v + 1;
      return fault(VolumeFault::SetEnds, v, Rc::Failed);
    }
    if (h.volumeFlags & kTreeEndsHere) {
      if (treeEnded) return fault(VolumeFault::TwoTreeEnds, v, Rc::Failed);
      treeEnded = true;
    }
  }
  return Rc::Ok;
}

std::string volumeRefusal(Fs& fs, const char16_t* path) {
  try {
    std::u16string named = path ? path : u"";
    std::u16string first;
    uint32_t number = 0;
    if (!parseVolumeName(named, &first, &number)) return {};
    FileHeader h;
    // A first volume that happens to be named like a later one is read as such.
    if (readVolumeHeader(fs, named, &h) == HeaderRead::Ok && h.volumeNumber == 0) return {};
    VolumeCheck check;
    if (checkNamedVolume(fs, named, first, number, &check) != Rc::Ok &&
        check.fault == VolumeFault::None)
      return "out of memory";
    std::string n = shown(named);
    std::string f = shown(first);
    std::string at = shown(volumeName(first, check.at));
    std::string notPart = n + " is not part of the set that begins with " + f;
    bool self = check.at == number;
    switch (check.fault) {
      case VolumeFault::None: return {};
      case VolumeFault::FirstMissing:
        return n + " is volume " + std::to_string(number) + " of a set whose first volume " + f +
               " cannot be opened";
      case VolumeFault::Missing:
        return self ? n + " cannot be opened"
                    : n + " cannot be read: volume " + at + " of the set that begins with " + f +
                          " cannot be opened";
      case VolumeFault::NotAVolume:
        return self ? n + " is not a volume of a difference file"
                    : notPart + ": " + at + " is not a volume of a difference file";
      case VolumeFault::WrongNumber:
        return (self ? n : notPart + ": " + at) + " is volume " + std::to_string(check.number) +
               " of a set, not volume " + std::to_string(check.at) + " as its name says";
      case VolumeFault::SetEnds:
        return notPart + ", which has " + std::to_string(check.volumes) +
               (check.volumes == 1 ? " volume" : " volumes");
      case VolumeFault::TwoTreeEnds:
        return notPart + ": the tree section ends in two of the volumes up to it";
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return {};
}

std::string refusedFileText(Fs& fs, const std::u16string& path) {
  try {
    FileHandle file;
    if (fs.openRead(path.c_str(), &file) != FsStatus::Ok)
      return toUtf8Escaped(path) + " cannot be opened";
    fs.close(file);
    std::string refusal = volumeRefusal(fs, path.c_str());
    if (!refusal.empty()) return refusal;
    return std::string(kWrongFileFormat) + " " + toUtf8Escaped(path) +
           " is damaged, or it is not a file of this program";
  } catch (const std::bad_alloc&) {
    return kWrongFileFormat;
  }
}

uint32_t provenOldVolumes(Fs& fs, const std::u16string& first, uint32_t kept) {
  uint32_t volumes = 0;
  try {
    std::u16string path;
    for (uint32_t v = 0; v < UINT32_MAX; ++v) {
      path = volumeName(first, v);
      FileHeader h;
      if (readVolumeHeader(fs, path, &h) != HeaderRead::Ok || h.volumeNumber != v) return kept;
      if (h.volumeFlags & kLastVolume) {
        volumes = v + 1;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    return kept;
  }
  // Within kept, the new set replaces every volume anyway: no need to read the streams.
  if (volumes <= kept || !streamsWhole(fs, first)) return kept;
  return volumes;
}

}  // namespace fw
