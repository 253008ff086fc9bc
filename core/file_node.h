// The comparison tree: one FileNode per entry name, holding the source's and the target's data
// side by side. The entries of one folder form a sibling tree (sibling_tree.h); every node and
// name lives in one NodePool (node_pool.h).
#ifndef FERRYWICK_CORE_FILE_NODE_H
#define FERRYWICK_CORE_FILE_NODE_H

#include <cstddef>
#include <cstdint>

namespace fw {

// One side's data of an entry; all zero on a side where the entry does not exist.
struct SideInfo {
  uint64_t modified;   // last-write time, FILETIME ticks; 0 for a folder
  uint64_t size;       // bytes; 0 for a folder
  uint8_t attributes;  // AttrByte
};

// Tallies of a file, or of every file below a folder, for one side (see markTree).
struct SideCounts {
  uint32_t filesExisting;
  uint32_t filesAdd;
  uint32_t filesModify;
  uint32_t filesDelete;
  uint64_t bytesExisting;
  uint64_t bytesAdd;
  uint64_t bytesDelete;
};

enum NodeFlag : uint32_t {
  Red = 0x001,                // balancing colour of the sibling tree; never on a tree's root
  Folder = 0x002,
  OnlyInTarget = 0x004,
  OnlyInSource = 0x008,
  NewerInSource = 0x010,      // files on both sides: the source is later by more than 2 s
  NewerInTarget = 0x020,
  SizeDiffers = 0x040,
  CaseOrAttrDiffers = 0x080,  // name letter case or AttrByte differ
  HasAction = 0x100,          // folders: some entry below has an action (marking pass)
  HasColor = 0x200,           // folders: some entry below is in a colorized category
  Excluded = 0x400,           // unticked by the user: no action, not tallied as a change
  // An entry that exists on that side but could not be read as a whole: a folder that could
  // not be listed completely (access denied, a read error, a path too long, nested deeper
  // than kMaxFolderDepth), a link or junction to a folder (never entered: what it leads to
  // lies outside the tree), or a special file (a FIFO, a socket, a device, a dangling link).
  // The node and its entries on the other side are Excluded after the comparison, so that no
  // sync acts on them unasked, and no save stores them as if complete.
  SourceUnlisted = 0x800,
  TargetUnlisted = 0x1000,
  // The entry cannot be paired safely with the other side: a file on one side against a
  // folder on the other, or a name that several entries of one folder share without regard to
  // case with no exact spelling to tell them apart. Such nodes are Excluded, never acted on,
  // and reported; a sync counts them as failed and a save refuses them.
  Conflict = 0x2000,
  // The two sides spell the name in different letter case: name holds the source's spelling,
  // then its terminator, then the target's (see sideName).
  OtherSpelling = 0x4000,
  // The entry exists only on one side of a row whose other root does not exist (an unmounted
  // drive, a mistyped path): it is not deleted because of that (see compareSides).
  KeptForMissingRoot = 0x8000,
  // An entry of a saved difference's tree that this comparison's ignore list leaves out: kept
  // (and Excluded) so that the file data it carries are read past, not written, and reported.
  Ignored = 0x10000,
  // A file of that side was a link to a file when the comparison listed it, and so was read as
  // what it leads to; a sync reads a file only as what it was then: a link swapped in for a
  // file since is not followed.
  SourceLink = 0x20000,
  TargetLink = 0x40000,
};

// The bits a second side's scan or load keeps when it meets a node again; it clears the rest.
inline constexpr uint32_t kKeptOnMerge =
    Red | Folder | SourceUnlisted | TargetUnlisted | Conflict | OtherSpelling | KeptForMissingRoot |
    SourceLink | TargetLink;
inline constexpr uint32_t kCategoryBits = 0xFC;

struct FileNode {
  char16_t* name;      // the entry's own name as the first side wrote it; a root: its path
  SideInfo side[2];    // 0 source, 1 target
  uint32_t flags;      // NodeFlag bits
  SideCounts counts[2];
  FileNode* children;  // root of a folder's sibling tree
  FileNode* link[2];   // sibling-tree links; root nodes are chained through link[1]
};

inline bool isFolder(const FileNode* n) { return (n->flags & Folder) != 0; }
inline uint32_t unlistedFlag(int side) { return side == 0 ? SourceUnlisted : TargetUnlisted; }
inline uint32_t linkFlag(int side) { return side == 0 ? SourceLink : TargetLink; }

// How deep folders are entered below a root; deeper ones count as unlisted. The saved files
// nest no deeper either.
inline constexpr size_t kMaxFolderDepth = 512;

// The entry's name as side spells it (0 source, 1 target).
inline const char16_t* sideName(const FileNode* n, int side) {
  if (side == 0 || !(n->flags & OtherSpelling)) return n->name;
  const char16_t* p = n->name;
  while (*p) ++p;
  return p + 1;
}

// AttrByte: 0x01 archive, 0x02 hidden, 0x04 read-only, 0x08 system.
uint8_t toAttrByte(uint32_t fileAttributes);
// Back to file attributes; 0 gives FILE_ATTRIBUTE_NORMAL (0x80); bits above 0x08 are ignored.
uint32_t fromAttrByte(uint8_t attrByte);

}  // namespace fw

#endif  // FERRYWICK_CORE_FILE_NODE_H
