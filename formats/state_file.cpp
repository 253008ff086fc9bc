#include "formats/state_file.h"

#include <new>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/ignore_list.h"
#include "core/sibling_tree.h"
#include "formats/volume_set.h"
#include "platform/file_time.h"
#include "platform/text.h"

namespace fw {

bool isValidStoredName(const char16_t* name, size_t units) {
  if (units == 0) return false;
  if (name[0] == u'.' && (units == 1 || (units == 2 && name[1] == u'.'))) return false;
  for (size_t i = 0; i < units; ++i)
    if (name[i] == 0 || name[i] == u'/' || name[i] == u'\\') return false;
  return true;
}

// --- Writing -----------------------------------------------------------------------------

Rc saveSideState(Fs& fs, FileNode* roots, int side, const char16_t* path,
                 std::u16string* failedEntry) {
  if (failedEntry) failedEntry->clear();
  std::unique_ptr<CompressedWriter> writer;
  Rc rc = CompressedWriter::create(fs, FileKind::StateFile, path, side, kNoSplit, &writer);
  if (rc != Rc::Ok) return rc;
  rc = writeTreeSection(*writer, roots, failedEntry);
  if (rc == Rc::Ok) rc = writer->closeVolume(true);
  if (rc == Rc::Ok) rc = writer->commit();
  return rc;  // the destructor removes what a failure left
}

Rc rootNames(CompressedWriter& writer, FileNode* roots) {
  for (FileNode* root = roots; root; root = root->link[1]) {
    Rc rc = writer.writeName(root->name && root->name[0] ? root->name : u" ");
    if (rc != Rc::Ok) return rc;
  }
  return writer.writeName(u"");
}

namespace {

// A failure that the record of an entry caused rather than the output or memory.
bool causedByRecord(Rc rc) { return rc == Rc::BadRequest || rc == Rc::Failed; }

void noteFailedEntry(std::u16string* failedEntry, const char16_t* root, const std::u16string& below) {
  if (!failedEntry) return;
  try {
    *failedEntry = root ? root : u"";
    if (!below.empty()) {
      *failedEntry += kPathSeparator;
      *failedEntry += below;
    }
  } catch (const std::bad_alloc&) {
    failedEntry->clear();
  }
}

}  // namespace

Rc writeTreeSection(CompressedWriter& writer, FileNode* roots, std::u16string* failedEntry) {
  if (!roots || writer.path().empty()) return Rc::BadRequest;
  Rc rc = writer.openVolume();
  if (rc == Rc::Ok) rc = writer.beginStream();
  for (FileNode* root = roots; root && rc == Rc::Ok; root = root->link[1]) {
    rc = writer.writeName(root->name && root->name[0] ? root->name : u" ");
    if (causedByRecord(rc)) noteFailedEntry(failedEntry, root->name, {});
  }
  if (rc == Rc::Ok) rc = writer.writeName(u"");
  uint32_t absent = writer.side() == 0 ? OnlyInTarget : OnlyInSource;
  std::u16string below;
  for (FileNode* root = roots; root && rc == Rc::Ok; root = root->link[1]) {
    rc = writeTree(writer, root->children, absent, failedEntry ? &below : nullptr);
    if (causedByRecord(rc) && !below.empty()) noteFailedEntry(failedEntry, root->name, below);
    if (rc == Rc::Ok) rc = writer.writeU8(0);
  }
  if (rc == Rc::Ok) rc = writer.finishStream();
  if (rc == Rc::Ok) rc = writer.recordTreeEnd();
  return rc;
}

namespace {

// Whether the entry is a folder on the given side. Folder tells what the first side to reach
// the node found: always the source, or the target where the node is the target's alone. A
// second side that found a folder where the first had a file (or the other way round) left
// its own kind in its SideInfo only: a folder has time 0 there.
bool folderOn(const FileNode* n, int side) {
  if (side == 0 || (n->flags & OnlyInTarget)) return isFolder(n);
  return n->side[1].modified == 0;
}

Rc writeRecord(CompressedWriter& w, const FileNode* n, int side, bool folder) {
  Rc rc = w.writeName(sideName(n, side));
  if (rc != Rc::Ok) return rc;
  uint8_t fixed[kTreeRecordFixedSize] = {};
  if (!folder) {
    const SideInfo& s = n->side[side];
    putU32(fixed, static_cast<uint32_t>(s.modified));
    putU32(fixed + 4, static_cast<uint32_t>(s.modified >> 32));
    putU32(fixed + 8, static_cast<uint32_t>(s.size));
    putU32(fixed + 12, static_cast<uint32_t>(s.size >> 32));
  }
  fixed[16] = n->side[side].attributes;
  return w.writeBytes(fixed, sizeof fixed);
}

}  // namespace

Rc writeTree(CompressedWriter& writer, FileNode* tree, uint32_t absentFlag,
             std::u16string* failedEntry) {
  // An explicit stack instead of recursion: a subtree to walk in order, a node to write, or
  // the 0 byte that ends a folder. Pushed in reverse of the order they are done in.
  enum Step : uint8_t { Walk, Write, EndFolder };
  struct Item {
    FileNode* node;
    Step step;
  };
  std::vector<Item> stack;
  int side = writer.side();
  size_t depth = 1;  // the level being written
  // The path of n below the tree: the folders still open on the stack, then n.
  auto note = [&](Rc rc, const FileNode* n) {
    if (!failedEntry || !causedByRecord(rc)) return rc;
    failedEntry->clear();
    for (const Item& open : stack) {
      if (open.step != EndFolder) continue;
      *failedEntry += open.node->name;
      *failedEntry += kPathSeparator;
    }
    *failedEntry += n->name;
    return rc;
  };
  try {
    stack.reserve(256);
    if (tree) stack.push_back({tree, Walk});
    while (!stack.empty()) {
      Item item = stack.back();
      stack.pop_back();
      FileNode* n = item.node;
      if (item.step == EndFolder) {
        --depth;
        Rc rc = writer.writeU8(0);
        if (rc != Rc::Ok) return rc;
      } else if (item.step == Write) {
        bool folder = folderOn(n, side);
        Rc rc = writeRecord(writer, n, side, folder);
        if (rc != Rc::Ok) return note(rc, n);
        if (folder) {
          if (++depth > kMaxTreeDepth) return note(Rc::BadRequest, n);
          stack.push_back({n, EndFolder});
          if (n->children) stack.push_back({n->children, Walk});
        }
      } else {
        if (n->link[1]) stack.push_back({n->link[1], Walk});
        if (!(n->flags & absentFlag)) stack.push_back({n, Write});
        if (n->link[0]) stack.push_back({n->link[0], Walk});
      }
    }
  } catch (const std::bad_alloc&) {
    return Rc::OutOfMemory;
  }
  return Rc::Ok;
}

Rc writeDataEntry(CompressedWriter& writer, uint32_t rootIndex, const char16_t* relativePath,
                  size_t units) {
  Rc rc = writer.writeU32(rootIndex);
  if (rc != Rc::Ok) return rc;
  return writer.writeText(relativePath, units);
}

// --- Reading -----------------------------------------------------------------------------

namespace {

// The next byte of the data, refilling if none is left; Failed when the data end.
Rc peekByte(CompressedReader& r, uint8_t* b) {
  if (r.available == 0) {
    Rc rc = r.refill();
    if (rc != Rc::Ok) return rc;
    if (r.available == 0) return Rc::Failed;
  }
  *b = r.window[r.cursor];
  return Rc::Ok;
}

struct Level {
  FileNode** tree;  // null in skip mode
  bool hadEntries;
  bool skip;
  bool ignored = false;  // below an ignored folder that is kept (keepIgnored)
};

// The names this side's records gave one folder level so far, exactly as spelt (two names
// that differ only in letter case are both legal). The views point into the pool.
struct NameHash {
  size_t operator()(std::u16string_view name) const {
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a over the units
    for (char16_t c : name) h = (h ^ c) * 0x100000001b3ull;
    return static_cast<size_t>(h);
  }
};
using SeenNames = std::unordered_set<std::u16string_view, NameHash>;

// The record as mergeEntry takes it (units: its name's).
SideEntry sideEntry(const TreeRecord& rec, size_t units) {
  return SideEntry{rec.name,     units,          rec.modified, rec.size,
                   rec.attributes, rec.modified == 0 ? EntryKind::Folder : EntryKind::File};
}

}  // namespace

Rc readTree(TreeReadContext& ctx, FileNode** tree, int side, bool skip) {
  CompressedReader& r = *ctx.reader;
  if (!r.inflating() || (!skip && (!tree || !ctx.pool))) return Rc::BadRequest;
  // Both grow with the depth the tree reaches: a file of many roots, each a short tree, costs
  // no more per root than its records.
  std::vector<Level> levels;
  // seen[i]: the names of levels[i] (not kept in skip mode). A name that comes twice is
  // refused: no writer makes it, and every copy would cost a node.
  std::vector<SeenNames> seen;
  // Descends into a folder record's entries, one level down, as level says.
  auto enter = [&](const Level& level) {
    if (levels.size() >= kMaxTreeDepth) return Rc::Failed;
    try {
      levels.push_back(level);
      if (!level.skip) {
        if (seen.size() < levels.size()) seen.resize(levels.size());
        seen[levels.size() - 1].clear();
      }
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
    return Rc::Ok;
  };
  if (Rc rc = enter({skip ? nullptr : tree, !skip && *tree != nullptr, skip}); rc != Rc::Ok)
    return rc;
  // Records name for the current level; Failed when it is there already.
  auto firstTime = [&](const char16_t* name, size_t units) {
    try {
      return seen[levels.size() - 1].emplace(name, units).second ? Rc::Ok : Rc::Failed;
    } catch (const std::bad_alloc&) {
      return Rc::OutOfMemory;
    }
  };
  // A copy of this record's name in the pool, where no node of this side keeps its spelling.
  auto keepName = [&](const TreeRecord& rec, size_t units, const char16_t** kept) {
    char16_t* copy;
    Rc rc = ctx.pool->allocateName(rec.name, units, &copy);
    *kept = copy;
    return rc;
  };
  while (!levels.empty()) {
    if (isCancelled(ctx.cancel)) return Rc::Ok;
    Level level = levels.back();
    uint8_t first;
    Rc rc = peekByte(r, &first);
    if (rc != Rc::Ok) return rc;
    if (first == 0) {  // the end of this level
      ++r.cursor;
      --r.available;
      r.consume();
      levels.pop_back();
      continue;
    }
    size_t nameBytes;
    rc = r.scanString(&nameBytes);
    if (rc == Rc::Ok) rc = r.scanBytes(kTreeRecordFixedSize);
    if (rc != Rc::Ok) return rc;
    const uint8_t* item = r.itemStart();
    const uint8_t* fixed = item + nameBytes + 1;
    // A time no file here can keep is taken as the nearest one that it can: so it is compared
    // and applied (keptFileTime), and what a sync sets from it compares equal to it afterwards.
    TreeRecord rec{r.work, keptFileTime(getU64(fixed)), getU64(fixed + 8), fixed[16]};
    bool folder = rec.modified == 0;
    // Also where the record is read past: a file with a name or attributes that no writer
    // stores is damaged, whatever part of it is used.
    size_t units = utf8ToUtf16(reinterpret_cast<const char*>(item), nameBytes, r.work,
                               kMaxStoredName);
    if (units == kConversionFailed || !isValidStoredName(r.work, units)) return Rc::Failed;
    if (rec.attributes & ~kAttrByteBits) return Rc::Failed;
    r.work[units] = 0;
    r.consume();
    if (level.skip) {
      if (folder && (rc = enter({nullptr, false, true})) != Rc::Ok) return rc;
      continue;
    }
    MergedEntry merged;
    FileNode*& node = merged.node;
    if (level.ignored || matchesIgnoreList(ctx.ignoreList, rec.name)) {
      if (ctx.keepIgnored && side == 0) {
        rc = mergeEntry(*ctx.pool, level.tree, nullptr, side, sideEntry(rec, units), &merged);
        if (rc == Rc::Ok) rc = firstTime(node->name, units);
        if (rc != Rc::Ok) return rc;
        node->flags |= Ignored | Excluded;
        if (folder && (rc = enter({&node->children, false, false, true})) != Rc::Ok) return rc;
        continue;
      }
      const char16_t* kept;
      if ((rc = keepName(rec, units, &kept)) != Rc::Ok || (rc = firstTime(kept, units)) != Rc::Ok)
        return rc;
      if (folder && (rc = enter({nullptr, false, true})) != Rc::Ok) return rc;
      continue;
    }
    // Looked up exactly as spelt, as the scanner does: names that differ only in letter case
    // are paired after both sides are read.
    FileNode* found = level.hadEntries ? findNode(*level.tree, rec.name) : nullptr;
    rc = mergeEntry(*ctx.pool, level.tree, found, side, sideEntry(rec, units), &merged);
    if (rc == Rc::Ok) rc = firstTime(node->name, units);
    if (rc != Rc::Ok) return rc;
    if (ctx.entriesRead) ctx.entriesRead->fetch_add(1, std::memory_order_relaxed);
    if (merged.how == Merged::Enter) {
      rc = enter({&node->children, node->children != nullptr, false});
    } else if (merged.how == Merged::PassOver) {
      // A folder against a file of the same name: its entries on this side are read past.
      rc = enter({nullptr, false, true});
    }
    if (rc != Rc::Ok) return rc;
  }
  return Rc::Ok;
}

Rc openSavedTrees(CompressedReader& reader, const char16_t* path, size_t* roots) {
  Rc rc = reader.openReader(FileKind::StateFile, path);
  if (rc == Rc::Ok) rc = reader.startInflate(0);
  if (rc != Rc::Ok) {
    reader.endInflate();
    rc = reader.openReader(FileKind::DifferenceFile, path);
    if (rc == Rc::Ok) rc = reader.startInflate(0);
  }
  if (rc == Rc::Ok) rc = reader.skipStringList(roots);
  if (rc != Rc::Ok) reader.endInflate();
  return rc;
}

Rc readDataEntry(CompressedReader& r, uint32_t* rootIndex, char16_t* path, size_t capacity,
                 size_t* units, bool* end) {
  *units = 0;
  *rootIndex = 0;
  if (capacity > 0) path[0] = 0;
  Rc rc = r.atEnd(end);
  if (rc != Rc::Ok || *end) return rc;
  rc = r.scanBytes(4);
  if (rc != Rc::Ok) return rc;
  *rootIndex = getU32(r.itemStart());
  r.consume();
  size_t bytes;
  rc = r.scanString(&bytes);
  if (rc != Rc::Ok) return rc;
  if (capacity == 0) return Rc::Failed;
  size_t n = utf8ToUtf16(reinterpret_cast<const char*>(r.itemStart()), bytes, path,
                         capacity - 1);
  r.consume();
  if (n == kConversionFailed) return Rc::Failed;
  path[n] = 0;
  // Every name on the path must be one a tree could hold: no way out of the root folder.
  size_t start = 0;
  for (size_t i = 0; i <= n; ++i) {
    if (i < n && path[i] != u'\\') continue;
    if (!isValidStoredName(path + start, i - start)) return Rc::Failed;
    start = i + 1;
  }
  *units = n;
  return Rc::Ok;
}

// --- The saved side of a comparison ------------------------------------------------------

void SavedSideReader::setup(Fs* fs, NodePool* pool, const char16_t* ignoreList,
                            const CancelFlag* cancel) {
  fs_ = fs;
  read_.pool = pool;
  read_.ignoreList = ignoreList;
  read_.cancel = cancel;
}

Rc SavedSideReader::open(const SideInput* source, const SideInput* target) {
  if (!fs_ || (source != nullptr) == (target != nullptr)) return Rc::BadRequest;
  input_ = source ? source : target;
  side_ = source ? 0 : 1;
  if (!reader_) {
    Rc rc = CompressedReader::create(*fs_, &reader_);
    if (rc != Rc::Ok) return rc;
  }
  read_.reader = reader_.get();
  treesLeft_ = 0;
  fault_ = Rc::Ok;
  faultVolume_.clear();
  Rc rc = openSavedTrees(*reader_, input_->savedFile.c_str(), &treesLeft_);
  read_.keepIgnored = rc == Rc::Ok && reader_->kind() == FileKind::DifferenceFile;
  return noteFault(rc);
}

Rc SavedSideReader::noteFault(Rc rc) {
  if ((rc == Rc::Failed || rc == Rc::CannotOpen) && fault_ == Rc::Ok) {
    fault_ = rc;
    try {
      faultVolume_ = reader_->path().empty() ? input_->savedFile : reader_->path();
    } catch (const std::bad_alloc&) {
      faultVolume_.clear();
    }
  }
  return rc;
}

std::string SavedSideReader::faultText() {
  if (fault_ == Rc::Ok || !fs_ || !input_) return {};
  // The file given, unless the fault showed in another volume of its set.
  return refusedFileText(*fs_, faultVolume_.empty() ? input_->savedFile : faultVolume_);
}

Rc SavedSideReader::readRow(size_t row, FileNode* root) {
  if (!input_ || row >= input_->roots.size()) return Rc::Ok;
  return readNextTree(&root->children, input_->roots[row].empty());
}

Rc SavedSideReader::readNextTree(FileNode** tree, bool skip) {
  if (!reader_) return Rc::BadRequest;
  if (treesLeft_ == 0) return Rc::Ok;  // a row past the saved roots: nothing on this side
  Rc rc = readTree(read_, tree, side_, skip);
  if (rc != Rc::Ok || isCancelled(read_.cancel)) return noteFault(rc);
  // Nothing read from the file counts before its stream proved whole.
  if (--treesLeft_ == 0) rc = reader_->requireStreamEnd(true);
  return noteFault(rc);
}

void SavedSideReader::close() {
  if (reader_) reader_->endInflate();
}

SavedSides::SavedSides(CompareContext& c) : ctx(c) {
  for (int s = 0; s < 2; ++s) {
    side[s].setup(ctx.fs, ctx.pool, ctx.ignoreList, ctx.cancel);
    side[s].countEntriesIn(ctx.entriesRead);
    ctx.saved[s] = &side[s];
  }
}

SavedSides::~SavedSides() {
  for (int s = 0; s < 2; ++s)
    if (ctx.saved[s] == &side[s]) ctx.saved[s] = nullptr;
}

}  // namespace fw
