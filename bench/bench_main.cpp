// fw-bench: timed runs of the engine for scripts/bench.sh.
//
//   fw-bench gen DIR FILES FOLDERS [MAXSIZE [COMPRESSIBLE%]]   make a tree
//   fw-bench change DIR FILES FOLDERS MAXSIZE PERCENT            change some of its files
//   fw-bench compare SRC TRG                                    one comparison; prints
//        "seconds=<s> entries=<n> peak_rss_kib=<k> pool_bytes=<b>"
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/tree_generator.h"
#include "core/comparison.h"
#include "core/ignore_list.h"
#include "core/sibling_tree.h"
#include "platform/text.h"

namespace fw {
namespace {

uint64_t countNodes(FileNode* tree) {
  uint64_t n = 0;
  forEachInOrder(tree, [&](FileNode* x) {
    ++n;
    if (x->children) n += countNodes(x->children);
  });
  return n;
}

int compareCommand(const char* src, const char* trg) {
  SideInput source, target;
  source.roots = {toUtf16(src)};
  target.roots = {toUtf16(trg)};
  NodePool pool;
  CancelFlag cancel{0};
  CompareContext ctx;
  ctx.fs = &systemFs();
  ctx.pool = &pool;
  ctx.ignoreList = kDefaultIgnoreList;
  ctx.cancel = &cancel;
  FileNode* roots = nullptr;
  auto start = std::chrono::steady_clock::now();
  Rc rc = compareSides(&source, &target, &roots, ctx);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (rc != Rc::Ok) {
    std::fprintf(stderr, "compare failed: %s\n", rcName(rc));
    return 2;
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds=%.4f entries=%llu peak_rss_kib=%ld pool_bytes=%llu\n", seconds,
              static_cast<unsigned long long>(countNodes(roots)), usage.ru_maxrss,
              static_cast<unsigned long long>(pool.blockCount()) * pool.blockSize());
  return 0;
}

}  // namespace
}  // namespace fw

int main(int argc, char** argv) {
  using namespace fw;
  if (argc >= 5 && !std::strcmp(argv[1], "gen")) {
    TreeShape shape;
    shape.files = std::strtoull(argv[3], nullptr, 10);
    shape.folders = std::strtoull(argv[4], nullptr, 10);
    if (argc > 5) shape.maxSize = std::strtoull(argv[5], nullptr, 10);
    if (argc > 6) shape.compressiblePercent = std::atoi(argv[6]);
    return generateTree(argv[2], shape) ? 0 : 1;
  }
  if (argc >= 7 && !std::strcmp(argv[1], "change")) {
    TreeShape shape;
    shape.files = std::strtoull(argv[3], nullptr, 10);
    shape.folders = std::strtoull(argv[4], nullptr, 10);
    shape.maxSize = std::strtoull(argv[5], nullptr, 10);
    return changeTree(argv[2], shape, std::atoi(argv[6]), 99) ? 0 : 1;
  }
  if (argc == 4 && !std::strcmp(argv[1], "compare")) return compareCommand(argv[2], argv[3]);
  std::fprintf(stderr, "usage: fw-bench gen|change|compare ...\n");
  return 64;
}
