// Entry points of the fuzz targets, compiled into the libFuzzer programs and into the formats
// tests, which replay the seed corpus (and every input that once crashed) through them.
//
// string_list: byte 0 picks the kind (0 project, 1 state, 2 difference, modulo 3); the rest is
//   the whole file, header included, read by readStringList. A project list loads by
//   loadProject exactly when it has an even number of strings, and is saved again and must
//   read back the same.
// saved_side:  byte 0 bit 0 picks the side the file is loaded as (0 source, 1 target), bit 1
//   the name's extension (.fws or .fwd); the rest is the file, and further volumes of a split
//   difference follow after each kVolumeMark. The file is loaded as that side of a comparison
//   against a small real folder; a comparison that succeeds is saved as a state and must load
//   again.
// difference:  byte 0 bit 0 picks the name the file is opened by (0 its first volume, 1 its
//   last); the rest are the volumes of a difference, split at each kVolumeMark. The whole file
//   is checked by verifyDifference (tree section, data section, every data entry), and its data
//   stream by checkDataStream: a fault is named exactly when the check fails, a difference
//   that verifies has a whole data stream, and neither writes anything.
// Each returns 0; a broken invariant aborts.
#ifndef FERRYWICK_FUZZ_FUZZ_ENTRY_H
#define FERRYWICK_FUZZ_FUZZ_ENTRY_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/testing/forwarding_fs.h"

namespace fw {

inline constexpr char kVolumeMark[] = "--FW-VOLUME--";

int fuzzStringList(const uint8_t* data, size_t size);
int fuzzSavedSide(const uint8_t* data, size_t size);
int fuzzDifference(const uint8_t* data, size_t size);

// The seed corpus as this build's writers make it: target "string_list", "saved_side" or
// "difference", the file name, and the input. fuzz/make_corpus writes it out; the formats tests
// compare the committed corpus, written by the native build, with what each build makes.
struct Seed {
  std::string target;
  std::string name;
  std::string bytes;
};
std::vector<Seed> makeSeeds();

// Files whose path starts with "mem:" live in memory; every other call goes to the system.
// Enough of a file system for the readers and writers (open, create, read, write, seek, tell,
// close, delete, rename).
class MemoryFs : public ForwardingFs {
 public:
  MemoryFs();
  std::map<std::u16string, std::string> files;

  FsStatus openRead(const char16_t* p, FileHandle* f) override;
  FsStatus createAlways(const char16_t* p, uint32_t a, FileHandle* f) override;
  FsStatus read(FileHandle f, void* b, uint32_t n, uint32_t* got) override;
  FsStatus write(FileHandle f, const void* d, uint32_t n) override;
  FsStatus seek(FileHandle f, uint64_t o) override;
  FsStatus tell(FileHandle f, uint64_t* o) override;
  void close(FileHandle f) override;
  FsStatus deleteFile(const char16_t* p) override;
  FsStatus getAttributes(const char16_t* p, uint32_t* a) override;
  FsStatus rename(const char16_t* from, const char16_t* to, bool replace) override;

 private:
  struct Open {
    std::u16string path;
    uint64_t position;
  };
  static bool isMemory(const char16_t* p);
  static bool isMemoryHandle(FileHandle f);
  std::map<FileHandle, Open> open_;
  FileHandle next_;
};

}  // namespace fw

#endif  // FERRYWICK_FUZZ_FUZZ_ENTRY_H
