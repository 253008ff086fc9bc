// Replays the fuzz corpus through the fuzz entry points, so that an input that once broke a
// reader keeps being tried in both builds. An entry point aborts on a broken invariant.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/file_header.h"
#include "formats/format_test_util.h"

#include "fuzz/corpus_data.h"
#include "fuzz/fuzz_entry.h"

namespace fw {
namespace {

TEST(CorpusReplayTest, EveryInputRunsThroughItsTarget) {
  int lists = 0, sides = 0, differences = 0;
  for (const CorpusEntry* e = kCorpus; e->name; ++e) {
    std::string name = e->name;
    SCOPED_TRACE(name);
    if (name.rfind("string_list/", 0) == 0) {
      EXPECT_EQ(fuzzStringList(e->data, e->size), 0);
      ++lists;
    } else if (name.rfind("saved_side/", 0) == 0) {
      EXPECT_EQ(fuzzSavedSide(e->data, e->size), 0);
      ++sides;
    } else if (name.rfind("difference/", 0) == 0) {
      EXPECT_EQ(fuzzDifference(e->data, e->size), 0);
      ++differences;
    } else {
      ADD_FAILURE() << "no target for " << name;
    }
  }
  EXPECT_GE(lists, 3);
  EXPECT_GE(sides, 3);
  EXPECT_GE(differences, 3);
}

// What a seed means, independent of how deflate packed it: per file (volumes of a split
// difference are files) its header without treeEnd, then the inflated content of every zlib
// stream in the files' bodies taken together.
std::vector<std::string> meaning(const std::string& target, const std::string& input) {
  std::vector<std::string> out;
  if (input.empty()) return out;
  out.push_back(input.substr(0, 1));
  std::vector<std::string> files;
  std::string rest = input.substr(1);
  if (target == "saved_side" || target == "difference") {
    for (size_t at;; rest.erase(0, at + std::strlen(kVolumeMark))) {
      at = rest.find(kVolumeMark);
      files.push_back(rest.substr(0, at));
      if (at == std::string::npos) break;
    }
  } else {
    files.push_back(rest);
  }
  std::string body;
  for (const std::string& f : files) {
    size_t header = f.compare(0, 8, "KTRV_FWP") == 0 ? kProjectHeaderSize : kVolumeHeaderSize;
    out.push_back("header " + f.substr(0, header == kProjectHeaderSize ? header : 15));
    body += f.size() > header ? f.substr(header) : std::string();
  }
  while (!body.empty()) {
    std::string stream;
    size_t used = 0;
    bool whole = inflateStream(body, &stream, &used);
    out.push_back((whole ? "stream " : "cut ") + stream);
    if (!whole || used == 0) break;
    body.erase(0, used);
  }
  return out;
}

// The committed corpus was written by the native build. Every build must make the same files
// from the same input (so files travel between the builds both ways), and the replay above
// shows that each build reads the committed ones.
TEST(CorpusReplayTest, ThisBuildWritesTheCommittedSeeds) {
  std::vector<Seed> seeds = makeSeeds();
  ASSERT_GE(seeds.size(), 10u);
  // The fallback comparison sees content: a split difference means its streams.
  std::vector<std::string> split, whole;
  for (const Seed& s : seeds) {
    if (s.name == "difference-split") split = meaning(s.target, s.bytes);
    if (s.name == "difference-target") whole = meaning(s.target, s.bytes);
  }
  ASSERT_EQ(split.size(), 5u);  // kind byte, two headers, two streams
  EXPECT_EQ(split[3].substr(0, 8), "stream R");
  EXPECT_EQ(std::vector<std::string>(split.begin() + 3, split.end()),
            std::vector<std::string>(whole.begin() + 2, whole.end()));
  for (const Seed& seed : seeds) {
    std::string name = seed.target + "/" + seed.name;
    SCOPED_TRACE(name);
    const CorpusEntry* e = kCorpus;
    while (e->name && name != e->name) ++e;
    ASSERT_NE(e->name, nullptr) << "not in fuzz/corpus; run fw_make_corpus";
    std::string committed(reinterpret_cast<const char*>(e->data), e->size);
    if (committed == seed.bytes) continue;  // the same zlib packs the same bytes
    EXPECT_EQ(meaning(seed.target, committed), meaning(seed.target, seed.bytes));
  }
}

}  // namespace
}  // namespace fw
