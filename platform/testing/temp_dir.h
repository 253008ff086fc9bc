// Temporary folders on the real disk for tests, and small helpers to fill and read them.
// Paths are UTF-8 with "/" in the test's own code; native() gives this build's form.
#ifndef FERRYWICK_PLATFORM_TESTING_TEMP_DIR_H
#define FERRYWICK_PLATFORM_TESTING_TEMP_DIR_H

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace fw {

// A fresh empty folder below the system's temporary folder, removed with all its content when
// the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // This folder's path in the build's own form, UTF-16, without trailing separator.
  const std::u16string& path() const { return path_; }
  // path() + separator + relative ("/" in relative becomes the separator).
  std::u16string at(const std::string& relative) const;

 private:
  std::u16string path_;
};

// File helpers through the real file system; relative "/" is converted. They fail the test
// (ADD_FAILURE) when the operation fails.
void writeFile(const std::u16string& path, const std::string& content);
std::string readFile(const std::u16string& path);
bool exists(const std::u16string& path);
void makeDir(const std::u16string& path);  // with missing parents
void setModified(const std::u16string& path, uint64_t fileTime);
uint64_t modifiedOf(const std::u16string& path);
uint32_t attributesOf(const std::u16string& path);
void removeTree(const std::u16string& path);
// "/" to the build's separator.
std::u16string nativeSeparators(const std::string& relative);

// n bytes that deflate cannot shrink, the same for the same seed.
inline std::string randomBytes(size_t n, uint32_t seed) {
  std::string out(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_TESTING_TEMP_DIR_H
