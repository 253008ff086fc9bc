// The pool that every node and name of one comparison is carved from, in large blocks, and
// given back all at once. Not thread-safe: one thread carves while the window that could use the
// tree is disabled.
#ifndef FERRYWICK_CORE_NODE_POOL_H
#define FERRYWICK_CORE_NODE_POOL_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/result.h"

namespace fw {

struct FileNode;

inline constexpr uint32_t kDefaultBlockSize = 10 * 1024 * 1024;

class NodePool {
 public:
  explicit NodePool(uint32_t blockSize = kDefaultBlockSize) : blockSize_(blockSize) {}
  ~NodePool() { releaseAll(); }
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;

  // n bytes, not cleared, starting at a multiple of alignment within the block. BadRequest for
  // n == 0 or n > blockSize, OutOfMemory when no block can be had; *out is null then.
  // A request that would reach the end of the block (used + n >= blockSize) starts a new block.
  Rc allocate(size_t n, void** out, size_t alignment = 2);
  // Every block back to the heap; every node and name carved so far is invalid.
  void releaseAll();

  // A zeroed FileNode.
  Rc allocateNode(FileNode** out);
  // A copy of name (units long) with its terminator.
  Rc allocateName(const char16_t* name, size_t units, char16_t** out);

  uint32_t blockSize() const { return blockSize_; }
  // Takes over every block of other (which is left empty), so that what was carved from it
  // lives as long as this pool's own; carving goes on in this pool's current block. OutOfMemory
  // (and nothing moved) when the list of blocks cannot grow.
  Rc adopt(NodePool& other);
  // Changing the size releases everything first.
  void setBlockSize(uint32_t size);
  uint32_t used() const { return used_; }
  size_t blockCount() const { return blocks_.size(); }

 private:
  std::vector<char*> blocks_;
  uint32_t used_ = 0;
  uint32_t blockSize_;
};

}  // namespace fw

#endif  // FERRYWICK_CORE_NODE_POOL_H
