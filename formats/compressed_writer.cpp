#include "formats/compressed_writer.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "core/temporary_name.h"
#include "formats/volume_set.h"
#include "formats/zlib_version.h"
#include "platform/text.h"

namespace fw {
namespace {

// Output is written once less than this much of the output buffer is free.
constexpr uInt kFlushWhenFreeBelow = 32768;
// The piece in which an old volume is copied where it cannot be linked.
constexpr uint32_t kCopyBlock = 1u << 20;

// "%03u." of n.
std::u16string volumeTag(uint32_t n) {
  char text[16];
  int len = std::snprintf(text, sizeof text, "%03u.", static_cast<unsigned>(n));
  return std::u16string(text, text + len);
}

// Removes a file whatever its attributes.
void removeFile(Fs& fs, const std::u16string& path) {
  if (fs.deleteFile(path.c_str()) == FsStatus::Ok) return;
  fs.setAttributes(path.c_str(), attr::Normal);
  fs.deleteFile(path.c_str());
}

// Gives the file at name a second name, aside (free until now): a hard link where the file
// system has them, elsewhere a copy with the file's time (it may be put back in its place).
// False when neither can be made; nothing is left at aside then.
bool secondName(Fs& fs, const std::u16string& name, const std::u16string& aside) {
  if (fs.createHardLink(name.c_str(), aside.c_str()) == FsStatus::Ok) return true;
  FileHandle in = kInvalidHandle, out = kInvalidHandle;
  if (fs.openRead(name.c_str(), &in) != FsStatus::Ok) return false;
  bool ok = fs.createNew(aside.c_str(), attr::Normal, kDefaultPermissions, &out) == FsStatus::Ok;
  if (!ok) out = kInvalidHandle;
  std::unique_ptr<uint8_t[]> buffer(ok ? new (std::nothrow) uint8_t[kCopyBlock] : nullptr);
  ok = ok && buffer;
  for (uint32_t got = 0; ok;) {
    ok = fs.read(in, buffer.get(), kCopyBlock, &got) == FsStatus::Ok;
    if (!ok || got == 0) break;
    ok = fs.write(out, buffer.get(), got) == FsStatus::Ok;
  }
  uint64_t modified = 0;
  ok = ok && fs.getFileTime(in, &modified) == FsStatus::Ok &&
       fs.setFileTimes(out, modified, modified, modified) == FsStatus::Ok;
  fs.close(in);
  if (out != kInvalidHandle) fs.close(out);
  if (!ok && out != kInvalidHandle) removeFile(fs, aside);
  return ok;
}

}  // namespace

std::u16string volumeName(const std::u16string& first, uint32_t n) {
  if (n == 0) return first;
  size_t at = first.size() >= 3 ? first.size() - 3 : 0;
  std::u16string name = first;
  name.insert(at, volumeTag(n));
  return name;
}

Rc CompressedWriter::create(Fs& fs, FileKind kind, const char16_t* path, int side,
                            int32_t splitMiB, std::unique_ptr<CompressedWriter>* out) {
  out->reset();
  if (!path || !path[0] || splitMiB < 1) return Rc::BadRequest;
  std::unique_ptr<CompressedWriter> w(new (std::nothrow) CompressedWriter);
  if (!w) return Rc::OutOfMemory;
  try {
    w->first_ = path;
    w->path_ = path;
    w->path_.reserve(w->path_.size() + 14);  // room for the volume numbers
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  w->output_.reset(new (std::nothrow) uint8_t[kStreamBufferSize]);
  w->work_.reset(new (std::nothrow) char[kWorkBufferSize]);
  w->stream_ = new (std::nothrow) z_stream;
  if (!w->output_ || !w->work_ || !w->stream_) return Rc::OutOfMemory;
  std::memset(w->stream_, 0, sizeof(z_stream));
  w->fs_ = &fs;
  w->kind_ = kind;
  w->side_ = side;
  w->splitMiB_ = splitMiB;
  *out = std::move(w);
  return Rc::Ok;
}

CompressedWriter::~CompressedWriter() {
  endStream();
  if (file_ != kInvalidHandle) fs_->close(file_);
  if (!committed_) discardStaged();
  delete stream_;
}

void CompressedWriter::discardStaged() {
  for (std::u16string& temporary : staged_) {
    if (!temporary.empty()) removeFile(*fs_, temporary);
    temporary.clear();
  }
}

void CompressedWriter::endStream() {
  if (blocks_)
    blocks_.reset();  // stops its threads after their current block
  else if (streaming_)
    deflateEnd(stream_);
  streaming_ = false;
}

void CompressedWriter::resetOutput() {
  stream_->next_out = output_.get();
  stream_->avail_out = static_cast<uInt>(kStreamBufferSize);
}

void CompressedWriter::countWritten(uint32_t n) {
  bytesInMiB_ += n;
  while (bytesInMiB_ > kMiB) {
    bytesInMiB_ -= kMiB;
    ++mibInVolume_;
  }
}

Rc CompressedWriter::writeOut(const uint8_t* data, uint32_t n) {
  if (n == 0) return Rc::Ok;
  if (file_ == kInvalidHandle) return Rc::CannotWrite;
  return fs_->write(file_, data, n) == FsStatus::Ok ? Rc::Ok : Rc::CannotWrite;
}

Rc CompressedWriter::openVolume() {
  if (file_ != kInvalidHandle) return Rc::BadRequest;
  uint8_t bytes[kVolumeHeaderSize];
  FileHeader h{};
  std::memcpy(h.magic, fileMagic(kind_), kMagicSize);
  h.version = kFormatVersion;
  h.volumeNumber = volumeNumber_;
  encodeHeader(h, kind_, bytes);
  size_t n = headerSize(kind_);
  mibInVolume_ = 0;
  bytesInMiB_ = static_cast<uint32_t>(n);
  if (committed_) return Rc::BadRequest;
  // What commit could not replace is refused now, before anything is written.
  uint32_t existing = 0;
  if (fs_->getAttributes(path_.c_str(), &existing) == FsStatus::Ok &&
      (existing & (attr::ReadOnly | attr::Directory)))
    return Rc::CannotWrite;
  std::u16string temporary;
  if (!temporaryPathBeside(*fs_, path_, &temporary)) return Rc::CannotWrite;
  try {
    if (staged_.size() <= volumeNumber_) staged_.resize(volumeNumber_ + 1);
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  std::u16string& slot = staged_[volumeNumber_];
  if (!slot.empty()) removeFile(*fs_, slot);  // this volume opened again: the old try goes
  slot = std::move(temporary);
  if (fs_->createAlways(slot.c_str(), attr::Normal, &file_) != FsStatus::Ok) {
    file_ = kInvalidHandle;
    slot.clear();
    return Rc::CannotWrite;
  }
  return writeOut(bytes, static_cast<uint32_t>(n));
}

Rc CompressedWriter::beginStream() {
  if (streaming_) return Rc::BadRequest;
  std::memset(stream_, 0, sizeof(z_stream));  // zalloc/zfree null: the library's allocator
  if (deflateInit_(stream_, Z_DEFAULT_COMPRESSION, kZlibVersion,
                   static_cast<int>(sizeof(z_stream))) != Z_OK)
    return Rc::Failed;
  streaming_ = true;
  resetOutput();
  return Rc::Ok;
}

// Writes what deflate has put into the output buffer, cutting the volume where it is full.
Rc CompressedWriter::flushPending(bool mayCut) {
  size_t pending = kStreamBufferSize - stream_->avail_out;
  Rc rc = emit(output_.get(), pending, mayCut);
  resetOutput();
  return rc;
}

Rc CompressedWriter::emit(const uint8_t* out, size_t n, bool mayCut) {
  while (n > 0) {
    uint32_t first = static_cast<uint32_t>(n);
    bool cut = false;
    if (mayCut && static_cast<int64_t>(mibInVolume_) >= static_cast<int64_t>(splitMiB_) - 1 &&
        static_cast<uint64_t>(bytesInMiB_) + n > kMiB) {
      first = bytesInMiB_ >= kMiB ? 0 : kMiB - bytesInMiB_;
      cut = true;
    }
    Rc rc = writeOut(out, first);
    if (rc != Rc::Ok) return rc;
    if (!cut) {
      countWritten(first);
      return Rc::Ok;
    }
    rc = nextVolume();  // the new volume counts its header
    if (rc != Rc::Ok) return rc;
    out += first;
    n -= first;
  }
  return Rc::Ok;
}

Rc CompressedWriter::put(const uint8_t* data, size_t n, bool final) {
  return emit(data, n, !final && kind_ == FileKind::DifferenceFile);
}

Rc CompressedWriter::beginBlockStream(unsigned threads) {
  if (streaming_) return Rc::BadRequest;
  Rc rc = BlockDeflater::create(threads, *this, &blocks_);
  if (rc != Rc::Ok) return rc;
  streaming_ = true;
  return Rc::Ok;
}

Rc CompressedWriter::writeBytes(const void* data, size_t n) {
  if (!streaming_) return Rc::BadRequest;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bytesIn_ += n;
  if (blocks_) return blocks_->write(p, n);
  while (n > 0) {
    uInt piece = n > 0x40000000u ? 0x40000000u : static_cast<uInt>(n);
    stream_->next_in = const_cast<Bytef*>(p);
    stream_->avail_in = piece;
    while (stream_->avail_in > 0) {
      if (deflate(stream_, Z_NO_FLUSH) != Z_OK) return Rc::Failed;
      if (stream_->avail_out >= kFlushWhenFreeBelow) continue;
      Rc rc = flushPending(kind_ == FileKind::DifferenceFile);
      if (rc != Rc::Ok) return rc;
    }
    p += piece;
    n -= piece;
  }
  return Rc::Ok;
}

Rc CompressedWriter::writeU8(uint8_t v) { return writeBytes(&v, 1); }

Rc CompressedWriter::writeU32(uint32_t v) {
  uint8_t b[4];
  putU32(b, v);
  return writeBytes(b, 4);
}

Rc CompressedWriter::writeName(const char16_t* text) {
  if (!text) return Rc::BadRequest;
  size_t units = length16(text);
  if (units > kMaxStoredName) return Rc::BadRequest;
  return writeText(text, units);
}

Rc CompressedWriter::writeText(const char16_t* text, size_t units) {
  if (!text && units > 0) return Rc::BadRequest;
  size_t n = units == 0 ? 0 : utf16ToUtf8(text, units, work_.get(), kWorkBufferSize - 1);
  if (n == kConversionFailed) {
    // Up to this many units always fit (three bytes per unit at most), so the text itself
    // does not convert; beyond, it may also be merely too long.
    if (units <= (kWorkBufferSize - 1) / 3) return Rc::Failed;
    for (size_t i = 0; i < units; ++i) {
      char16_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      if (c >= 0xD800 && c <= 0xDFFF) return Rc::Failed;
    }
    return Rc::BadRequest;
  }
  work_[n] = 0;
  return writeBytes(work_.get(), n + 1);
}

Rc CompressedWriter::finishStream() {
  if (!streaming_) return Rc::BadRequest;
  if (blocks_) {
    Rc rc = blocks_->finish();
    endStream();
    return rc;
  }
  stream_->next_in = nullptr;
  stream_->avail_in = 0;
  for (;;) {
    int z = deflate(stream_, Z_FINISH);
    uint32_t pending = static_cast<uint32_t>(kStreamBufferSize - stream_->avail_out);
    if (pending > 0) {
      if (writeOut(output_.get(), pending) != Rc::Ok) {
        endStream();
        return Rc::CannotWrite;
      }
      countWritten(pending);
    }
    if (z == Z_STREAM_END) {
      endStream();
      return Rc::Ok;
    }
    if (z != Z_OK && z != Z_BUF_ERROR) {
      endStream();
      return Rc::Failed;
    }
    resetOutput();
  }
}

Rc CompressedWriter::recordTreeEnd() {
  if (!hasVolumes(kind_)) return Rc::Ok;
  if (file_ == kInvalidHandle) return Rc::BadRequest;
  treeVolume_ = static_cast<int32_t>(volumeNumber_);
  uint64_t position;
  if (fs_->tell(file_, &position) != FsStatus::Ok) return Rc::Failed;
  uint8_t b[4];
  putU32(b, static_cast<uint32_t>(position));
  if (fs_->seek(file_, kTreeEndOffset) != FsStatus::Ok) return Rc::Failed;
  if (fs_->write(file_, b, 4) != FsStatus::Ok) return Rc::CannotWrite;
  if (fs_->seek(file_, position) != FsStatus::Ok) return Rc::Failed;
  return Rc::Ok;
}

Rc CompressedWriter::closeVolume(bool final) {
  if (file_ == kInvalidHandle) return Rc::Ok;
  Rc rc = Rc::Ok;
  bool treeHere = treeVolume_ >= 0 && static_cast<uint32_t>(treeVolume_) == volumeNumber_;
  if (hasVolumes(kind_) && (final || treeHere)) {
    uint8_t flags = static_cast<uint8_t>((treeHere ? kTreeEndsHere : 0) |
                                         (final ? kLastVolume : 0));
    if (fs_->seek(file_, kVolumeFlagsOffset) != FsStatus::Ok)
      rc = Rc::Failed;
    else if (fs_->write(file_, &flags, 1) != FsStatus::Ok)
      rc = Rc::CannotWrite;
  }
  fs_->close(file_);
  file_ = kInvalidHandle;
  return rc;
}

Rc CompressedWriter::nextVolume() {
  if (!hasVolumes(kind_)) return Rc::BadRequest;
  Rc rc = closeVolume(false);
  if (rc != Rc::Ok) return rc;
  if (volumeNumber_ == UINT32_MAX) return Rc::CannotWrite;
  try {
    // The first volume's name gets the number inserted before its last three characters;
    // later names carry the current number there, which is replaced.
    size_t ext = path_.size() >= 3 ? path_.size() - 3 : 0;
    std::u16string next = volumeTag(volumeNumber_ + 1);
    if (volumeNumber_ == 0) {
      path_.insert(ext, next);
    } else {
      std::u16string current = volumeTag(volumeNumber_);
      if (ext < current.size() || path_.compare(ext - current.size(), current.size(), current))
        return Rc::Failed;  // cannot happen: the name is ours
      path_.replace(ext - current.size(), current.size(), next);
    }
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  ++volumeNumber_;
  return openVolume();
}

Rc CompressedWriter::commit() {
  if (committed_ || streaming_ || staged_.empty()) return Rc::BadRequest;
  if (file_ != kInvalidHandle) {
    Rc rc = closeVolume(true);
    if (rc != Rc::Ok) return rc;
  }
  for (const std::u16string& temporary : staged_)
    if (temporary.empty()) return Rc::BadRequest;  // a volume that was never written
  // Every name the new set takes, then (for a difference) the old set's further volumes, with
  // a free temporary name for a second name of each file there. All allocation happens here,
  // so that the renames below cannot be left half done by a lack of memory.
  //
  // Each new volume takes its name's place in one rename that replaces the file there, so that
  // no name ever stands empty: a program killed between two renames leaves whole volumes
  // under every name, each the old one or the new one. The renames go from the last volume to
  // the first, so that the first volume is the new one only once every other is. A set of old
  // and new volumes does not read as whole (the data stream's checksum spans them all).
  //
  // To put the old set back should a rename fail, each old volume that a later rename could
  // find replaced (every one but the first, which is renamed last) is first given a second
  // name beside it: a hard link, or a copy where the file system has none. The old set's
  // further volumes are moved to theirs before the new set goes in.
  struct Place {
    std::u16string name;
    std::u16string aside;  // the old file's second name; empty: none is kept
  };
  std::vector<Place> places;
  try {
    // Beyond the new set only the old set's proven volumes go (volume_set.h): whatever else
    // bears such a name (a volume of another set, a file of the user's) stays.
    uint32_t oldVolumes = 0;
    for (uint32_t n = 0; n < UINT32_MAX; ++n) {
      bool ours = n < staged_.size();
      if (!ours && kind_ != FileKind::DifferenceFile) break;
      Place place{volumeName(first_, n), {}};
      uint32_t attributes = 0;
      bool present = fs_->getAttributes(place.name.c_str(), &attributes) == FsStatus::Ok;
      if (!ours && (!present || (attributes & attr::Directory))) break;
      if (!ours && n == staged_.size())
        oldVolumes = provenOldVolumes(*fs_, first_, static_cast<uint32_t>(staged_.size()));
      if (!ours && n >= oldVolumes) break;
      if (present && (attributes & attr::Directory)) return Rc::CannotWrite;
      if (present && n > 0 && !temporaryPathBeside(*fs_, place.name, &place.aside))
        return Rc::CannotWrite;
      places.push_back(std::move(place));
    }
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  const size_t count = staged_.size();
  auto dropSecondNames = [&](size_t upTo) {
    for (size_t i = 0; i < upTo && i < count; ++i)
      if (!places[i].aside.empty()) removeFile(*fs_, places[i].aside);
  };
  auto putBack = [&](size_t movedAside) {
    for (size_t i = count; i < movedAside; ++i)
      fs_->rename(places[i].aside.c_str(), places[i].name.c_str(), false);
  };
  for (size_t i = 1; i < count; ++i) {
    if (places[i].aside.empty()) continue;
    if (!secondName(*fs_, places[i].name, places[i].aside)) {
      dropSecondNames(i);
      return Rc::CannotWrite;
    }
  }
  for (size_t i = count; i < places.size(); ++i) {
    if (fs_->rename(places[i].name.c_str(), places[i].aside.c_str(), false) != FsStatus::Ok) {
      putBack(i);
      dropSecondNames(count);
      return Rc::CannotWrite;
    }
  }
  for (size_t n = count; n-- > 0;) {
    if (fs_->rename(staged_[n].c_str(), places[n].name.c_str(), true) != FsStatus::Ok) {
      // The volumes already renamed in give way to the old ones again, or to nothing where
      // there were none.
      for (size_t m = n + 1; m < count; ++m) {
        if (places[m].aside.empty())
          removeFile(*fs_, places[m].name);
        else  // should this fail too, the old volume is kept under its second name
          fs_->rename(places[m].aside.c_str(), places[m].name.c_str(), true);
        places[m].aside.clear();
      }
      putBack(places.size());
      dropSecondNames(count);
      return Rc::CannotWrite;  // the destructor removes the temporary files left
    }
    staged_[n].clear();
  }
  committed_ = true;
  for (const Place& place : places)
    if (!place.aside.empty()) removeFile(*fs_, place.aside);
  return Rc::Ok;
}

}  // namespace fw
