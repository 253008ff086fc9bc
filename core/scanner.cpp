#include "core/scanner.h"

#include <new>
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

// A link or junction to a folder: never entered, since what it leads to lies outside the tree
// and a sync must not write or delete through it.
bool isFolderLink(const FindEntry& entry) {
  constexpr uint32_t kBoth = attr::Directory | attr::ReparsePoint;
  return (entry.attributes & kBoth) == kBoth;
}

bool isSpecial(const FindEntry& entry) { return (entry.attributes & attr::Device) != 0; }

bool isFolderEntry(const FindEntry& entry) {
  return (entry.attributes & attr::Directory) && !isSpecial(entry);
}

// Scans the folder entry into node's children. A folder that cannot be entered (a link, its
// pattern would not fit, nested too deep) or cannot be listed is marked on the node.
Rc scanInto(ScanContext& ctx, size_t patternLength, FileNode* node, int side,
            const FindEntry& entry) {
  if (ctx.deferred) {
    if (isFolderLink(entry) || ctx.depth >= kMaxFolderDepth) {
      node->flags |= unlistedFlag(side);
      return Rc::Ok;
    }
    try {
      ctx.deferred->push_back(Descent{node, 1u << side});
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
    return Rc::Ok;
  }
  size_t length = 0;
  if (!isFolderLink(entry) && ctx.depth < kMaxFolderDepth)
    length = extendPattern(ctx.pathBuffer, kPathBufferUnits, patternLength, entry.name);
  if (length == 0) {
    node->flags |= unlistedFlag(side);
    return Rc::Ok;
  }
  ++ctx.depth;
  Rc rc = scanFolder(ctx, length, &node->children, side);
  --ctx.depth;
  if (ctx.listFailed) {
    node->flags |= unlistedFlag(side);
    ctx.listFailed = false;
    noteListingFailure(ctx, node, side);
  }
  return rc;
}

// The entry as mergeEntry takes it: a folder's time and size are 0 in the tree; a link to a
// folder is a folder (scanInto does not enter it).
SideEntry sideEntry(const FindEntry& entry) {
  EntryKind kind = isSpecial(entry)       ? EntryKind::Special
                   : isFolderEntry(entry) ? EntryKind::Folder
                                          : EntryKind::File;
  bool folder = kind == EntryKind::Folder;
  return SideEntry{entry.name,
                   length16(entry.name),
                   folder ? 0 : entry.modified,
                   folder ? 0 : entry.size,
                   toAttrByte(entry.attributes),
                   kind,
                   kind == EntryKind::File && (entry.attributes & attr::ReparsePoint)};
}

// Lists a leftover temporary file: the folder's path (the pattern without its "*") and name.
void noteLeftover(ScanContext& ctx, size_t patternLength, const char16_t* name) {
  try {
    std::u16string path(ctx.pathBuffer, patternLength - 1);
    path += name;
    ctx.leftovers->push_back(std::move(path));
  } catch (const std::bad_alloc&) {
    // Not listed: it stays, as before.
  }
}

// Puts a listed entry into the sibling tree at *tree (found: the node of the same exact name
// already there, or null) and, for a folder to be entered, scans into it.
Rc addEntry(ScanContext& ctx, size_t patternLength, FileNode** tree, FileNode* found, int side,
            const FindEntry& entry) {
  MergedEntry merged;
  if (ctx.entriesRead) ctx.entriesRead->fetch_add(1, std::memory_order_relaxed);
  Rc rc = mergeEntry(*ctx.pool, tree, found, side, sideEntry(entry), &merged);
  if (rc != Rc::Ok || merged.how != Merged::Enter) return rc;
  return scanInto(ctx, patternLength, merged.node, side, entry);
}

}  // namespace

Rc scanFolder(ScanContext& ctx, size_t patternLength, FileNode** tree, int side) {
  if (!ctx.pathBuffer) return Rc::Ok;
  bool fresh = *tree == nullptr;
  FindHandle handle;
  FindEntry entry;
  FsStatus status = ctx.fs->findFirst(ctx.pathBuffer, &handle, &entry);
  if (status != FsStatus::Ok) {
    // A folder that is not there has no entries; one that is there but cannot be listed must
    // not pass for an empty folder.
    if (status != FsStatus::NotFound) {
      ctx.listFailed = true;
      ctx.listFailure = FsFailure{status, ctx.fs->lastOsError()};
    }
    return Rc::Ok;
  }
  Rc rc = Rc::Ok;
  while (!isCancelled(ctx.cancel)) {
    if (ctx.leftovers && isTemporaryName(entry.name) && !(entry.attributes & attr::Directory) &&
        entry.modified < ctx.leftoverBefore)
      noteLeftover(ctx, patternLength, entry.name);
    if (!isDotName(entry.name) && !isTemporaryName(entry.name) &&
        !matchesIgnoreList(ctx.ignoreList, entry.name)) {
      FileNode* node = fresh ? nullptr : findNode(*tree, entry.name);
      rc = addEntry(ctx, patternLength, tree, node, side, entry);
      if (rc != Rc::Ok) break;
    }
    if (isCancelled(ctx.cancel)) break;
    status = ctx.fs->findNext(handle, &entry);
    if (status != FsStatus::Ok) {
      if (status != FsStatus::NoMoreFiles) {
        ctx.listFailed = true;
        ctx.listFailure = FsFailure{status, ctx.fs->lastOsError()};
      }
      break;
    }
  }
  ctx.fs->findClose(handle);
  return rc;
}

void noteListingFailure(ScanContext& ctx, const FileNode* node, int side) {
  if (!ctx.listingFailures) return;
  try {
    ctx.listingFailures->push_back({node, side, ctx.listFailure});
  } catch (const std::bad_alloc&) {
    // The folder stays unlisted; only the cause goes unnamed.
  }
}

}  // namespace fw
