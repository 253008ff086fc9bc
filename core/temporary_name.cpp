#include "core/temporary_name.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <random>

namespace fw {
namespace {

uint64_t mix(uint64_t z) {  // splitmix64's finaliser
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// A different value on every call, unpredictable across processes.
uint64_t nextRandom() {
  static const uint64_t seed = [] {
    uint64_t s = static_cast<uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    try {
      std::random_device device;
      s ^= (static_cast<uint64_t>(device()) << 32) ^ device();
    } catch (...) {  // no entropy source: the clock alone will do
    }
    return s;
  }();
  static std::atomic<uint64_t> counter{0};
  return mix(seed + 0x9e3779b97f4a7c15ull * (counter.fetch_add(1, std::memory_order_relaxed) + 1));
}

bool isSeparator(char16_t c) { return c == kPathSeparator || c == u'/'; }

}  // namespace

void makeTemporaryName(char16_t* out) {
  for (size_t i = 0; i < kTemporaryPrefixUnits; ++i) *out++ = kTemporaryPrefix[i];
  uint64_t r = nextRandom();
  for (size_t i = 0; i < kTemporaryDigitUnits; ++i)
    *out++ = u"0123456789abcdef"[(r >> (60 - 4 * i)) & 15];
  for (size_t i = 0; i < kTemporarySuffixUnits; ++i) *out++ = kTemporarySuffix[i];
  *out = 0;
}

bool temporaryPathBeside(Fs& fs, const std::u16string& destination, std::u16string* out) {
  size_t folderEnd = destination.size();
  while (folderEnd > 0 && !isSeparator(destination[folderEnd - 1])) --folderEnd;
  char16_t name[kTemporaryNameUnits + 1];
  try {
    for (int attempt = 0; attempt < 16; ++attempt) {
      makeTemporaryName(name);
      out->assign(destination, 0, folderEnd);
      out->append(name, kTemporaryNameUnits);
      uint32_t attributes;
      if (fs.getAttributes(out->c_str(), &attributes) == FsStatus::NotFound) return true;
    }
  } catch (const std::bad_alloc&) {
  }
  out->clear();
  return false;
}

bool isTemporaryName(const char16_t* name) {
  for (size_t i = 0; i < kTemporaryPrefixUnits; ++i)
    if (name[i] != kTemporaryPrefix[i]) return false;
  for (size_t i = 0; i < kTemporaryDigitUnits; ++i) {
    char16_t c = name[kTemporaryPrefixUnits + i];
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  const char16_t* suffix = name + kTemporaryPrefixUnits + kTemporaryDigitUnits;
  for (size_t i = 0; i <= kTemporarySuffixUnits; ++i)  // the terminator too
    if (suffix[i] != kTemporarySuffix[i]) return false;
  return true;
}

}  // namespace fw
