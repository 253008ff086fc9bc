// Writes the seed corpus of the fuzz targets into <folder>/string_list, <folder>/saved_side and
// <folder>/difference: files made by the writers, split differences, and a few cut short or
// broken (see makeSeeds).
#include <cstdio>
#include <fstream>

#include "fuzz/fuzz_entry.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fw_make_corpus <corpus folder>\n");
    return 2;
  }
  for (const fw::Seed& seed : fw::makeSeeds()) {
    std::ofstream out(std::string(argv[1]) + "/" + seed.target + "/" + seed.name,
                      std::ios::binary);
    out << seed.bytes;
    if (!out) {
      std::fprintf(stderr, "cannot write %s/%s\n", seed.target.c_str(), seed.name.c_str());
      return 1;
    }
  }
  return 0;
}
