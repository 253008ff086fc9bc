// Shared by the scanner and comparison tests: two temporary folders compared through the real
// file system (or a wrapper of it), and lookups into the resulting tree.
#ifndef FERRYWICK_CORE_COMPARE_FIXTURE_H
#define FERRYWICK_CORE_COMPARE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "core/comparison.h"
#include "core/ignore_list.h"
#include "core/result_test_util.h"
#include "core/scanner.h"
#include "core/sibling_tree.h"
#include "platform/testing/temp_dir.h"
#include "platform/text.h"

namespace fw {

class CompareFixture : public ::testing::Test {
 protected:
  Rc compare(const char16_t* ignore = kDefaultIgnoreList) {
    source_.roots = {src_.path()};
    target_.roots = {trg_.path()};
    return compareInputs(&source_, &target_, ignore);
  }
  Rc compareInputs(const SideInput* s, const SideInput* t,
                   const char16_t* ignore = kDefaultIgnoreList) {
    CompareContext ctx;
    ctx.fs = fs_;
    ctx.pool = &pool_;
    ctx.ignoreList = ignore;
    ctx.cancel = &cancel_;
    ctx.timeShiftHours = timeShiftHours_;
    ctx.scanThreads = scanThreads_;
    ctx.listingFailures = &listingFailures_;
    return compareSides(s, t, &roots_, ctx);
  }
  // The node at a "/"-separated path below the first root, or null.
  FileNode* node(const std::string& path, FileNode* root = nullptr) const {
    FileNode* n = root ? root : roots_;
    if (!n) return nullptr;
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      n = findNode(n->children, toUtf16(path.substr(start, end - start)).c_str());
      if (!n) return nullptr;
      start = end + 1;
    }
    return n;
  }
  uint32_t categories(const std::string& path) const {
    FileNode* n = node(path);
    EXPECT_NE(n, nullptr) << path;
    return n ? (n->flags & (kCategoryBits | Folder)) : 0;
  }
  SideCounts* totals(uint32_t flagsSrc = kDefaultFlagsSrc, uint32_t flagsTrg = kDefaultFlagsTrg) {
    top_ = FileNode{};
    top_.flags = Folder;
    top_.children = roots_;
    markTree(&top_, makeMarkMasks(flagsSrc, flagsTrg, kDefaultFlagsColorize), nullptr);
    return top_.counts;
  }

  TempDir src_, trg_;
  SideInput source_, target_;
  NodePool pool_;
  CancelFlag cancel_{0};
  Fs* fs_ = &systemFs();
  int scanThreads_ = 2;  // 1 for an Fs whose faults are counted in call order
  FileNode* roots_ = nullptr;
  FileNode top_{};
  uint32_t timeShiftHours_ = 0;
  std::vector<ListingFailure> listingFailures_;
};

}  // namespace fw

#endif  // FERRYWICK_CORE_COMPARE_FIXTURE_H
