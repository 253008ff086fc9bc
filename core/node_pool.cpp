#include "core/node_pool.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/file_node.h"

namespace fw {

Rc NodePool::allocate(size_t n, void** out, size_t alignment) {
  *out = nullptr;
  if (n == 0 || n > blockSize_) return Rc::BadRequest;
  size_t start = (used_ + alignment - 1) / alignment * alignment;
  if (blocks_.empty() || start + n >= blockSize_) {
    char* block = static_cast<char*>(std::malloc(blockSize_));
    if (!block) return Rc::OutOfMemory;
    try {
      blocks_.push_back(block);
    } catch (const std::bad_alloc&) {
      std::free(block);
      return Rc::OutOfMemory;
    }
    used_ = 0;
    start = 0;
  }
  *out = blocks_.back() + start;
  used_ = static_cast<uint32_t>(start + n);
  return Rc::Ok;
}

void NodePool::releaseAll() {
  for (char* b : blocks_) std::free(b);
  blocks_.clear();
  used_ = 0;
}

Rc NodePool::adopt(NodePool& other) {
  if (&other == this || other.blocks_.empty()) return Rc::Ok;
  try {
    blocks_.reserve(blocks_.size() + other.blocks_.size());
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  if (blocks_.empty()) {
    blocks_.swap(other.blocks_);
    used_ = other.used_;
  } else {
    // Ours stays the last block, the one carving continues in.
    blocks_.insert(blocks_.end() - 1, other.blocks_.begin(), other.blocks_.end());
    other.blocks_.clear();
  }
  other.used_ = 0;
  return Rc::Ok;
}

void NodePool::setBlockSize(uint32_t size) {
  releaseAll();
  blockSize_ = size;
}

Rc NodePool::allocateNode(FileNode** out) {
  void* p;
  Rc rc = allocate(sizeof(FileNode), &p, alignof(FileNode));
  *out = static_cast<FileNode*>(p);
  if (rc == Rc::Ok) std::memset(p, 0, sizeof(FileNode));
  return rc;
}

Rc NodePool::allocateName(const char16_t* name, size_t units, char16_t** out) {
  void* p;
  Rc rc = allocate((units + 1) * sizeof(char16_t), &p, alignof(char16_t));
  *out = static_cast<char16_t*>(p);
  if (rc != Rc::Ok) return rc;
  std::memcpy(p, name, units * sizeof(char16_t));
  (*out)[units] = 0;
  return Rc::Ok;
}

}  // namespace fw
