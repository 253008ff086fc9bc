// Helpers shared by the formats tests: deterministic data, files with hand-made inflated
// content, and zlib used directly to look at what the writers produced.
#ifndef FERRYWICK_FORMATS_FORMAT_TEST_UTIL_H
#define FERRYWICK_FORMATS_FORMAT_TEST_UTIL_H

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/result_test_util.h"
#include "formats/compressed_writer.h"
#include "platform/fs.h"

#include "platform/testing/temp_dir.h"

namespace fw {

// Inflates the zlib stream at the start of data; *used receives its compressed length.
// Returns false when data do not hold one complete stream.
inline bool inflateStream(const std::string& data, std::string* out, size_t* used = nullptr) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  out->clear();
  char buffer[65536];
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out->append(buffer, sizeof buffer - z.avail_out);
  } while (rc == Z_OK);
  if (used) *used = data.size() - z.avail_in;
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

// A file of the given kind whose one stream inflates to content, written through the real
// writer (a state or difference file is finished as a complete single volume).
inline Rc writeRawFile(Fs& fs, FileKind kind, const std::u16string& path,
                       const std::string& content) {
  std::unique_ptr<CompressedWriter> w;
  Rc rc = CompressedWriter::create(fs, kind, path.c_str(), 0, kNoSplit, &w);
  if (rc == Rc::Ok) rc = w->openVolume();
  if (rc == Rc::Ok) rc = w->beginStream();
  if (rc == Rc::Ok) rc = w->writeBytes(content.data(), content.size());
  if (rc == Rc::Ok) rc = w->finishStream();
  if (rc == Rc::Ok && hasVolumes(kind)) rc = w->recordTreeEnd();
  if (rc == Rc::Ok && hasVolumes(kind)) rc = w->closeVolume(true);
  if (rc == Rc::Ok) rc = w->commit();
  return rc;
}

inline std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
inline std::string le64(uint64_t v) { return le32(static_cast<uint32_t>(v)) + le32(v >> 32); }

// The bytes of a file record and of a folder record (folder: followed by its entries and 0).
inline std::string fileRecord(const std::string& name, uint64_t modified, uint64_t size,
                              uint8_t attributes) {
  return name + std::string(1, '\0') + le64(modified) + le64(size) +
         std::string(1, static_cast<char>(attributes));
}
inline std::string folderRecord(const std::string& name, uint8_t attributes) {
  return name + std::string(1, '\0') + std::string(16, '\0') +
         std::string(1, static_cast<char>(attributes));
}

}  // namespace fw

#endif  // FERRYWICK_FORMATS_FORMAT_TEST_UTIL_H
