// The fuzz corpus as compiled into the formats tests (see formats/CMakeLists.txt).
#ifndef FERRYWICK_FUZZ_CORPUS_DATA_H
#define FERRYWICK_FUZZ_CORPUS_DATA_H

#include <cstddef>

namespace fw {

struct CorpusEntry {
  const char* name;  // "<target>/<file>"
  const unsigned char* data;
  size_t size;
};

// Ends with an entry whose name is null.
extern const CorpusEntry kCorpus[];

}  // namespace fw

#endif  // FERRYWICK_FUZZ_CORPUS_DATA_H
