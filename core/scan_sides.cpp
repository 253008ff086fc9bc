// Both sides of a row listed folder by folder, by several threads.
//
// scanFolder lists one side's whole tree, entering each folder as it meets it; the target's
// pass then merges into what the source's left. Nothing a side does in one folder depends on
// anything below that folder, only on what the other side put into that same folder before:
// the first side creates the nodes in its listing order, the second looks each name up among
// them. So the same tree comes out when each folder is listed on the source and then on the
// target before any folder below it, and folders that are not above one another can be listed
// in any order, by any thread: each thread inserts only into the folders it owns.
//
// The row's first levels are listed on the calling thread until there are enough folders to
// share out (kTasksPerThread per thread); the threads then take them one at a time, each
// listing its folder's whole subtree depth first, with pattern buffers and a node pool of its
// own.
#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/scanner.h"
#include "platform/long_path.h"

namespace fw {
namespace {

constexpr size_t kTasksPerThread = 8;

// A folder to list on its sides, with its patterns.
struct Task {
  FileNode* node;   // null for the row's root
  FileNode** tree;  // where its entries go
  unsigned sides;
  size_t depth;
  std::u16string pattern[2];
};

struct Worker {
  ScanContext ctx;
  std::unique_ptr<char16_t[]> buffer[2];
  std::vector<std::u16string> leftovers;
  std::vector<ListingFailure> listingFailures;

  bool init(const ScanContext& shared, NodePool* pool) {
    ctx = shared;
    ctx.pool = pool;
    ctx.leftovers = shared.leftovers ? &leftovers : nullptr;
    ctx.listingFailures = shared.listingFailures ? &listingFailures : nullptr;
    for (auto& b : buffer) {
      b.reset(new (std::nothrow) char16_t[kPathBufferUnits]);
      if (!b) return false;
    }
    return true;
  }

  // Puts a task's patterns into the buffers; returns their lengths through length.
  void load(const Task& t, size_t length[2]) {
    for (int s = 0; s < 2; ++s) {
      length[s] = 0;
      if (!(t.sides & (1u << s))) continue;
      std::copy(t.pattern[s].begin(), t.pattern[s].end(), buffer[s].get());
      buffer[s][t.pattern[s].size()] = 0;
      length[s] = t.pattern[s].size();
    }
  }
};

// Joins the records of one node (one per side) into one descent with both bits.
void joinSides(std::vector<Descent>& d) {
  std::sort(d.begin(), d.end(), [](const Descent& a, const Descent& b) {
    return a.node != b.node ? std::less<FileNode*>()(a.node, b.node) : a.sides < b.sides;
  });
  size_t out = 0;
  for (size_t i = 0; i < d.size(); ++i) {
    if (out > 0 && d[out - 1].node == d[i].node) d[out - 1].sides |= d[i].sides;
    else d[out++] = d[i];
  }
  d.resize(out);
}

// Lists one folder on its sides, the source first, into *tree; marks a side whose listing
// failed on node (on row for the root) and returns the folders below to enter in below.
Rc listLevel(Worker& w, FileNode* node, FileNode** tree, unsigned sides, const size_t length[2],
             size_t depth, RowScan* row, std::vector<Descent>* below) {
  below->clear();
  w.ctx.deferred = below;
  w.ctx.depth = depth;
  for (int s = 0; s < 2; ++s) {
    if (!(sides & (1u << s))) continue;
    w.ctx.pathBuffer = w.buffer[s].get();
    w.ctx.listFailed = false;
    Rc rc = scanFolder(w.ctx, length[s], tree, s);
    if (w.ctx.listFailed) {
      if (node) {
        node->flags |= unlistedFlag(s);
        noteListingFailure(w.ctx, node, s);
      } else {
        row->listFailed[s] = true;
        row->listFailure[s] = w.ctx.listFailure;
      }
    }
    if (rc != Rc::Ok) return rc;
  }
  joinSides(*below);
  return Rc::Ok;
}

// The patterns of a folder below the one in the buffers (lengths given): *enter gets the sides
// whose pattern fits; one that does not is marked unlisted, as scanFolder does.
void extendBoth(Worker& w, const Descent& d, const size_t length[2], size_t next[2],
                unsigned* enter) {
  *enter = 0;
  for (int s = 0; s < 2; ++s) {
    next[s] = 0;
    if (!(d.sides & (1u << s))) continue;
    next[s] = extendPattern(w.buffer[s].get(), kPathBufferUnits, length[s], d.node->name);
    if (next[s] == 0) d.node->flags |= unlistedFlag(s);
    else *enter |= 1u << s;
  }
}

// Lists a folder and everything below it, depth first, on this thread.
Rc scanBelow(Worker& w, FileNode* node, FileNode** tree, unsigned sides, const size_t length[2],
             size_t depth, RowScan* row) {
  std::vector<Descent> below;
  Rc rc = listLevel(w, node, tree, sides, length, depth, row, &below);
  if (rc != Rc::Ok) return rc;
  for (const Descent& d : below) {
    if (isCancelled(w.ctx.cancel)) return Rc::Ok;
    size_t next[2];
    unsigned enter;
    extendBoth(w, d, length, next, &enter);
    if (!enter) continue;
    rc = scanBelow(w, d.node, &d.node->children, enter, next, depth + 1, row);
    if (rc != Rc::Ok) return rc;
  }
  return Rc::Ok;
}

Rc runTask(Worker& w, const Task& t, RowScan* row) {
  size_t length[2];
  w.load(t, length);
  return scanBelow(w, t.node, t.tree, t.sides, length, t.depth, row);
}

// Lists the first levels on the calling thread until there are enough folders to share out;
// leaves them in tasks.
Rc expand(Worker& w, RowScan& row, FileNode** tree, size_t wanted, std::deque<Task>* tasks) {
  Task root{nullptr, tree, 0, 0, {}};
  for (int s = 0; s < 2; ++s) {
    if (!row.pattern[s]) continue;
    root.sides |= 1u << s;
    root.pattern[s].assign(row.pattern[s], row.length[s]);
  }
  tasks->push_back(std::move(root));
  std::vector<Descent> below;
  while (!tasks->empty() && tasks->size() < wanted && !isCancelled(w.ctx.cancel)) {
    Task t = std::move(tasks->front());
    tasks->pop_front();
    size_t length[2];
    w.load(t, length);
    Rc rc = listLevel(w, t.node, t.tree, t.sides, length, t.depth, &row, &below);
    if (rc != Rc::Ok) return rc;
    for (const Descent& d : below) {
      size_t next[2];
      unsigned enter;
      extendBoth(w, d, length, next, &enter);
      if (!enter) continue;
      Task child{d.node, &d.node->children, enter, t.depth + 1, {}};
      for (int s = 0; s < 2; ++s)
        if (enter & (1u << s)) child.pattern[s].assign(w.buffer[s].get(), next[s]);
      tasks->push_back(std::move(child));
    }
  }
  return Rc::Ok;
}

// One side after the other, each side's whole tree depth first, on the calling thread.
Rc scanInTurn(const ScanContext& shared, RowScan& row, FileNode** tree) {
  for (int s = 0; s < 2; ++s) {
    if (!row.pattern[s]) continue;
    ScanContext ctx = shared;
    ctx.pathBuffer = row.pattern[s];
    ctx.rootLength = row.rootLength[s];
    ctx.depth = 0;
    ctx.listFailed = false;
    ctx.deferred = nullptr;
    Rc rc = scanFolder(ctx, row.length[s], tree, s);
    if (ctx.listFailed) {
      row.listFailed[s] = true;
      row.listFailure[s] = ctx.listFailure;
    }
    if (rc != Rc::Ok) return rc;
  }
  return Rc::Ok;
}

}  // namespace

Rc scanSides(const ScanContext& shared, RowScan& row, FileNode** tree, int threads) {
  if (threads <= 1 || !shared.fs->concurrentUse()) return scanInTurn(shared, row, tree);
  try {
    std::vector<Worker> workers(static_cast<size_t>(threads));
    std::vector<std::unique_ptr<NodePool>> pools;
    // The folders each worker could not list, into the shared list (the order is of no
    // matter: the list is looked up by node).
    auto gatherFailures = [&] {
      if (!shared.listingFailures) return;
      for (Worker& w : workers) {
        shared.listingFailures->insert(shared.listingFailures->end(), w.listingFailures.begin(),
                                       w.listingFailures.end());
        w.listingFailures.clear();
      }
    };
    if (!workers[0].init(shared, shared.pool)) return Rc::OutOfMemory;
    std::deque<Task> tasks;
    Rc rc = expand(workers[0], row, tree, threads > 1 ? kTasksPerThread * threads : 1, &tasks);
    if (shared.leftovers)
      shared.leftovers->insert(shared.leftovers->end(), workers[0].leftovers.begin(),
                               workers[0].leftovers.end());
    workers[0].leftovers.clear();
    if (rc != Rc::Ok || tasks.empty() || isCancelled(shared.cancel)) {
      gatherFailures();
      return rc;
    }

    std::vector<Rc> results(tasks.size(), Rc::Ok);
    std::vector<std::vector<std::u16string>> found(tasks.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    auto work = [&](Worker& w) {
      for (;;) {
        size_t i = next.fetch_add(1);
        if (i >= tasks.size() || stop.load() || isCancelled(shared.cancel)) return;
        try {
          results[i] = runTask(w, tasks[i], &row);
        } catch (const std::bad_alloc&) {
          results[i] = Rc::OutOfMemory;
        }
        found[i].swap(w.leftovers);
        w.leftovers.clear();
        if (results[i] != Rc::Ok) stop.store(true);
      }
    };
    std::vector<std::thread> running;
    for (size_t k = 1; k < workers.size() && k < tasks.size(); ++k) {
      pools.push_back(std::make_unique<NodePool>(shared.pool->blockSize()));
      if (!workers[k].init(shared, pools.back().get())) break;
      try {
        running.emplace_back(work, std::ref(workers[k]));
      } catch (const std::system_error&) {
        break;  // fewer threads: the ones running take the rest
      }
    }
    work(workers[0]);
    for (std::thread& t : running) t.join();

    for (auto& p : pools)
      if (shared.pool->adopt(*p) != Rc::Ok) rc = Rc::OutOfMemory;
    for (Rc r : results)
      if (rc == Rc::Ok && r != Rc::Ok) rc = r;
    if (shared.leftovers)
      for (auto& f : found) shared.leftovers->insert(shared.leftovers->end(), f.begin(), f.end());
    gatherFailures();
    return rc;
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
}

}  // namespace fw
