// The threaded scan against the one-side-after-the-other scan, node by node, on generated
// pairs of trees with every kind of entry the comparison treats apart.
#include "core/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/comparison.h"
#include "core/ignore_list.h"
#include "core/result_test_util.h"
#include "platform/testing/forwarding_fs.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fw {
namespace {

// Fills a source and a target folder with related trees: shared files (some changed), entries
// on one side only, names in other letter case, a file against a folder, folders that the
// test's Fs refuses to list ("locked"), ignored and leftover names, and on POSIX case twins,
// FIFOs and links to folders.
class PairGenerator {
 public:
  PairGenerator(uint32_t seed, const TempDir& src, const TempDir& trg)
      : rng_(seed), root_{&src, &trg} {}

  // The entries of a folder; the first folder given both sides gets every kind once.
  void folder(const std::string& rel, unsigned sides, int depth) {
    if (sides == 3 && !everyKind_) {
      everyKind_ = true;
      for (int kind = 0; kind < kKinds; ++kind) entry(rel, sides, depth, kind, kind);
    }
    int n = 2 + pick(4);
    for (int i = 0; i < n; ++i) entry(rel, sides, depth, i, pick(depth < 3 ? kKinds : 9));
  }

 private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::string at(const std::string& rel, const std::string& name) {
    return rel.empty() ? name : rel + "/" + name;
  }
  std::u16string path(int side, const std::string& rel) { return root_[side]->at(rel); }
  void file(int side, const std::string& rel, const std::string& content, uint64_t time) {
    writeFile(path(side, rel), content);
    setModified(path(side, rel), time);
  }
  void both(unsigned sides, const std::string& rel, const std::string& content, uint64_t time) {
    for (int s = 0; s < 2; ++s)
      if (sides & (1u << s)) file(s, rel, content, time);
  }
  void dir(unsigned sides, const std::string& rel) {
    for (int s = 0; s < 2; ++s)
      if (sides & (1u << s)) makeDir(path(s, rel));
  }

  static constexpr int kKinds = 16;

  void entry(const std::string& rel, unsigned sides, int depth, int i, int kind) {
    std::string id = std::to_string(counter_++);
    uint64_t time = 132000000000000000ull + static_cast<uint64_t>(pick(4)) * 30000000ull;
    if (kind >= 9 && sides != 3 && kind != 9) kind = 9;  // the mixed kinds need both sides
    switch (kind) {
      case 0: case 1: case 2:
        both(sides, at(rel, "same" + id + ".txt"), "content " + id, time);
        break;
      case 3:  // changed on the target: size and time
        if (sides & 1u) file(0, at(rel, "chg" + id + ".bin"), "old", time);
        if (sides & 2u) file(1, at(rel, "chg" + id + ".bin"), "newer content", time + 50000000);
        break;
      case 4:
        if (sides & 1u) file(0, at(rel, "src" + id), "s", time);
        else both(sides, at(rel, "trg" + id), "t", time);
        break;
      case 5:
        if (sides & 2u) file(1, at(rel, "trg" + id), "t", time);
        break;
      case 6:  // never listed: ignored names and a leftover of an interrupted copy
        both(sides, at(rel, "Thumbs.db"), "x", time);
        both(sides, at(rel, "~fw0123456789abc" + std::to_string(100 + i % 900) + ".fwtmp"), "x",
             time);
        break;
      case 7: case 8:
        dir(sides, at(rel, "empty" + id));
        break;
      case 9: case 10: case 11: {  // a folder on the sides given, or on one side only
        unsigned below = kind == 9 ? sides : (kind == 10 ? 1u : 2u);
        std::string name = at(rel, "dir" + id);
        dir(below, name);
        folder(name, below, depth + 1);
        break;
      }
      case 12: {  // the same folder in other letter case on each side
        file(0, at(rel, "Case" + id + "/Inner.txt"), "i", time);
        file(1, at(rel, "case" + id + "/inner.TXT"), "i", time);
        file(1, at(rel, "case" + id + "/more.txt"), "m", time);
        break;
      }
      case 13:  // a file against a folder of the same name, either way round
        file(pick(2), at(rel, "mixed" + id), "f", time);
        if (exists(path(0, at(rel, "mixed" + id))))
          file(1, at(rel, "mixed" + id + "/in.txt"), "in", time);
        else
          file(0, at(rel, "mixed" + id + "/in.txt"), "in", time);
        break;
      case 14: {  // refused by the test's Fs on one side or both
        int which = pick(3);
        unsigned lockedSides = which == 2 ? 3u : 1u << which;
        for (int s = 0; s < 2; ++s) {
          file(s, at(rel, "locked" + id + "/a.txt"), "a", time);
          if (lockedSides & (1u << s)) file(s, at(rel, "locked" + id + "/sub/b.txt"), "b", time);
        }
        // The name holds the fragment on both sides; FaultFs is told which side by the root.
        locked_.push_back({lockedSides, "locked" + id});
        break;
      }
      case 15:
        special(rel, id, time);
        break;
    }
  }

  void special(const std::string& rel, const std::string& id, uint64_t time) {
#ifndef _WIN32
    // Case twins on the source, one of them on the target.
    file(0, at(rel, "twin" + id + ".h"), "lower", time);
    file(0, at(rel, "TWIN" + id + ".h"), "upper", time);
    file(1, at(rel, "Twin" + id + ".h"), "third", time);
    // One twin pair that the target matches exactly.
    file(0, at(rel, "pair" + id), "a", time);
    file(0, at(rel, "PAIR" + id), "b", time);
    file(1, at(rel, "pair" + id), "a", time);
    ASSERT_EQ(mkfifo(toUtf8(path(0, at(rel, "fifo" + id))).c_str(), 0600), 0);
    file(1, at(rel, "fifo" + id), "a file on the other side", time);
    makeDir(path(1, at(rel, "linked" + id)));
    ASSERT_EQ(symlink(toUtf8(root_[1]->path()).c_str(),
                      toUtf8(path(0, at(rel, "linked" + id))).c_str()),
              0);
    file(1, at(rel, "linked" + id + "/x.txt"), "x", time);
#else
    file(0, at(rel, "Win" + id + ".txt"), "w", time);
    file(1, at(rel, "WIN" + id + ".TXT"), "w", time);
#endif
  }

 public:
  struct Locked {
    unsigned sides;
    std::string name;
  };
  std::vector<Locked> locked_;

 private:
  std::mt19937 rng_;
  const TempDir* root_[2];
  int counter_ = 0;
  bool everyKind_ = false;
};

bool sameNode(const FileNode* a, const FileNode* b, const std::string& where) {
  if (!a || !b) {
    if (a == b) return true;
    ADD_FAILURE() << where << ": one tree has a node the other lacks";
    return false;
  }
  std::string name = toUtf8(a->name);
  std::string here = where + "/" + name;
  bool same = std::u16string(sideName(a, 0)) == sideName(b, 0) &&
              std::u16string(sideName(a, 1)) == sideName(b, 1);
  if (!same) return ADD_FAILURE() << here << ": names differ from " << toUtf8(b->name), false;
  if (a->flags != b->flags)
    return ADD_FAILURE() << here << ": flags " << std::hex << a->flags << " against " << b->flags,
           false;
  for (int s = 0; s < 2; ++s) {
    if (a->side[s].modified != b->side[s].modified || a->side[s].size != b->side[s].size ||
        a->side[s].attributes != b->side[s].attributes)
      return ADD_FAILURE() << here << ": side " << s << " differs", false;
  }
  // The sibling tree's shape too: the same insertions in the same order give the same tree.
  return sameNode(a->link[0], b->link[0], where) && sameNode(a->link[1], b->link[1], where) &&
         sameNode(a->children, b->children, here);
}

size_t countNodes(const FileNode* n) {
  if (!n) return 0;
  return 1 + countNodes(n->link[0]) + countNodes(n->link[1]) + countNodes(n->children);
}

class ScanSidesTest : public ::testing::Test {
 protected:
  struct Result {
    NodePool pool;
    FileNode* roots = nullptr;
    Rc rc = Rc::Failed;
    std::vector<std::u16string> leftovers;
  };

  void run(Result& r, Fs& fs, int threads, const CancelFlag* cancel = nullptr) {
    CompareContext ctx;
    ctx.fs = &fs;
    ctx.pool = &r.pool;
    ctx.ignoreList = kDefaultIgnoreList;
    ctx.cancel = cancel;
    ctx.leftovers = &r.leftovers;
    ctx.leftoverBefore = ~0ull;
    ctx.scanThreads = threads;
    r.rc = compareSides(&source_, &target_, &r.roots, ctx);
    std::sort(r.leftovers.begin(), r.leftovers.end());
  }

  // Several rows: a full pair, a source root that does not exist, a row without a target,
  // and a target root that does not exist.
  void generate(uint32_t seed) {
    PairGenerator gen(seed, src_, trg_);
    for (const char* row : {"r0", "r1", "r2", "r3"}) {
      makeDir(src_.at(row));
      makeDir(trg_.at(row));
    }
    gen.folder("r0", 3, 0);
    gen.folder("r1", 2, 0);
    gen.folder("r2", 1, 0);
    gen.folder("r3", 1, 0);
    source_.roots = {src_.at("r0"), src_.at("r1/missing"), src_.at("r2"), src_.at("r3")};
    target_.roots = {trg_.at("r0"), trg_.at("r1"), u"", trg_.at("r3/missing")};
    // A folder named "locked..." is refused on the sides the generator chose; its name
    // appears on both sides, so the rule names the side's root as well.
    for (const auto& l : gen.locked_)
      for (int s = 0; s < 2; ++s)
        if (l.sides & (1u << s)) lockedFragments_.push_back({s, toUtf16(l.name)});
  }

  // Fails the listing of every "locked" folder on its sides.
  struct LockingFs : ForwardingFs {
    LockingFs(Fs& base, ScanSidesTest& t) : ForwardingFs(base), test(t) {}
    FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override {
      std::u16string_view pattern(p);
      for (const auto& [side, name] : test.lockedFragments_) {
        const std::u16string& root = side == 0 ? test.src_.path() : test.trg_.path();
        // The pattern is in long form ("\\?\" first on Windows): the root is inside it.
        if (pattern.find(root) != std::u16string_view::npos &&
            pattern.find(std::u16string(1, kPathSeparator) + name + kPathSeparator) !=
                std::u16string_view::npos) {
          *h = kInvalidHandle;
          return FsStatus::AccessDenied;
        }
      }
      return ForwardingFs::findFirst(p, h, e);
    }
    bool concurrentUse() const override { return true; }
    ScanSidesTest& test;
  };

  TempDir src_, trg_;
  SideInput source_, target_;
  std::vector<std::pair<int, std::u16string>> lockedFragments_;
};

TEST_F(ScanSidesTest, ThreadedScanGivesTheSequentialTreeNodeByNode) {
  for (uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    removeTree(src_.path());
    removeTree(trg_.path());
    makeDir(src_.path());
    makeDir(trg_.path());
    lockedFragments_.clear();
    generate(seed);
    LockingFs fs(systemFs(), *this);
    Result one, two, three;
    run(one, fs, 1);
    run(two, fs, 2);
    run(three, fs, 3);
    ASSERT_RC_OK(one.rc);
    ASSERT_RC_OK(two.rc);
    ASSERT_RC_OK(three.rc);
    ASSERT_GT(countNodes(one.roots), 60u);
    EXPECT_TRUE(sameNode(one.roots, two.roots, ""));
    EXPECT_TRUE(sameNode(one.roots, three.roots, ""));
    EXPECT_EQ(one.leftovers, two.leftovers);
    EXPECT_EQ(one.leftovers, three.leftovers);
    EXPECT_FALSE(one.leftovers.empty());
    // The generated kinds are all there, so the comparison above covered them.
    std::vector<UnlistedFolder> unlisted = unlistedFolders(one.roots);
    EXPECT_FALSE(unlisted.empty());
    EXPECT_FALSE(conflictingEntries(one.roots).empty());
  }
}

TEST_F(ScanSidesTest, PoolFailureAndCancelEmptyTheResultOnEveryThread) {
  generate(4);
  {
    Result r;
    r.pool.setBlockSize(4096);  // a few nodes per block: the threads carve many blocks
    run(r, systemFs(), 2);
    ASSERT_RC_OK(r.rc);
    Result one;
    run(one, systemFs(), 1);
    EXPECT_TRUE(sameNode(one.roots, r.roots, ""));
  }
  {
    Result r;
    r.pool.setBlockSize(128);  // no node fits
    run(r, systemFs(), 2);
    EXPECT_EQ(r.rc, Rc::BadRequest);
    EXPECT_EQ(r.roots, nullptr);
    EXPECT_EQ(r.pool.blockCount(), 0u);
  }
  // Cancelled from inside a listing, while other threads are at work.
  struct CancellingFs : ForwardingFs {
    CancellingFs(Fs& base, CancelFlag& f) : ForwardingFs(base), flag(f) {}
    FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override {
      if (++calls == 12) flag = 1;
      return ForwardingFs::findFirst(p, h, e);
    }
    bool concurrentUse() const override { return true; }
    CancelFlag& flag;
    std::atomic<int> calls{0};
  };
  CancelFlag cancel{0};
  CancellingFs fs(systemFs(), cancel);
  Result r;
  run(r, fs, 2, &cancel);
  ASSERT_RC_OK(r.rc);
  EXPECT_EQ(cancel.load(), 1u);
  EXPECT_EQ(r.roots, nullptr);
  EXPECT_EQ(r.pool.blockCount(), 0u);
}

TEST_F(ScanSidesTest, AnFsWithoutConcurrentUseIsCalledOnTheCallingThreadInScanFolderOrder) {
  // Records the listing and attribute calls: their threads, and the patterns in order.
  struct RecordingFs : ForwardingFs {
    RecordingFs(Fs& base, bool concurrent) : ForwardingFs(base), concurrent(concurrent) {}
    FsStatus findFirst(const char16_t* p, FindHandle* h, FindEntry* e) override {
      note(p);
      return ForwardingFs::findFirst(p, h, e);
    }
    FsStatus findNext(FindHandle h, FindEntry* e) override {
      note(nullptr);
      return ForwardingFs::findNext(h, e);
    }
    FsStatus getAttributes(const char16_t* p, uint32_t* a) override {
      note(nullptr);
      return ForwardingFs::getAttributes(p, a);
    }
    bool concurrentUse() const override { return concurrent; }
    void note(const char16_t* pattern) {
      std::lock_guard<std::mutex> lock(mutex);
      threads.insert(std::this_thread::get_id());
      if (pattern) patterns.emplace_back(pattern);
    }
    bool concurrent;
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::vector<std::u16string> patterns;
  };
  generate(5);
  RecordingFs inTurn(systemFs(), true);
  Result one;
  run(one, inTurn, 1);
  ASSERT_RC_OK(one.rc);
  ASSERT_GT(inTurn.patterns.size(), 20u);
  for (int threads : {2, 3}) {
    SCOPED_TRACE(std::to_string(threads) + " threads asked for");
    RecordingFs single(systemFs(), false);
    Result r;
    run(r, single, threads);
    ASSERT_RC_OK(r.rc);
    EXPECT_EQ(single.threads, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(single.patterns, inTurn.patterns);  // each side's whole tree, the source's first
    EXPECT_TRUE(sameNode(one.roots, r.roots, ""));
  }
}

TEST(NodePoolAdopt, CarvedMemoryLivesOnAndCarvingContinuesInTheOwnBlock) {
  NodePool mine(1024), other(1024);
  char16_t* a;
  char16_t* b;
  ASSERT_RC_OK(mine.allocateName(u"mine", 4, &a));
  ASSERT_RC_OK(other.allocateName(u"other", 5, &b));
  uint32_t used = mine.used();
  ASSERT_RC_OK(mine.adopt(other));
  EXPECT_EQ(mine.blockCount(), 2u);
  EXPECT_EQ(other.blockCount(), 0u);
  EXPECT_EQ(mine.used(), used);
  EXPECT_EQ(std::u16string(b), u"other");
  char16_t* c;
  ASSERT_RC_OK(mine.allocateName(u"next", 4, &c));
  EXPECT_EQ(c, a + 5);  // right after the first name, in the pool's own block
  NodePool empty(1024);
  ASSERT_RC_OK(empty.adopt(mine));
  EXPECT_EQ(empty.blockCount(), 2u);
  EXPECT_EQ(empty.used(), used + 10);
}

}  // namespace
}  // namespace fw
