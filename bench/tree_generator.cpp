#include "bench/tree_generator.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

namespace fw {
namespace {

std::string folderPath(const std::string& root, uint64_t index) {
  // Folder i lives below folder i / 10 (folder 0 is the first level): a tree about four deep.
  std::string path;
  std::vector<uint64_t> chain;
  for (uint64_t i = index; ; i = i / 10 - 1) {
    chain.push_back(i);
    if (i < 10) break;
  }
  path = root;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += "/dir" + std::to_string(*it);
  return path;
}

std::string filePath(const std::string& root, const TreeShape& shape, uint64_t f) {
  return folderPath(root, f % shape.folders) + "/file_" + std::to_string(f) + ".dat";
}

// Content in 4 KiB chunks: a chunk is words of a small vocabulary (text, which deflate
// shrinks about 3:1) with the chance compressible percent, else random bytes.
bool writeContent(const std::string& path, uint64_t size, int compressible, std::mt19937_64& rng) {
  static const char* const kWords[] = {
      "the",   "of",     "and",   "sync",    "folder", "file",  "source", "target", "state",
      "data",  "volume", "copy",  "machine", "travel", "tree",  "entry",  "newer",  "older",
      "size",  "time",   "name",  "case",    "attr",   "ok",    "failed", "bytes",  "added",
      "moved", "kept",   "later", "before",  "after",  "when",  "while",  "every",  "each",
      "one",   "two",    "three", "report",  "letter", "photo", "music",  "notes",  "draft",
      "plan",  "budget", "mix",   "archive", "backup", "disk",  "card",   "stick",  "carry",
      "home",  "office", "week",  "day",     "night",  "morning", "evening", "list", "row"};
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::perror(path.c_str());
    return false;
  }
  static char buffer[4096 + 16];
  uint64_t left = size;
  while (left > 0) {
    size_t n = left < 4096 ? static_cast<size_t>(left) : 4096;
    if (static_cast<int>(rng() % 100) < compressible) {
      size_t at = 0;
      while (at < n) {
        const char* w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        while (*w && at < n) buffer[at++] = *w++;
        if (at < n) buffer[at++] = (rng() % 12 == 0) ? '\n' : ' ';
      }
    } else {
      for (size_t i = 0; i < n; i += 8) {
        uint64_t r = rng();
        std::memcpy(buffer + i, &r, 8);
      }
    }
    if (std::fwrite(buffer, 1, n, out) != n) {
      std::perror(path.c_str());
      std::fclose(out);
      return false;
    }
    left -= n;
  }
  return std::fclose(out) == 0;
}

// Sizes spread evenly over the orders of magnitude up to maxSize, as in a real home folder.
uint64_t drawSize(uint64_t maxSize, std::mt19937_64& rng) {
  if (maxSize == 0) return 0;
  double r = std::uniform_real_distribution<double>(0.0, std::log(static_cast<double>(maxSize)))(rng);
  return static_cast<uint64_t>(std::exp(r));
}

}  // namespace

bool generateTree(const std::string& root, const TreeShape& shape) {
  std::error_code ec;
  for (uint64_t d = 0; d < shape.folders; ++d) {
    std::filesystem::create_directories(folderPath(root, d), ec);
    if (ec) {
      std::fprintf(stderr, "cannot create %s: %s\n", folderPath(root, d).c_str(),
                   ec.message().c_str());
      return false;
    }
  }
  std::mt19937_64 rng(shape.seed);
  for (uint64_t f = 0; f < shape.files; ++f) {
    uint64_t size = drawSize(shape.maxSize, rng);
    if (!writeContent(filePath(root, shape, f), size, shape.compressiblePercent, rng)) return false;
  }
  return true;
}

bool changeTree(const std::string& root, const TreeShape& shape, int percent, uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (uint64_t f = 0; f < shape.files; ++f) {
    if (static_cast<int>(rng() % 100) >= percent) continue;
    uint64_t size = shape.maxSize ? drawSize(shape.maxSize, rng) : 1;
    std::string path = filePath(root, shape, f);
    if (!writeContent(path, size, shape.compressiblePercent, rng)) return false;
    auto t = std::filesystem::last_write_time(path);
    std::filesystem::last_write_time(path, t + std::chrono::hours(1));
  }
  return true;
}

}  // namespace fw
