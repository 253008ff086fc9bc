// CompressedReader: reads back what CompressedWriter wrote, from volume to volume, through a
// 64 KiB window of inflated bytes that the scanners read in place.
//
// The window
//   window[0 .. kStreamBufferSize) holds inflated bytes. Three positions index it:
//     tokenStart  first byte of the first item not yet consumed
//     cursor      scan position (tokenStart <= cursor)
//     available   inflated bytes after cursor not yet scanned
//   The valid bytes are [tokenStart, cursor + available). An item (a string, a record) is
//   scanned by advancing cursor and decrementing available; when it is complete, consume()
//   moves tokenStart to cursor. refill() moves the bytes from tokenStart on to the start of the
//   window and inflates more after them, so an item can be at most 64 KiB long and a pointer
//   into the window is valid only until the next refill.
//
// Life of a reader: create, openReader (header checked), startInflate, scanning with refill,
// endInflate (or the end of the data), destroy. For the data section of a difference:
// openReader, findDataSection (which ends with startInflate), scanning.
//
// Results: Ok; Failed (wrong magic, version or volume number, a volume of another set, zlib
// error, data that end early, a seek failure, a treeEnd that does not fit its volume);
// OutOfMemory (buffers); CannotOpen (a file or volume cannot be opened).
//
// One reader is used by one thread for one operation; all file access goes through the Fs
// given at creation, which must outlive the reader.
#ifndef FERRYWICK_FORMATS_COMPRESSED_READER_H
#define FERRYWICK_FORMATS_COMPRESSED_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/result.h"
#include "formats/file_header.h"
#include "platform/fs.h"

struct z_stream_s;

namespace fw {

// What a saved file's real size can hold: a tree section or a string list inflates to at most
// kMaxInflation times the compressed bytes it came from once past the first kInflationFloor
// bytes, or the reader fails (Failed) as for damaged data. The trees and lists that real
// folders give compress about five to one; a file packed far tighter than any of them is
// made to fill memory (every 19 inflated bytes of a record cost a node of some 170 bytes), and
// its records are not read on. A difference's data section (file contents) is not bounded.
inline constexpr uint64_t kMaxInflation = 32;
inline constexpr uint64_t kInflationFloor = 32ull * 1048576;

class CompressedReader {
 public:
  // Allocates an empty reader (no buffers yet); OutOfMemory when it cannot be had.
  static Rc create(Fs& fs, std::unique_ptr<CompressedReader>* out);
  ~CompressedReader();
  CompressedReader(const CompressedReader&) = delete;
  CompressedReader& operator=(const CompressedReader&) = delete;

  // Allocates the buffers (OutOfMemory), sets volumeNumber to 0 and opens and checks volume 0
  // under path. When that fails for a difference whose path is a later volume's name as the
  // writer makes it (d.002.fwd, parseVolumeName in volume_set.h), the file must be that volume
  // of the set that begins with d.fwd: its header numbered 2, and the set's volumes before it
  // there, numbered, and none flagged as the last (checkNamedVolume; a missing one CannotOpen,
  // anything else Failed). Then the set is opened at its first volume. Any other name is a file
  // of its own. A reader may be opened again (as another kind) after a failed open or after
  // endInflate.
  Rc openReader(FileKind kind, const char16_t* path);
  // Closes the open volume and opens and checks volume volumeNumber (the caller increments it
  // first), named from the set's first volume as the writer names it (volumeName(), "d.fwd" ->
  // "d.%03u.fwd"). Missing: CannotOpen; another set's volume or a wrong header: Failed.
  Rc openReaderVolume();
  // Reads the first piece of compressed data from the current file position and starts
  // inflating at byte skip of it. Nothing after skip: Failed. The window is empty afterwards;
  // the first refill fills it.
  Rc startInflate(size_t skip);
  // Inflates more bytes after the ones from tokenStart on (see above), reading further input
  // and following into the next volume as needed, until at least one byte came, the stream
  // ended, or an error occurred. After the end of the stream it succeeds and adds nothing
  // (available stays 0: the end of the data). Failed: a zlib error, data that end before the
  // stream does, a window already full from tokenStart on (an item longer than 64 KiB), or
  // outside a data section more inflated bytes than kMaxInflation allows. The Fs's read and
  // open failures give Failed and CannotOpen.
  Rc refill();
  // Consumes a list of 0-terminated strings up to and including its empty string; the list
  // may be of any length. If the data end or a refill fails before the empty string, the
  // inflate stream is ended (nothing can be scanned afterwards) and the result is Failed, or
  // the refill's code.
  Rc skipStringList(size_t* count = nullptr);  // count: the strings before the empty one
  // After the last item of a stream: Ok only when nothing is left to scan, the zlib stream has
  // ended with its checksum verified (Z_STREAM_END), and it ended where the headers say. A
  // tree section (treeSection) must end at treeEnd of a volume flagged TreeEndsHere (of a
  // state file, one also flagged LastVolume, and the end of the file); a difference's data
  // section at the very end of the volume flagged LastVolume; a project's one stream at the
  // very end of its file.
  // Failed otherwise, or the refill's code.
  Rc requireStreamEnd(bool treeSection);
  // Ends the zlib stream, frees the buffers and closes the open volume. Harmless when idle.
  void endInflate();

  // For the data section of a difference file (after openReader as DifferenceFile): opens the
  // volumes in order until the one flagged TreeEndsHere, checks that its treeEnd lies inside
  // it, positions there and calls startInflate(0). When treeEnd is the very end of that volume
  // (the tree filled it exactly), the data section starts in the next volume, just after its
  // header. Failed when no volume up to the last has the flag, or treeEnd is out of range.
  Rc findDataSection();

  // Scanning helpers over the window, shared by every scanner. They start at cursor and keep
  // tokenStart, refilling as needed; consume() ends the item.
  //
  // Scans a 0-terminated string that starts a new item (cursor == tokenStart): on Ok it is at
  // itemStart(), *length bytes before its 0 byte, and cursor is past the 0. The data end
  // first: Failed.
  Rc scanString(size_t* length);
  // Advances cursor by n bytes (n <= 64 KiB), refilling as needed; the data end first: Failed.
  Rc scanBytes(size_t n);
  // True in *end when no byte is left to scan and the stream has ended (refills once if
  // nothing is available).
  Rc atEnd(bool* end);
  // Up to max bytes from cursor (at least 1, refilling if none is available), consumed at
  // once: for file contents streamed straight out of the window. The data end first: Failed.
  Rc takeBytes(uint64_t max, const uint8_t** data, size_t* n);
  void consume() { tokenStart = cursor; }
  const uint8_t* itemStart() const { return window + tokenStart; }

  // The window and its positions (see above). window is null when no buffers are held.
  uint8_t* window = nullptr;
  size_t tokenStart = 0;
  size_t cursor = 0;
  size_t available = 0;
  // UTF-16 work buffer of kWorkBufferSize units for names converted by the scanners.
  char16_t* work = nullptr;

  FileKind kind() const { return kind_; }
  uint32_t volumeNumber = 0;  // expected number of the open volume
  const FileHeader& header() const { return header_; }  // the open volume's header as read
  bool lastVolume() const { return lastVolume_; }
  bool streamEnded() const { return streamEnded_; }
  bool inflating() const { return inflating_; }
  const std::u16string& path() const { return path_; }

 private:
  CompressedReader() = default;
  Rc allocateBuffers();
  Rc checkVolume();
  void closeFile();
  Rc readInput(uint32_t* got);

  Fs* fs_ = nullptr;
  FileKind kind_ = FileKind::ProjectFile;
  std::u16string first_;  // the set's first volume
  std::u16string path_;   // the open volume
  FileHandle file_ = kInvalidHandle;
  FileHeader header_{};
  bool lastVolume_ = false;
  z_stream_s* stream_ = nullptr;
  bool inflating_ = false;
  bool streamEnded_ = false;
  // The stream's bytes so far, in and out, for the bound of kMaxInflation (unless a data
  // section's).
  uint64_t compressed_ = 0;
  uint64_t inflated_ = 0;
  bool bounded_ = true;
  std::unique_ptr<uint8_t[]> input_;      // kStreamBufferSize
  std::unique_ptr<uint8_t[]> windowBuf_;  // kStreamBufferSize
  std::unique_ptr<char16_t[]> workBuf_;   // kWorkBufferSize
};

}  // namespace fw

#endif  // FERRYWICK_FORMATS_COMPRESSED_READER_H
