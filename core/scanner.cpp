#include "core/scanner.h"

#include <string>

#include "core/comparison.h"
#include "core/ignore_list.h"
#include "core/sibling_tree.h"
#include "core/temporary_name.h"
#include "platform/long_path.h"
#include "platform/text.h"

namespace fw {
namespace {

bool isDotName(const char16_t* n) {
  return n[0] == u'.' && (n[1] == 0 || (n[1] == u'.' && n[2] == 0));
}

// True when the folder that pathBuffer's pattern (length units) lists is one of the folders on
// the path that leads to it: a link or junction back to an ancestor.
bool leadsToAncestor(ScanContext& ctx, size_t length) {
  const char16_t* b = ctx.pathBuffer;
  FileIdentity self;
  if (ctx.fs->identify(std::u16string(b, length - 2).c_str(), &self) != FsStatus::Ok)
    return true;  // a link that cannot be followed cannot be entered either
  for (size_t end = ctx.rootLength; end < length - 2; ++end) {
    if (end != ctx.rootLength && b[end] != kPathSeparator) continue;
    FileIdentity ancestor;
    if (ctx.fs->identify(std::u16string(b, end).c_str(), &ancestor) == FsStatus::Ok &&
        ancestor == self)
      return true;
  }
  return false;
}

// Scans the folder entry into node's children. A folder that cannot be entered (its pattern
// would not fit, a link back to an ancestor) or cannot be listed is marked on the node.
Rc scanInto(ScanContext& ctx, size_t patternLength, FileNode* node, int side,
            const FindEntry& entry) {
  size_t length = extendPattern(ctx.pathBuffer, kPathBufferUnits, patternLength, node->name);
  if (length == 0 || ((entry.attributes & attr::ReparsePoint) && leadsToAncestor(ctx, length))) {
    node->flags |= unlistedFlag(side);
    return Rc::Ok;
  }
  Rc rc = scanFolder(ctx, length, &node->children, side);
  if (ctx.listFailed) {
    node->flags |= unlistedFlag(side);
    ctx.listFailed = false;
  }
  return rc;
}

}  // namespace

Rc addNewEntry(ScanContext& ctx, size_t patternLength, FileNode** tree, int side,
               const FindEntry& entry) {
  FileNode* node;
  Rc rc = ctx.pool->allocateNode(&node);
  if (rc != Rc::Ok) return rc;
  rc = ctx.pool->allocateName(entry.name, length16(entry.name), &node->name);
  if (rc != Rc::Ok) return rc;
  node->flags = side == 1 ? OnlyInTarget : OnlyInSource;
  *tree = insertNode(*tree, node);
  (*tree)->flags &= ~Red;
  node->side[side].attributes = toAttrByte(entry.attributes);
  if (entry.attributes & attr::Directory) {
    node->flags |= Folder;
    return scanInto(ctx, patternLength, node, side, entry);
  }
  node->side[side].modified = entry.modified;
  node->side[side].size = entry.size;
  return Rc::Ok;
}

Rc scanFolder(ScanContext& ctx, size_t patternLength, FileNode** tree, int side) {
  if (!ctx.pathBuffer) return Rc::Ok;
  bool fresh = *tree == nullptr;
  FindHandle handle;
  FindEntry entry;
  FsStatus status = ctx.fs->findFirst(ctx.pathBuffer, &handle, &entry);
  if (status != FsStatus::Ok) {
    // A folder that is not there has no entries; one that is there but cannot be listed must
    // not pass for an empty folder.
    if (status != FsStatus::NotFound) ctx.listFailed = true;
    return Rc::Ok;
  }
  Rc rc = Rc::Ok;
  while (!isCancelled(ctx.cancel)) {
    if (!isDotName(entry.name) && !isTemporaryName(entry.name) &&
        !matchesIgnoreList(ctx.ignoreList, entry.name)) {
      FileNode* node = fresh ? nullptr : findNode(*tree, entry.name);
      if (!node) {
        rc = addNewEntry(ctx, patternLength, tree, side, entry);
      } else {
        node->flags &= kKeptOnMerge;
        if (entry.attributes & attr::Directory)
          rc = scanInto(ctx, patternLength, node, side, entry);
        else
          classifyEntry(node, side, entry.name, entry.modified, entry.size,
                        toAttrByte(entry.attributes));
      }
      if (rc != Rc::Ok) break;
    }
    if (isCancelled(ctx.cancel)) break;
    status = ctx.fs->findNext(handle, &entry);
    if (status != FsStatus::Ok) {
      if (status != FsStatus::NoMoreFiles) ctx.listFailed = true;
      break;
    }
  }
  ctx.fs->findClose(handle);
  return rc;
}

}  // namespace fw
