// Writes a reproducible tree of folders and files for benchmarks.
#ifndef FERRYWICK_BENCH_TREE_GENERATOR_H
#define FERRYWICK_BENCH_TREE_GENERATOR_H

#include <cstdint>
#include <string>

namespace fw {

struct TreeShape {
  uint64_t files = 100000;
  uint64_t folders = 10000;
  uint64_t seed = 1;
  // Sizes: spread evenly over the orders of magnitude below maxSize; 0 makes empty files.
  uint64_t maxSize = 0;
  // Share of 4 KiB chunks that are text (compressible) rather than random bytes, 0..100.
  int compressiblePercent = 85;
};

// Creates root and the tree below it: folders nested up to four deep, files spread evenly.
// Returns false with a message on stderr when something cannot be written.
bool generateTree(const std::string& root, const TreeShape& shape);

// Changes about percent of the files of a tree made by generateTree with the same shape:
// rewrites their content (new size) and moves their time forward.
bool changeTree(const std::string& root, const TreeShape& shape, int percent, uint64_t seed);

}  // namespace fw

#endif  // FERRYWICK_BENCH_TREE_GENERATOR_H
