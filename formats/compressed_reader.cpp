#include "formats/compressed_reader.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "formats/compressed_writer.h"
#include "formats/volume_set.h"
#include "formats/zlib_version.h"

namespace fw {
Rc CompressedReader::create(Fs& fs, std::unique_ptr<CompressedReader>* out) {
  out->reset();
  std::unique_ptr<CompressedReader> r(new (std::nothrow) CompressedReader);
  if (!r) return Rc::OutOfMemory;
  r->stream_ = new (std::nothrow) z_stream;
  if (!r->stream_) return Rc::OutOfMemory;
  std::memset(r->stream_, 0, sizeof(z_stream));
  r->fs_ = &fs;
  *out = std::move(r);
  return Rc::Ok;
}

CompressedReader::~CompressedReader() {
  endInflate();
  delete stream_;
}

void CompressedReader::closeFile() {
  if (file_ != kInvalidHandle) fs_->close(file_);
  file_ = kInvalidHandle;
}

Rc CompressedReader::allocateBuffers() {
  if (!input_) input_.reset(new (std::nothrow) uint8_t[kStreamBufferSize]);
  if (!windowBuf_) windowBuf_.reset(new (std::nothrow) uint8_t[kStreamBufferSize]);
  if (!workBuf_) workBuf_.reset(new (std::nothrow) char16_t[kWorkBufferSize]);
  if (!input_ || !windowBuf_ || !workBuf_) return Rc::OutOfMemory;
  window = windowBuf_.get();
  work = workBuf_.get();
  return Rc::Ok;
}

void CompressedReader::endInflate() {
  if (inflating_) inflateEnd(stream_);
  inflating_ = false;
  streamEnded_ = false;
  closeFile();
  input_.reset();
  windowBuf_.reset();
  workBuf_.reset();
  window = nullptr;
  work = nullptr;
  tokenStart = cursor = available = 0;
}

Rc CompressedReader::openReader(FileKind kind, const char16_t* path) {
  endInflate();
  if (!path || !path[0]) return Rc::BadRequest;
  kind_ = kind;
  try {
    first_ = path;
    path_ = first_;
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  if (path_.size() >= kPathBufferUnits) return Rc::CannotOpen;
  Rc rc = allocateBuffers();
  if (rc != Rc::Ok) return rc;
  volumeNumber = 0;
  rc = checkVolume();
  if (rc == Rc::Ok || kind_ != FileKind::DifferenceFile) return rc;
  // Perhaps a later volume of a set was chosen: it is read as that volume of the set its name
  // gives, which must reach it with this very file, from the set's first volume on.
  try {
    std::u16string first;
    uint32_t number = 0;
    if (!parseVolumeName(first_, &first, &number)) return rc;
    VolumeCheck check;
    rc = checkNamedVolume(*fs_, first_, first, number, &check);
    if (rc != Rc::Ok) return rc;
    first_ = std::move(first);
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  return openReaderVolume();
}

Rc CompressedReader::openReaderVolume() {
  closeFile();
  // Every volume's name comes from the first one's by the writer's own rule, so a set is
  // found whatever its first name looks like.
  try {
    path_ = volumeName(first_, volumeNumber);
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  if (path_.size() >= kPathBufferUnits) return Rc::CannotOpen;
  return checkVolume();
}

Rc CompressedReader::checkVolume() {
  closeFile();
  lastVolume_ = false;
  header_ = FileHeader{};
  if (fs_->openRead(path_.c_str(), &file_) != FsStatus::Ok) {
    file_ = kInvalidHandle;
    return Rc::CannotOpen;
  }
  size_t need = headerSize(kind_);
  uint8_t bytes[kVolumeHeaderSize];
  size_t got = 0;
  while (got < need) {  // a read may return less than asked before the end of the file
    uint32_t n = 0;
    if (fs_->read(file_, bytes + got, static_cast<uint32_t>(need - got), &n) != FsStatus::Ok ||
        n == 0)
      return Rc::Failed;
    got += n;
  }
  decodeHeader(bytes, kind_, &header_);
  if (std::memcmp(header_.magic, fileMagic(kind_), kMagicSize) != 0 ||
      header_.version != kFormatVersion)
    return Rc::Failed;
  if (hasVolumes(kind_)) {
    if (header_.volumeNumber != volumeNumber) return Rc::Failed;
    lastVolume_ = (header_.volumeFlags & kLastVolume) != 0;
  }
  return Rc::Ok;
}

Rc CompressedReader::readInput(uint32_t* got) {
  *got = 0;
  if (file_ == kInvalidHandle) return Rc::Failed;
  if (fs_->read(file_, input_.get(), static_cast<uint32_t>(kStreamBufferSize), got) !=
      FsStatus::Ok)
    return Rc::Failed;
  return Rc::Ok;
}

Rc CompressedReader::startInflate(size_t skip) {
  if (!window) return Rc::BadRequest;
  if (inflating_) inflateEnd(stream_);
  inflating_ = false;
  streamEnded_ = false;
  tokenStart = cursor = available = 0;
  uint32_t got;
  Rc rc = readInput(&got);
  if (rc != Rc::Ok) return rc;
  if (got <= skip) return Rc::Failed;
  std::memset(stream_, 0, sizeof(z_stream));
  stream_->next_in = input_.get() + skip;
  stream_->avail_in = static_cast<uInt>(got - skip);
  if (inflateInit_(stream_, kZlibVersion, static_cast<int>(sizeof(z_stream))) != Z_OK)
    return Rc::Failed;
  inflating_ = true;
  compressed_ = inflated_ = 0;
  bounded_ = true;
  return Rc::Ok;
}

Rc CompressedReader::refill() {
  if (!inflating_) return Rc::Failed;
  // Keep the unconsumed bytes (a part of an item, and what is not yet scanned) at the start.
  size_t keep = cursor + available - tokenStart;
  if (tokenStart > 0) {
    std::memmove(window, window + tokenStart, keep);
    cursor -= tokenStart;
    tokenStart = 0;
  }
  if (streamEnded_) return Rc::Ok;
  size_t room = kStreamBufferSize - keep;
  if (room == 0) return Rc::Failed;  // an item longer than the window
  size_t produced = 0;
  for (;;) {
    if (stream_->avail_in == 0) {
      uint32_t got;
      Rc rc = readInput(&got);
      if (rc != Rc::Ok) return rc;
      if (got == 0) {
        // Only a difference is split; anything else (and a last volume) has ended early.
        if (lastVolume_ || kind_ != FileKind::DifferenceFile || volumeNumber == UINT32_MAX)
          return Rc::Failed;
        ++volumeNumber;
        rc = openReaderVolume();
        if (rc != Rc::Ok) return rc;
        continue;
      }
      stream_->next_in = input_.get();
      stream_->avail_in = got;
    }
    stream_->next_out = window + keep + produced;
    stream_->avail_out = static_cast<uInt>(room - produced);
    uInt before = stream_->avail_out;
    uInt inBefore = stream_->avail_in;
    int z = inflate(stream_, Z_SYNC_FLUSH);
    produced += before - stream_->avail_out;
    compressed_ += inBefore - stream_->avail_in;
    if (z == Z_STREAM_END) {
      streamEnded_ = true;
      break;
    }
    if (z == Z_OK) {
      if (produced > 0) break;
      continue;  // input consumed without output yet (block headers): read on
    }
    // Z_BUF_ERROR with input left cannot make progress; everything else is damage.
    if (z == Z_BUF_ERROR && stream_->avail_in == 0) continue;
    return Rc::Failed;
  }
  available += produced;
  inflated_ += produced;
  if (bounded_ && inflated_ > kInflationFloor && inflated_ / kMaxInflation > compressed_)
    return Rc::Failed;  // more than the file's size can hold
  return Rc::Ok;
}

Rc CompressedReader::skipStringList(size_t* count) {
  if (count) *count = 0;
  if (!inflating_) return Rc::Failed;
  bool inString = false;
  for (;;) {
    while (available > 0) {
      if (!inString) {
        if (window[cursor] == 0) {
          ++cursor;
          --available;
          consume();
          return Rc::Ok;
        }
        inString = true;
      }
      const void* zero = std::memchr(window + cursor, 0, available);
      if (!zero) {
        cursor += available;
        available = 0;
        break;
      }
      size_t n = static_cast<const uint8_t*>(zero) - (window + cursor) + 1;
      cursor += n;
      available -= n;
      inString = false;
      if (count) ++*count;
      consume();  // a complete string: the list can be longer than the window
    }
    Rc rc = refill();
    if (rc == Rc::Ok && available == 0) rc = Rc::Failed;  // the data ended inside the list
    if (rc != Rc::Ok) {
      endInflate();
      return rc;
    }
  }
}

Rc CompressedReader::scanString(size_t* length) {
  *length = 0;
  if (!inflating_) return Rc::Failed;
  for (;;) {
    if (available > 0) {
      const void* zero = std::memchr(window + cursor, 0, available);
      if (zero) {
        size_t n = static_cast<const uint8_t*>(zero) - (window + cursor) + 1;
        cursor += n;
        available -= n;
        *length = cursor - tokenStart - 1;
        return Rc::Ok;
      }
      cursor += available;
      available = 0;
    }
    Rc rc = refill();
    if (rc != Rc::Ok) return rc;
    if (available == 0) return Rc::Failed;
  }
}

Rc CompressedReader::scanBytes(size_t n) {
  if (!inflating_) return Rc::Failed;
  while (available < n) {
    if (cursor - tokenStart + n > kStreamBufferSize) return Rc::Failed;
    size_t before = available;
    Rc rc = refill();
    if (rc != Rc::Ok) return rc;
    if (available == before) return Rc::Failed;
  }
  cursor += n;
  available -= n;
  return Rc::Ok;
}

Rc CompressedReader::atEnd(bool* end) {
  *end = false;
  if (!inflating_) return Rc::Failed;
  if (available > 0) return Rc::Ok;
  Rc rc = refill();
  if (rc != Rc::Ok) return rc;
  *end = available == 0 && cursor == tokenStart;
  return Rc::Ok;
}

Rc CompressedReader::takeBytes(uint64_t max, const uint8_t** data, size_t* n) {
  *data = nullptr;
  *n = 0;
  if (!inflating_ || max == 0) return Rc::Failed;
  if (available == 0) {
    consume();
    Rc rc = refill();
    if (rc != Rc::Ok) return rc;
    if (available == 0) return Rc::Failed;
  }
  size_t take = available < max ? available : static_cast<size_t>(max);
  *data = window + cursor;
  *n = take;
  cursor += take;
  available -= take;
  consume();
  return Rc::Ok;
}

Rc CompressedReader::requireStreamEnd(bool treeSection) {
  bool end = false;
  Rc rc = atEnd(&end);
  if (rc != Rc::Ok) return rc;
  if (!end || !streamEnded_ || file_ == kInvalidHandle) return Rc::Failed;
  // Where the stream's last byte lies in the open volume: the input not yet used is after it.
  uint64_t position = 0;
  if (fs_->tell(file_, &position) != FsStatus::Ok || position < stream_->avail_in)
    return Rc::Failed;
  position -= stream_->avail_in;
  if (treeSection) {
    if (!(header_.volumeFlags & kTreeEndsHere) || position != header_.treeEnd) return Rc::Failed;
    // A state file holds its tree section alone: it ends at treeEnd, its end.
    if (kind_ != FileKind::StateFile) return Rc::Ok;
    if (!lastVolume_) return Rc::Failed;
  }
  // Nothing may follow the data section, a state's tree section or a project's list: not in
  // the input read, not in the file.
  if ((hasVolumes(kind_) && !lastVolume_) || stream_->avail_in != 0) return Rc::Failed;
  uint8_t probe;
  uint32_t got = 0;
  if (fs_->read(file_, &probe, 1, &got) != FsStatus::Ok || got != 0) return Rc::Failed;
  return Rc::Ok;
}

Rc CompressedReader::findDataSection() {
  if (!window || kind_ != FileKind::DifferenceFile) return Rc::BadRequest;
  while (!(header_.volumeFlags & kTreeEndsHere)) {
    if (lastVolume_ || volumeNumber == UINT32_MAX) return Rc::Failed;  // no tree end anywhere
    ++volumeNumber;
    Rc rc = openReaderVolume();
    if (rc != Rc::Ok) return rc;
  }
  // treeEnd must lie inside this volume: past the header, and the byte before it must exist.
  uint64_t end = header_.treeEnd;
  if (end < kVolumeHeaderSize) return Rc::Failed;
  uint8_t probe;
  uint32_t got = 0;
  if (fs_->seek(file_, end - 1) != FsStatus::Ok) return Rc::Failed;
  if (fs_->read(file_, &probe, 1, &got) != FsStatus::Ok || got != 1) return Rc::Failed;
  if (fs_->read(file_, &probe, 1, &got) != FsStatus::Ok) return Rc::Failed;
  if (got == 0) {
    // The tree section filled its volume exactly: the data section starts in the next one.
    if (lastVolume_ || volumeNumber == UINT32_MAX) return Rc::Failed;
    ++volumeNumber;
    Rc rc = openReaderVolume();
    if (rc != Rc::Ok) return rc;
  } else if (fs_->seek(file_, end) != FsStatus::Ok) {
    return Rc::Failed;
  }
  Rc rc = startInflate(0);
  bounded_ = false;  // file contents compress as well as they do
  return rc;
}

}  // namespace fw
