#include "bench/tree_generator.h"

#include <cstdio>
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

bool writeContent(const std::string& path, uint64_t size, int compressible, std::mt19937_64& rng) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::perror(path.c_str());
    return false;
  }
  static char buffer[65536];
  uint64_t left = size;
  while (left > 0) {
    size_t n = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
    for (size_t i = 0; i < n; ++i) {
      uint64_t r = rng();
      buffer[i] = static_cast<int>(r % 100) < compressible
                      ? "the quick brown fox jumps over a lazy dog "[(r >> 8) % 42]
                      : static_cast<char>(r >> 16);
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
    uint64_t size = shape.maxSize ? rng() % shape.maxSize : 0;
    if (!writeContent(filePath(root, shape, f), size, shape.compressiblePercent, rng)) return false;
  }
  return true;
}

bool changeTree(const std::string& root, const TreeShape& shape, int percent, uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (uint64_t f = 0; f < shape.files; ++f) {
    if (static_cast<int>(rng() % 100) >= percent) continue;
    uint64_t size = shape.maxSize ? rng() % shape.maxSize : 1;
    std::string path = filePath(root, shape, f);
    if (!writeContent(path, size, shape.compressiblePercent, rng)) return false;
    auto t = std::filesystem::last_write_time(path);
    std::filesystem::last_write_time(path, t + std::chrono::hours(1));
  }
  return true;
}

}  // namespace fw
