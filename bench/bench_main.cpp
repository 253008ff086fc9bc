// fw-bench: timed runs of the engine for scripts/bench.sh.
//
//   fw-bench gen DIR FILES FOLDERS [MAXSIZE [COMPRESSIBLE%]]   make a tree
//   fw-bench change DIR FILES FOLDERS MAXSIZE PERCENT            change some of its files
//   fw-bench compare SRC TRG [THREADS [H]]                       one comparison; prints
//        "seconds=<s> entries=<n> peak_rss_kib=<k> pool_bytes=<b>" (THREADS: scanThreads,
//        default the program's; 1 lists one side after the other on one thread; H: the
//        time-shift allowance in hours, default 0)
//   fw-bench floor SRC TRG           the least a scan must do, on one thread: readdir and
//        fstatat of every entry of both trees, nothing kept; prints "seconds=<s> entries=<n>"
//   fw-bench save-state SRC FILE     scan SRC alone, then save its state; prints
//        "scan_seconds=<s> save_seconds=<s> entries=<n> bytes=<file size>"
//   fw-bench load-state FILE         the state as the source of a comparison; prints
//        "seconds=<s> entries=<n>"
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/tree_generator.h"
#include "core/comparison.h"
#include "core/ignore_list.h"
#include "core/sibling_tree.h"
#include "formats/state_file.h"
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

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One comparison of the given sides (either may be null) with the program's defaults, timed;
// shiftHours as --ignore-time-shift.
Rc timedCompare(const SideInput* source, const SideInput* target, NodePool& pool,
                FileNode** roots, double* seconds, int threads = 0, uint32_t shiftHours = 0) {
  CancelFlag cancel{0};
  CompareContext ctx;
  ctx.fs = &systemFs();
  ctx.pool = &pool;
  ctx.ignoreList = kDefaultIgnoreList;
  ctx.cancel = &cancel;
  if (threads > 0) ctx.scanThreads = threads;
  ctx.timeShiftHours = shiftHours;
  SavedSides saved(ctx);
  auto start = std::chrono::steady_clock::now();
  Rc rc = compareSides(source, target, roots, ctx);
  *seconds = since(start);
  if (rc != Rc::Ok) std::fprintf(stderr, "comparison failed: %s\n", rcName(rc));
  return rc;
}

int compareCommand(const char* src, const char* trg, int threads, uint32_t shiftHours) {
  SideInput source, target;
  source.roots = {toUtf16(src)};
  target.roots = {toUtf16(trg)};
  NodePool pool;
  FileNode* roots = nullptr;
  double seconds;
  if (timedCompare(&source, &target, pool, &roots, &seconds, threads, shiftHours) != Rc::Ok)
    return 2;
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds=%.4f entries=%llu peak_rss_kib=%ld pool_bytes=%llu\n", seconds,
              static_cast<unsigned long long>(countNodes(roots)), usage.ru_maxrss,
              static_cast<unsigned long long>(pool.blockCount()) * pool.blockSize());
  return 0;
}

int saveStateCommand(const char* src, const char* file) {
  SideInput source;
  source.roots = {toUtf16(src)};
  NodePool pool;
  FileNode* roots = nullptr;
  double scan;
  if (timedCompare(&source, nullptr, pool, &roots, &scan) != Rc::Ok) return 2;
  auto start = std::chrono::steady_clock::now();
  Rc rc = saveSideState(systemFs(), roots, 0, toUtf16(file).c_str());
  double save = since(start);
  if (rc != Rc::Ok) return std::fprintf(stderr, "save failed: %s\n", rcName(rc)), 2;
  FILE* f = std::fopen(file, "rb");
  long size = 0;
  if (f) {
    std::fseek(f, 0, SEEK_END);
    size = std::ftell(f);
    std::fclose(f);
  }
  std::printf("scan_seconds=%.4f save_seconds=%.4f entries=%llu bytes=%ld\n", scan, save,
              static_cast<unsigned long long>(countNodes(roots) - 1), size);
  return 0;
}

int loadStateCommand(const char* file) {
  SideInput source;
  source.savedFile = toUtf16(file);
  source.roots = {u"saved"};
  NodePool pool;
  FileNode* roots = nullptr;
  double seconds;
  if (timedCompare(&source, nullptr, pool, &roots, &seconds) != Rc::Ok) return 2;
  std::printf("seconds=%.4f entries=%llu\n", seconds,
              static_cast<unsigned long long>(countNodes(roots) - 1));
  return 0;
}

// Every entry below the folder open as dir: one fstatat each (not following links), folders
// entered by their entry's type. Returns the entries met, or -1 when a folder cannot be read.
long long floorWalk(int dir) {
  DIR* d = fdopendir(dir);
  if (!d) return close(dir), -1;
  long long n = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2])))
      continue;
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    ++n;
    if (S_ISDIR(st.st_mode)) {
      int sub = openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      long long below = sub < 0 ? -1 : floorWalk(sub);
      if (below < 0) return closedir(d), -1;
      n += below;
    }
  }
  closedir(d);
  return n;
}

int floorCommand(const char* src, const char* trg) {
  auto start = std::chrono::steady_clock::now();
  long long n = 0;
  for (const char* root : {src, trg}) {
    int dir = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    long long got = dir < 0 ? -1 : floorWalk(dir);
    if (got < 0) return std::fprintf(stderr, "cannot read %s\n", root), 2;
    n += got;
  }
  std::printf("seconds=%.4f entries=%lld\n", since(start), n);
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
  if (argc >= 4 && argc <= 6 && !std::strcmp(argv[1], "compare"))
    return compareCommand(argv[2], argv[3], argc >= 5 ? std::atoi(argv[4]) : 0,
                          argc == 6 ? static_cast<uint32_t>(std::atoi(argv[5])) : 0);
  if (argc == 4 && !std::strcmp(argv[1], "floor")) return floorCommand(argv[2], argv[3]);
  if (argc == 4 && !std::strcmp(argv[1], "save-state")) return saveStateCommand(argv[2], argv[3]);
  if (argc == 3 && !std::strcmp(argv[1], "load-state")) return loadStateCommand(argv[2]);
  std::fprintf(stderr, "usage: fw-bench gen|change|compare ...\n");
  return 64;
}
