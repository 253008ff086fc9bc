// CompressedWriter: writes one project, state or difference file: the plain header, then zlib
// streams, cutting a difference into numbered volumes of splitMiB MiB each.
//
// Calling order
//   state file:      create, openVolume, beginStream, writes, finishStream, recordTreeEnd,
//                    closeVolume(true), destroy
//   difference file: the same up to recordTreeEnd, then beginStream, the data section's
//                    writes, finishStream, closeVolume(true), destroy
//   project file:    create, openVolume, beginStream, writes, finishStream, commit, destroy
//   (state and difference files end with commit after closeVolume(true), too)
//
// Staging. Every volume is written under a temporary name ("~fw....fwtmp", core/
// temporary_name.h) in its destination's folder; only commit puts the finished set in place of
// whatever files have those names. A writer destroyed without a successful commit (a failure,
// a cancel) removes its temporary files, so the files the save would have replaced stay as
// they were, every volume of them.
//
// Volumes. Every volume starts with a 19-byte header (volumeNumber 0, 1, 2, ...; flags and
// treeEnd written as 0 and patched by recordTreeEnd/closeVolume). The compressed bytes of all
// volumes, headers removed, form one sequence; it is cut at any byte, also inside a stream. A
// volume other than the last holds exactly splitMiB * 1 MiB bytes, header included, except the
// one in which a stream finished: finishStream's flush is never cut, so that volume may be
// larger, and its next cut waits for the next MiB boundary. Volume n >= 1 of "d.fwd" is named
// "d.%03u.fwd" (d.001.fwd ... d.999.fwd, d.1000.fwd): the number goes before the last three
// characters of the first volume's name.
//
// Output reaches the file in pieces of more than 32 KiB (at most 64 KiB); nothing is written
// per call of the write functions. Every function returns a result code:
//   Ok; Failed (zlib error, seek failure, text conversion failure); OutOfMemory (create);
//   BadRequest (a missing path, splitMiB < 1, a name over 259 units, a call out of order);
//   CannotWrite (a file cannot be created or written).
// After a failure nothing under the destination's names has changed. The destructor ends a
// running zlib stream, closes the open volume without patching anything and, unless commit
// succeeded, removes every temporary file the writer made.
//
// One writer is used by one thread for one operation. All file access goes through the Fs
// given at creation, which must outlive the writer.
#ifndef FERRYWICK_FORMATS_COMPRESSED_WRITER_H
#define FERRYWICK_FORMATS_COMPRESSED_WRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "formats/block_deflate.h"
#include "formats/file_header.h"
#include "platform/fs.h"

struct z_stream_s;

namespace fw {

class CompressedWriter : private DeflateSink {
 public:
  // Allocates a writer with its buffers for a file at path (the first volume's name). side is
  // the side of the comparison being saved (0 source, 1 target; see writeTreeSection).
  // splitMiB is the volume size in MiB for a difference file; everything else keeps kNoSplit.
  // OutOfMemory when it cannot be had; BadRequest without a path or with splitMiB < 1.
  static Rc create(Fs& fs, FileKind kind, const char16_t* path, int side, int32_t splitMiB,
                   std::unique_ptr<CompressedWriter>* out);
  ~CompressedWriter();
  CompressedWriter(const CompressedWriter&) = delete;
  CompressedWriter& operator=(const CompressedWriter&) = delete;

  // Creates the temporary file of volume `path` and writes its header with version 1 and,
  // for state and difference files, volumeNumber. An existing read-only file or a folder under
  // path is CannotWrite, as it cannot be replaced. Counts the header into the volume's size
  // whether or not the writes succeeded.
  Rc openVolume();
  // Starts a zlib stream (default level and window) whose output follows what is written so
  // far; a second stream after finishStream starts where the first ended.
  Rc beginStream();
  // The same stream format, compressed in blocks on threads threads (0: one per core) by a
  // BlockDeflater (block_deflate.h): one ordinary zlib stream whose bytes do not depend on
  // the number of threads. Output reaches the file a block at a time and is cut into volumes
  // as above; the last block and the checksum are finishStream's flush, never cut.
  Rc beginBlockStream(unsigned threads);

  // Compress n bytes into the running stream; may cut the volume (see above).
  Rc writeBytes(const void* data, size_t n);
  Rc writeU8(uint8_t v);
  Rc writeU32(uint32_t v);  // 4 bytes, little-endian
  // A name or project string: UTF-8 of text and one 0 byte. More than 259 units: BadRequest
  // and nothing is written; text that does not convert (an unpaired surrogate): Failed.
  Rc writeName(const char16_t* text);
  // The same for a longer text (a relative path of a data entry): units units of text, which
  // must convert to at most kWorkBufferSize - 1 bytes (else BadRequest).
  Rc writeText(const char16_t* text, size_t units);

  // Flushes the stream to its end, writes the rest (never cut) and ends the zlib stream.
  Rc finishStream();
  // After finishStream of the tree section: remembers the volume and patches its treeEnd with
  // the current file position (state and difference files).
  Rc recordTreeEnd();
  // Patches volumeFlags (TreeEndsHere in the tree's volume, LastVolume when final) and closes
  // the open volume. Ok without an open volume.
  Rc closeVolume(bool final);
  // Closes the open volume and opens the next one ("%03u." inserted or replaced). Called by
  // writeBytes on a cut; public for tests.
  Rc nextVolume();
  // After the last stream is finished (and closeVolume(true), which it does itself when the
  // volume is still open): renames the temporary files onto the volumes' names, each in one
  // rename that replaces the file there, from the last volume to the first: every name holds a
  // whole file, old or new, at every instant, and the first volume is the new one only once
  // all are. The old volumes a later rename could undo are given a second name first (a hard
  // link, or a copy), removed once the whole new set is in place. For a difference, the
  // higher-numbered volumes of an earlier, longer set of the same name (d.003.fwd, ...), which
  // would otherwise look like part of the new one, are moved aside before and removed after,
  // but only as far as that set proves them its own (provenOldVolumes, volume_set.h): anything
  // else under such a name is left alone. CannotWrite when a second name cannot be made or a
  // rename fails: then the old files are put back and the new ones removed. BadRequest with a
  // stream still running or nothing written.
  Rc commit();

  FileKind kind() const { return kind_; }
  int side() const { return side_; }
  const std::u16string& path() const { return path_; }  // the open (or last) volume's name
  uint32_t volumeNumber() const { return volumeNumber_; }
  int32_t treeVolume() const { return treeVolume_; }
  // Size of the open volume so far, header included: mibInVolume MiB + bytesInMiB.
  uint32_t mibInVolume() const { return mibInVolume_; }
  uint32_t bytesInMiB() const { return bytesInMiB_; }
  // Uncompressed bytes given to the write functions since creation.
  uint64_t bytesIn() const { return bytesIn_; }

 private:
  CompressedWriter() = default;
  Rc writeOut(const uint8_t* data, uint32_t n);
  Rc flushPending(bool mayCut);
  // Writes n compressed bytes, cutting the volume where it is full when mayCut.
  Rc emit(const uint8_t* data, size_t n, bool mayCut);
  Rc put(const uint8_t* data, size_t n, bool final) override;
  void countWritten(uint32_t n);
  void resetOutput();
  void endStream();

  Fs* fs_ = nullptr;
  FileKind kind_ = FileKind::ProjectFile;
  int side_ = 0;
  int32_t splitMiB_ = kNoSplit;
  uint32_t mibInVolume_ = 0;
  uint32_t bytesInMiB_ = 0;
  uint32_t volumeNumber_ = 0;
  int32_t treeVolume_ = -1;
  uint64_t bytesIn_ = 0;
  void discardStaged();

  std::u16string first_;                // the first volume's name
  std::u16string path_;
  std::vector<std::u16string> staged_;  // per volume number, its temporary file
  bool committed_ = false;
  FileHandle file_ = kInvalidHandle;
  z_stream_s* stream_ = nullptr;
  bool streaming_ = false;
  std::unique_ptr<BlockDeflater> blocks_;  // a block stream's compressor, while it runs
  std::unique_ptr<uint8_t[]> output_;  // kStreamBufferSize
  std::unique_ptr<char[]> work_;       // kWorkBufferSize
};

// The name of volume n of the set whose first volume is named first: n == 0 gives first;
// otherwise "%03u." of n goes before the last three characters.
std::u16string volumeName(const std::u16string& first, uint32_t n);

}  // namespace fw

#endif  // FERRYWICK_FORMATS_COMPRESSED_WRITER_H
