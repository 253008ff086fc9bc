#include "formats/file_header.h"

#include <cstring>

namespace fw {

const char* fileMagic(FileKind kind) {
  switch (kind) {
    case FileKind::ProjectFile: return "KTRV_FWP";
    case FileKind::StateFile: return "KTRV_FWS";
    case FileKind::DifferenceFile: return "KTRV_FWD";
  }
  static const char kNone[kMagicSize + 1] = {};  // as long as a magic: callers copy kMagicSize
  return kNone;
}

const char16_t* fileExtension(FileKind kind) {
  switch (kind) {
    case FileKind::ProjectFile: return u".fwp";
    case FileKind::StateFile: return u".fws";
    case FileKind::DifferenceFile: return u".fwd";
  }
  return u"";
}

size_t headerSize(FileKind kind) {
  return hasVolumes(kind) ? kVolumeHeaderSize : kProjectHeaderSize;
}

void encodeHeader(const FileHeader& h, FileKind kind, uint8_t* out) {
  std::memcpy(out, h.magic, kMagicSize);
  out[8] = h.version;
  out[9] = h.reserved;
  if (!hasVolumes(kind)) return;
  putU32(out + 10, h.volumeNumber);
  out[14] = h.volumeFlags;
  putU32(out + 15, h.treeEnd);
}

void decodeHeader(const uint8_t* in, FileKind kind, FileHeader* h) {
  *h = FileHeader{};
  std::memcpy(h->magic, in, kMagicSize);
  h->version = in[8];
  h->reserved = in[9];
  if (!hasVolumes(kind)) return;
  h->volumeNumber = getU32(in + 10);
  h->volumeFlags = in[14];
  h->treeEnd = getU32(in + 15);
}

}  // namespace fw
