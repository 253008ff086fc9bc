// The plain header at the start of every project, state and difference file (and of every
// volume of a split difference), and the constants of the compressed formats. The grammar of
// the files is in docs/formats.md.
#ifndef FERRYWICK_FORMATS_FILE_HEADER_H
#define FERRYWICK_FORMATS_FILE_HEADER_H

#include <cstddef>
#include <cstdint>

namespace fw {

enum class FileKind : int { ProjectFile = 0, StateFile = 1, DifferenceFile = 2 };

// volumeFlags bits.
inline constexpr uint8_t kTreeEndsHere = 0x01;  // the tree section's stream ends in this volume
inline constexpr uint8_t kLastVolume = 0x02;    // no volume follows this one

inline constexpr uint8_t kFormatVersion = 1;
inline constexpr size_t kMagicSize = 8;
inline constexpr size_t kProjectHeaderSize = 10;  // magic, version, reserved
inline constexpr size_t kVolumeHeaderSize = 19;   // + volumeNumber, volumeFlags, treeEnd
// Offsets of the fields the writer patches after the volume is written.
inline constexpr uint64_t kVolumeFlagsOffset = 14;
inline constexpr uint64_t kTreeEndOffset = 15;

// Size of every compressed and inflated buffer, and so the largest item a reader can scan.
inline constexpr size_t kStreamBufferSize = 65536;
inline constexpr uint32_t kMiB = 1048576;
// splitMiB of a writer that never splits.
inline constexpr int32_t kNoSplit = 2147483647;
// The longest name or project string a writer stores, in UTF-16 units (terminator excluded).
inline constexpr size_t kMaxStoredName = 259;
// Size of the UTF-8 work buffer of the writer and of the UTF-16 work buffer of the reader.
inline constexpr size_t kWorkBufferSize = 32767;

// "KTRV_FWP", "KTRV_FWS", "KTRV_FWD": 8 bytes, not terminated.
const char* fileMagic(FileKind kind);
// ".fwp", ".fws", ".fwd".
const char16_t* fileExtension(FileKind kind);
// 10 for a project file, 19 for a state or difference file.
size_t headerSize(FileKind kind);
inline bool hasVolumes(FileKind kind) { return kind != FileKind::ProjectFile; }

struct FileHeader {
  char magic[kMagicSize];
  uint8_t version;
  uint8_t reserved;
  uint32_t volumeNumber;  // state and difference files only
  uint8_t volumeFlags;    // kTreeEndsHere | kLastVolume
  uint32_t treeEnd;       // offset in this volume of the first byte after the tree section
};

// Writes headerSize(kind) bytes of h into out, integers little-endian.
void encodeHeader(const FileHeader& h, FileKind kind, uint8_t* out);
// Reads headerSize(kind) bytes into *h. Does not judge them.
void decodeHeader(const uint8_t* in, FileKind kind, FileHeader* h);

// Little-endian access, the same on every host.
inline void putU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t getU64(const uint8_t* p) {
  return static_cast<uint64_t>(getU32(p)) | static_cast<uint64_t>(getU32(p + 4)) << 32;
}

}  // namespace fw

#endif  // FERRYWICK_FORMATS_FILE_HEADER_H
