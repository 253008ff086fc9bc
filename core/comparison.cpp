#include "core/comparison.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <optional>

#include "core/entry_action.h"
#include "core/scanner.h"
#include "core/sibling_tree.h"
#include "platform/long_path.h"
#include "platform/text.h"

namespace fw {

const char16_t* sideKindLabel(SideKind kind) {
  switch (kind) {
    case SideKind::FileSystem: return u"File system";
    case SideKind::SavedState: return u"Saved state";
    case SideKind::SavedDifference: return u"Saved difference";
  }
  return u"";
}

MarkMasks makeMarkMasks(uint32_t flagsSrc, uint32_t flagsTrg, uint32_t flagsColorize) {
  return MarkMasks{flagsSrc | flagsTrg | HasAction, flagsSrc, flagsTrg, flagsColorize | HasColor};
}

void classifyEntry(FileNode* node, int k, const char16_t* name, uint64_t modified, uint64_t size,
                   uint8_t attrByte) {
  int o = 1 - k;
  SideInfo& mine = node->side[k];
  const SideInfo& other = node->side[o];
  mine.modified = modified;
  mine.size = size;
  mine.attributes = attrByte;
  constexpr uint64_t kTolerance = 20000000;  // 2 seconds, boundaries included
  uint32_t newer[2] = {NewerInSource, NewerInTarget};
  if (other.modified > mine.modified && other.modified - mine.modified > kTolerance)
    node->flags |= newer[o];
  else if (mine.modified > other.modified && mine.modified - other.modified > kTolerance)
    node->flags |= newer[k];
  if (mine.size != other.size) node->flags |= SizeDiffers;
  bool sameName = true;
  for (size_t i = 0;; ++i) {
    if (name[i] != node->name[i]) {
      sameName = false;
      break;
    }
    if (name[i] == 0) break;
  }
  if (!sameName || mine.attributes != other.attributes) node->flags |= CaseOrAttrDiffers;
}

Rc mergeEntry(NodePool& pool, FileNode** tree, FileNode* found, int side, const SideEntry& entry,
              MergedEntry* out) {
  FileNode** node = &out->node;
  Merged* merged = &out->how;
  *merged = Merged::Done;
  FileNode* n = found;
  if (!n) {
    Rc rc = pool.allocateNode(&n);
    if (rc != Rc::Ok) return rc;
    rc = pool.allocateName(entry.name, entry.units, &n->name);
    if (rc != Rc::Ok) return rc;
    n->flags = side == 1 ? OnlyInTarget : OnlyInSource;
    insertInto(tree, n);
    *node = n;
    n->side[side].attributes = entry.attributes;
    if (entry.kind == EntryKind::Special) {
      n->flags |= unlistedFlag(side);
    } else if (entry.kind == EntryKind::Folder) {
      n->flags |= Folder;
      *merged = Merged::Enter;
    } else {
      n->side[side].modified = entry.modified;
      n->side[side].size = entry.size;
      if (entry.link) n->flags |= linkFlag(side);
    }
    return Rc::Ok;
  }
  *node = n;
  n->flags &= kKeptOnMerge;
  if (entry.kind == EntryKind::Special) {
    n->flags |= unlistedFlag(side);
    n->side[side].attributes = entry.attributes;
    return Rc::Ok;
  }
  bool folder = entry.kind == EntryKind::Folder;
  if (folder != isFolder(n)) {
    // A file against a folder of the same name: neither is entered or acted on.
    n->flags |= Conflict;
    n->side[side] = SideInfo{entry.modified, entry.size, entry.attributes};
    if (folder) *merged = Merged::PassOver;
    return Rc::Ok;
  }
  if (folder) {
    n->side[side].attributes = entry.attributes;
    *merged = Merged::Enter;
    return Rc::Ok;
  }
  classifyEntry(n, side, entry.name, entry.modified, entry.size, entry.attributes);
  if (entry.link) n->flags |= linkFlag(side);
  return Rc::Ok;
}

namespace {
constexpr uint64_t kTimeTolerance = 20000000;  // 2 seconds, as in classifyEntry
constexpr uint64_t kHourTicks = 36000000000ull;
}  // namespace

bool withinTimeShift(uint64_t a, uint64_t b, uint32_t shiftHours) {
  if (shiftHours > kMaxTimeShiftHours) shiftHours = kMaxTimeShiftHours;
  const uint64_t apart = a > b ? a - b : b - a;
  for (uint32_t h = 1; h <= shiftHours; ++h) {
    const uint64_t shift = h * kHourTicks;
    const uint64_t off = apart > shift ? apart - shift : shift - apart;
    if (off <= kTimeTolerance) return true;
  }
  return false;
}

void forgiveTimeShifts(FileNode* tree, uint32_t shiftHours) {
  if (shiftHours == 0) return;
  // Only a file both sides have, as one pair, can be the same file with a shifted time.
  constexpr uint32_t kNotAPair =
      Folder | OnlyInSource | OnlyInTarget | Conflict | SourceUnlisted | TargetUnlisted;
  constexpr uint32_t kTimeBits = NewerInSource | NewerInTarget;
  forEachInOrder(tree, [&](FileNode* x) {
    if (x->children) forgiveTimeShifts(x->children, shiftHours);
    if ((x->flags & kNotAPair) || !(x->flags & kTimeBits)) return;
    if (x->side[0].size != x->side[1].size) return;
    if (withinTimeShift(x->side[0].modified, x->side[1].modified, shiftHours))
      x->flags &= ~kTimeBits;
  });
}

int syncDirection(uint32_t flags, uint32_t flagsSrc, uint32_t flagsTrg) {
  if (flags & flagsSrc & ~CategoryOtherDifference) return 1;
  if (flags & flagsTrg & ~CategoryOtherDifference) return 0;
  return (flags & flagsSrc) ? 1 : 0;
}

namespace {

void addCounts(SideCounts& into, const SideCounts& c) {
  into.filesExisting += c.filesExisting;
  into.filesAdd += c.filesAdd;
  into.filesModify += c.filesModify;
  into.filesDelete += c.filesDelete;
  into.bytesExisting += c.bytesExisting;
  into.bytesAdd += c.bytesAdd;
  into.bytesDelete += c.bytesDelete;
}

// A file or folder that meets the other kind on the other side under the same name: one node
// of the kind of the side that put it into the tree first, the source (compareSides reads the
// source's rows first), which holds the target's SideInfo too.
bool againstOtherKind(const FileNode* x) {
  return (x->flags & Conflict) && !(x->flags & (OnlyInSource | OnlyInTarget));
}

void markFile(FileNode* x, const MarkMasks& m) {
  x->counts[0].filesExisting = (x->flags & OnlyInTarget) ? 0 : 1;
  x->counts[1].filesExisting = (x->flags & OnlyInSource) ? 0 : 1;
  x->counts[0].bytesExisting = x->side[0].size;
  x->counts[1].bytesExisting = x->side[1].size;
  if (againstOtherKind(x)) x->counts[1] = SideCounts{};  // the target's is a folder
  EntryAction a = actionOf(x, m);
  if (a.changes < 0) return;
  int c = a.changes;
  int o = 1 - c;
  SideCounts& changed = x->counts[c];
  switch (a.what) {
    case EntryChange::Add:
      changed.filesAdd = 1;
      changed.bytesAdd = x->side[o].size;
      break;
    case EntryChange::Delete:
      changed.filesDelete = 1;
      changed.bytesDelete = x->side[c].size;
      break;
    case EntryChange::Replace:
      changed.filesModify = 1;
      changed.bytesDelete = x->side[c].size;
      changed.bytesAdd = x->side[o].size;
      break;
    default:  // Attributes
      changed.filesModify = 1;
      break;
  }
}

}  // namespace

uint32_t markTree(FileNode* tree, const MarkMasks& m, SideCounts* tallies) {
  uint32_t result = 0;
  forEachInOrder(tree, [&](FileNode* x) {
    x->counts[0] = SideCounts{};
    x->counts[1] = SideCounts{};
    if (isFolder(x)) {
      x->flags &= ~(HasAction | HasColor);
      if (x->children) x->flags |= markTree(x->children, m, x->counts);
      if (againstOtherKind(x)) {  // the target's is a file, left alone but there
        x->counts[1].filesExisting += 1;
        x->counts[1].bytesExisting += x->side[1].size;
      }
    } else {
      markFile(x, m);
    }
    if (x->flags & m.colorize) result |= HasColor;
    if (x->flags & m.action) result |= HasAction;
    if (tallies) {
      addCounts(tallies[0], x->counts[0]);
      addCounts(tallies[1], x->counts[1]);
    }
  });
  return result;
}

namespace {

void excludeAll(FileNode* tree) {
  forEachInOrder(tree, [](FileNode* x) {
    x->flags |= Excluded;
    if (x->children) excludeAll(x->children);
  });
}

void excludeUnlisted(FileNode* tree) {
  forEachInOrder(tree, [](FileNode* x) {
    if (x->flags & (SourceUnlisted | TargetUnlisted | Conflict)) {
      x->flags |= Excluded;
      excludeAll(x->children);
    } else if (x->children) {
      excludeUnlisted(x->children);
    }
  });
}

void markAll(FileNode* tree, uint32_t flag) {
  forEachInOrder(tree, [flag](FileNode* x) {
    x->flags |= flag;
    if (x->children) markAll(x->children, flag);
  });
}

// Calls visit(node, path) for every node whose flags hold one of mask, with its path below
// the root (names joined by '/', each in the spelling of side).
template <typename Visit>
void collectMarked(FileNode* tree, uint32_t mask, int side, std::u16string& path, Visit& visit) {
  forEachInOrder(tree, [&](FileNode* x) {
    size_t mark = path.size();
    if (!path.empty()) path += u'/';
    path += sideName(x, side);
    if (x->flags & mask) visit(x, path);
    if (x->children) collectMarked(x->children, mask, side, path, visit);
    path.resize(mark);
  });
}

// --- Pairs that differ only in letter case ------------------------------------------------

bool sameIgnoringCase(const FileNode* a, const FileNode* b) {
  return compareNames(a->name, b->name) == 0;
}

// Rebuilds a sibling tree from nodes in order, leaving out the removed ones.
FileNode* rebuildTree(const std::vector<FileNode*>& nodes, const std::vector<bool>& removed) {
  FileNode* tree = nullptr;
  for (size_t i = 0; i < nodes.size(); ++i)
    if (!removed[i]) insertInto(&tree, nodes[i]);
  return tree;
}

Rc mergeChildren(NodePool& pool, FileNode* a, FileNode* b);

// A target-only node as the entry mergeEntry takes: the one entry that is not a folder and yet
// unlisted is a special file.
SideEntry targetEntry(const FileNode* b) {
  EntryKind kind = isFolder(b)                  ? EntryKind::Folder
                   : (b->flags & TargetUnlisted) ? EntryKind::Special
                                                 : EntryKind::File;
  const SideInfo& info = b->side[1];
  return SideEntry{b->name,   length16(b->name), info.modified,
                   info.size, info.attributes,    kind,
                   (b->flags & TargetLink) != 0};
}

// Merges the target-only node b into a, a node of the source, as the scanner would have merged
// b's entry had a borne its spelling; a folder's entries follow. What reading b's side found
// below b (a folder it could not list) stays with it, unless a file meets a folder.
Rc mergeNode(NodePool& pool, FileNode* a, FileNode* b) {
  bool sameKind = isFolder(a) == isFolder(b);
  MergedEntry merged;
  Rc rc = mergeEntry(pool, nullptr, a, 1, targetEntry(b), &merged);
  if (rc != Rc::Ok) return rc;
  if (sameKind) a->flags |= b->flags & (TargetUnlisted | Conflict | KeptForMissingRoot);
  return merged.how == Merged::Enter ? mergeChildren(pool, a, b) : Rc::Ok;
}

// Moves the children of b (entries of the target only) into the folder a.
Rc mergeChildren(NodePool& pool, FileNode* a, FileNode* b) {
  std::vector<FileNode*> moved;
  forEachInOrder(b->children, [&](FileNode* c) { moved.push_back(c); });
  b->children = nullptr;
  for (FileNode* c : moved) {
    // The same spelling in both: one node, as the scanner makes it (a file against a folder
    // is a Conflict).
    FileNode* twin = findNode(a->children, c->name);
    if (twin) {
      Rc rc = mergeNode(pool, twin, c);
      if (rc != Rc::Ok) return rc;
      continue;
    }
    insertInto(&a->children, c);
  }
  return Rc::Ok;
}

// Makes the node a (only in the source) and b (only in the target, the same name without
// regard to case) one entry. A file against a folder stays two nodes, both marked Conflict
// (*merged false).
Rc absorb(NodePool& pool, FileNode* a, FileNode* b, bool* merged) {
  *merged = false;
  if (isFolder(a) != isFolder(b)) {
    a->flags |= Conflict;
    b->flags |= Conflict;
    return Rc::Ok;
  }
  const char16_t* targetName = b->name;
  bool spelledAlike = compareNodeNames(a->name, targetName) == 0;
  Rc rc = mergeNode(pool, a, b);
  if (rc != Rc::Ok) return rc;
  if (!spelledAlike) {
    std::u16string names = a->name;  // the source's, its terminator, the target's
    names += u'\0';
    names += targetName;
    char16_t* both;
    rc = pool.allocateName(names.data(), names.size(), &both);
    if (rc != Rc::Ok) return rc;
    a->name = both;
    a->flags |= OtherSpelling;
  }
  *merged = true;
  return Rc::Ok;
}

// Pairs, folder by folder, each source-only entry with the target-only entry that has the
// same name without regard to case, when each side has exactly one such entry left after the
// exact pairs; where one side has several, none of them can be paired safely and all are
// marked Conflict.
Rc pairCaseVariants(NodePool& pool, FileNode** tree) {
  bool twins = false;
  FileNode* previous = nullptr;
  forEachInOrder(*tree, [&](FileNode* x) {
    if (previous && sameIgnoringCase(previous, x)) twins = true;
    previous = x;
  });
  if (twins) {
    std::vector<FileNode*> nodes;
    forEachInOrder(*tree, [&](FileNode* x) { nodes.push_back(x); });
    std::vector<bool> removed(nodes.size(), false);
    bool anyRemoved = false;
    for (size_t i = 0; i < nodes.size();) {
      size_t j = i + 1;
      while (j < nodes.size() && sameIgnoringCase(nodes[i], nodes[j])) ++j;
      std::vector<size_t> only[2];
      for (size_t k = i; k < j; ++k) {
        if (nodes[k]->flags & OnlyInSource) only[0].push_back(k);
        if (nodes[k]->flags & OnlyInTarget) only[1].push_back(k);
      }
      if (only[0].size() == 1 && only[1].size() == 1) {
        bool merged = false;
        Rc rc = absorb(pool, nodes[only[0][0]], nodes[only[1][0]], &merged);
        if (rc != Rc::Ok) return rc;
        if (merged) removed[only[1][0]] = anyRemoved = true;
      } else if (!only[0].empty() && !only[1].empty()) {
        for (int s = 0; s < 2; ++s)
          for (size_t k : only[s]) nodes[k]->flags |= Conflict;
      }
      i = j;
    }
    if (anyRemoved) *tree = rebuildTree(nodes, removed);
  }
  return walkInOrder(*tree, [&](FileNode* x) {
    return x->children ? pairCaseVariants(pool, &x->children) : Rc::Ok;
  });
}

const std::u16string& rowOf(const SideInput* input, size_t i) {
  static const std::u16string empty;
  return (input && i < input->roots.size()) ? input->roots[i] : empty;
}

// The folder sides of a comparison: a row's roots on both sides are listed together
// (scanSides), from pattern buffers kept for every row.
class FolderSides final : public SideSource {
 public:
  explicit FolderSides(const CompareContext& ctx) : ctx_(ctx) {}

  Rc open(const SideInput* source, const SideInput* target) override {
    input_[0] = source;
    input_[1] = target;
    for (int s = 0; s < 2; ++s) {
      if (!input_[s]) continue;
      pattern_[s].reset(new (std::nothrow) char16_t[kPathBufferUnits]);
      if (!pattern_[s]) return Rc::OutOfMemory;
    }
    return Rc::Ok;
  }

  bool rootMissing(size_t row) override {
    bool missing = false;
    for (int s = 0; s < 2; ++s)
      if (input_[s] && isMissingRoot(*ctx_.fs, rowOf(input_[s], row))) missing = true;
    return missing;
  }

  Rc readRow(size_t row, FileNode* root) override {
    RowScan scan;
    for (int s = 0; s < 2; ++s) {
      const std::u16string& path = rowOf(input_[s], row);
      if (!path.empty() && !makePattern(scan, s, path))  // too long for the buffer
        root->flags |= unlistedFlag(s);
    }
    if (!scan.pattern[0] && !scan.pattern[1]) return Rc::Ok;
    ScanContext shared;
    shared.ignoreList = ctx_.ignoreList;
    shared.pool = ctx_.pool;
    shared.cancel = ctx_.cancel;
    shared.fs = ctx_.fs;
    shared.leftovers = ctx_.leftovers;
    shared.leftoverBefore = ctx_.leftoverBefore;
    shared.listingFailures = ctx_.listingFailures;
    shared.entriesRead = ctx_.entriesRead;
    Rc rc = scanSides(shared, scan, &root->children, ctx_.scanThreads);
    for (int s = 0; s < 2; ++s) {
      if (!scan.listFailed[s]) continue;
      root->flags |= unlistedFlag(s);
      shared.listFailure = scan.listFailure[s];
      noteListingFailure(shared, root, s);
    }
    return rc;
  }

  void close() override {}

 private:
  // Puts the pattern of one side's root into its buffer and scan; false when it does not fit.
  bool makePattern(RowScan& scan, int side, const std::u16string& root) {
    char16_t* b = pattern_[side].get();
    size_t n = toLongPath(b, kPathBufferUnits - 2, root.c_str());
    if (n == 0) return false;
    // A root given with a trailing separator ("C:\", "/") already has the separator.
    scan.rootLength[side] = n;
    if (b[n - 1] != kPathSeparator) b[n++] = kPathSeparator;
    b[n++] = u'*';
    b[n] = 0;
    scan.pattern[side] = b;
    scan.length[side] = n;
    return true;
  }

  const CompareContext& ctx_;
  const SideInput* input_[2] = {nullptr, nullptr};
  std::unique_ptr<char16_t[]> pattern_[2];
};

// Reads the rows of the sides into the chain of roots, each row's sources in order.
Rc compareRows(const SideInput* source, const SideInput* target, SideSource* const* sources,
               size_t count, FileNode** roots, CompareContext& ctx) {
  const SideInput* walked = target ? target : source;
  size_t rows = walked->roots.size();
  if (source && target && source->roots.size() > rows) rows = source->roots.size();
  FileNode* last = nullptr;
  for (size_t i = 0; i < rows; ++i) {
    if (isCancelled(ctx.cancel)) return Rc::Ok;
    FileNode* root;
    Rc rc = ctx.pool->allocateNode(&root);
    if (rc != Rc::Ok) return rc;
    if (last) last->link[1] = root;
    else *roots = root;
    last = root;
    const std::u16string& name = rowOf(target, i).empty() ? rowOf(source, i) : rowOf(target, i);
    rc = ctx.pool->allocateName(name.c_str(), name.size(), &root->name);
    if (rc != Rc::Ok) return rc;
    root->flags = Folder;
    bool missing = false;
    for (size_t k = 0; k < count; ++k)
      if (sources[k]->rootMissing(i)) missing = true;
    for (size_t k = 0; k < count; ++k) {
      rc = sources[k]->readRow(i, root);
      if (rc != Rc::Ok) return rc;
    }
    // What the other side has is not deleted because a root is not there (an unmounted drive,
    // a folder renamed meanwhile); it is still copied, which creates the root.
    if (missing) markAll(root->children, KeptForMissingRoot);
  }
  return Rc::Ok;
}

}  // namespace

bool isMissingRoot(Fs& fs, const std::u16string& root) {
  if (root.empty()) return false;
  std::unique_ptr<char16_t[]> path(new (std::nothrow) char16_t[kPathBufferUnits]);
  if (!path) return false;
  if (toLongPath(path.get(), kPathBufferUnits, root.c_str()) == 0) return false;
  uint32_t attributes = 0;
  return fs.getAttributes(path.get(), &attributes) == FsStatus::NotFound;
}

std::vector<MissingRoot> missingRoots(Fs& fs, const SideInput* source, const SideInput* target) {
  std::vector<MissingRoot> out;
  const SideInput* sides[2] = {source, target};
  for (int s = 0; s < 2; ++s) {
    if (!sides[s] || sides[s]->hasSavedFile()) continue;
    for (size_t i = 0; i < sides[s]->roots.size(); ++i)
      if (isMissingRoot(fs, sides[s]->roots[i])) out.push_back({i, s, sides[s]->roots[i]});
  }
  return out;
}

Rc compareSides(const SideInput* source, const SideInput* target, FileNode** roots,
                CompareContext& ctx) {
  ctx.pool->releaseAll();
  *roots = nullptr;
  if (ctx.listingFailures) ctx.listingFailures->clear();
  if (!source && !target) return Rc::BadRequest;
  // The folder sides' roots, for as long as they are read: no listing below one follows a
  // link put on the way (Fs::addRoot).
  std::optional<RunRoots> folderRoots;
  if (ctx.fs) folderRoots.emplace(*ctx.fs);
  for (const SideInput* side : {source, target}) {
    if (side && !side->hasSavedFile() && folderRoots &&
        folderRoots->add(side->roots) != FsStatus::Ok)
      return Rc::Failed;
  }
  // Each side goes to the source of its kind; one source that gets both sides reads them
  // together. The sources are asked in the order of their first side.
  const SideInput* inputs[2] = {source, target};
  FolderSides folders(ctx);
  SideSource* sources[2] = {nullptr, nullptr};
  const SideInput* given[2][2] = {{nullptr, nullptr}, {nullptr, nullptr}};
  size_t count = 0;
  for (int s = 0; s < 2; ++s) {
    if (!inputs[s]) continue;
    SideSource* kind = inputs[s]->hasSavedFile() ? ctx.saved[s] : &folders;
    if (count == 0 || sources[count - 1] != kind) sources[count++] = kind;
    given[count - 1][s] = inputs[s];
  }
  size_t opened = 0;
  Rc rc = Rc::Ok;
  for (; opened < count && rc == Rc::Ok; ++opened) {
    if (!sources[opened]) {
      rc = Rc::BadRequest;
      break;
    }
    rc = sources[opened]->open(given[opened][0], given[opened][1]);
  }
  if (rc == Rc::Ok) rc = compareRows(source, target, sources, count, roots, ctx);
  for (size_t k = 0; k < opened; ++k) sources[k]->close();
  if (rc == Rc::Ok && source && target && !isCancelled(ctx.cancel)) {
    try {
      rc = walkInOrder(*roots, [&](FileNode* root) {
        return root->children ? pairCaseVariants(*ctx.pool, &root->children) : Rc::Ok;
      });
    } catch (const std::bad_alloc&) {
      rc = Rc::OutOfMemory;
    }
  }
  if (rc != Rc::Ok || isCancelled(ctx.cancel)) {
    *roots = nullptr;
    ctx.pool->releaseAll();
    if (ctx.listingFailures) ctx.listingFailures->clear();
    return rc;
  }
  forgiveTimeShifts(*roots, ctx.timeShiftHours);
  excludeBelowUnlisted(*roots);
  return Rc::Ok;
}

void excludeBelowUnlisted(FileNode* roots) { excludeUnlisted(roots); }

std::vector<UnlistedFolder> unlistedFolders(FileNode* roots, const SideInput* source,
                                            const SideInput* target,
                                            const std::vector<ListingFailure>* listingFailures) {
  std::vector<UnlistedFolder> out;
  const SideInput* sides[2] = {source, target};
  // The causes by node and side, for lookup.
  std::vector<ListingFailure> causes;
  if (listingFailures) causes = *listingFailures;
  auto before = [](const ListingFailure& a, const ListingFailure& b) {
    return a.node != b.node ? std::less<const FileNode*>()(a.node, b.node) : a.side < b.side;
  };
  std::sort(causes.begin(), causes.end(), before);
  auto causeOf = [&](const FileNode* node, int side) {
    ListingFailure key{node, side, {}};
    auto it = std::lower_bound(causes.begin(), causes.end(), key, before);
    return it != causes.end() && it->node == node && it->side == side ? it->why : FsFailure{};
  };
  size_t row = 0;
  forEachInOrder(roots, [&](FileNode* root) {
    for (int side = 0; side < 2; ++side) {
      if (root->flags & unlistedFlag(side)) {
        const SideInput* in = sides[side];
        bool own = in && !in->hasSavedFile() && row < in->roots.size();
        out.push_back({own ? in->roots[row] : std::u16string(root->name), side,
                       causeOf(root, side)});
      }
      std::u16string path;
      auto visit = [&](FileNode* n, const std::u16string& p) {
        out.push_back({p, side, causeOf(n, side)});
      };
      if (root->children) collectMarked(root->children, unlistedFlag(side), side, path, visit);
    }
    ++row;
  });
  return out;
}

std::vector<std::u16string> conflictingEntries(FileNode* roots) {
  std::vector<std::u16string> out;
  forEachInOrder(roots, [&](FileNode* root) {
    std::u16string path;
    auto visit = [&](FileNode*, const std::u16string& p) { out.push_back(p); };
    if (root->children) collectMarked(root->children, Conflict, 0, path, visit);
  });
  return out;
}

}  // namespace fw
