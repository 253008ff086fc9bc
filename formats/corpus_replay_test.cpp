// Replays the fuzz corpus through the fuzz entry points, so that an input that once broke a
// reader keeps being tried in both builds. An entry point aborts on a broken invariant.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/corpus_data.h"
#include "fuzz/fuzz_entry.h"

namespace fw {
namespace {

TEST(CorpusReplayTest, EveryInputRunsThroughItsTarget) {
  int lists = 0, sides = 0;
  for (const CorpusEntry* e = kCorpus; e->name; ++e) {
    std::string name = e->name;
    SCOPED_TRACE(name);
    if (name.rfind("string_list/", 0) == 0) {
      EXPECT_EQ(fuzzStringList(e->data, e->size), 0);
      ++lists;
    } else if (name.rfind("saved_side/", 0) == 0) {
      EXPECT_EQ(fuzzSavedSide(e->data, e->size), 0);
      ++sides;
    } else {
      ADD_FAILURE() << "no target for " << name;
    }
  }
  EXPECT_GE(lists, 3);
  EXPECT_GE(sides, 3);
}

}  // namespace
}  // namespace fw
