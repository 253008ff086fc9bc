// The comparison of two sides: the driver that turns the rows of both sides into one tree, the
// classification of a file both sides have, the rule that decides which side an action changes,
// and the marking pass that tallies files and bytes per side.
#ifndef FERRYWICK_CORE_COMPARISON_H
#define FERRYWICK_CORE_COMPARISON_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/cancel_flag.h"
#include "core/file_node.h"
#include "core/node_pool.h"
#include "core/result.h"
#include "platform/fs.h"

namespace fw {

struct ListingFailure;  // scanner.h

enum class SideKind : int { FileSystem = 0, SavedState = 1, SavedDifference = 2 };

const char16_t* sideKindLabel(SideKind kind);  // "File system", "Saved state", "Saved difference"

// One side's input: a root folder per row ("" where the row has none) and, for the saved
// kinds, the state or difference file whose trees stand in for the folders.
struct SideInput {
  std::vector<std::u16string> roots;
  std::u16string savedFile;  // empty: none (FileSystem)
  bool hasSavedFile() const { return !savedFile.empty(); }
};

// Calls f(row, root) for each row with a folder on both sides, the rows a sync walks, root
// running along the pair roots from firstRoot (link[1]), one per row.
template <class Node, class F>
void forEachSyncedRow(Node* firstRoot, const SideInput& source, const SideInput& target, F f) {
  Node* root = firstRoot;
  for (size_t row = 0; row < source.roots.size() && root; ++row, root = root->link[1])
    if (!source.roots[row].empty() && row < target.roots.size() && !target.roots[row].empty())
      f(row, root);
}

enum DiffCategory : uint32_t {
  CategoryOnlyInSource = 0x08,
  CategoryOnlyInTarget = 0x04,
  CategoryNewerInSource = 0x10,
  CategoryNewerInTarget = 0x20,
  CategoryOtherDifference = 0xC0,
};

enum class SyncAction : int { SourceWins, TargetWins, NoChange };

// The default settings: which categories the source wins, which the target wins, which are
// shown in colour.
inline constexpr uint32_t kDefaultFlagsSrc = 0xD8;
inline constexpr uint32_t kDefaultFlagsTrg = 0x24;
inline constexpr uint32_t kDefaultFlagsColorize = 0xFC;

// The largest whole-hour shift a comparison forgives (CompareContext::timeShiftHours): a day.
inline constexpr uint32_t kMaxTimeShiftHours = 24;

struct MarkMasks {
  uint32_t action;      // flagsSrc | flagsTrg | HasAction
  uint32_t sourceWins;  // flagsSrc
  uint32_t targetWins;  // flagsTrg
  uint32_t colorize;    // flagsColorize | HasColor
};

MarkMasks makeMarkMasks(uint32_t flagsSrc, uint32_t flagsTrg, uint32_t flagsColorize);

// One kind of side of a comparison (folders on disk, a saved state or difference): reads the
// trees of the sides it is given, row by row, into the comparison tree. compareSides hands each
// side to the source of its kind (one source may get both) and asks the sources in the order
// of their first side, so that the source's entries go in before the target's; a source given
// both sides reads a row of both in one go (the folder sides are listed side by side). A new
// kind of side is one implementation of this.
class SideSource {
 public:
  virtual ~SideSource() = default;
  // Gets ready to read the sides given (null: a side that this source does not read; never
  // both), before the first row: a saved side opens its file.
  virtual Rc open(const SideInput* source, const SideInput* target) = 0;
  // Whether a root of row on one of its sides is named but does not exist; called for every
  // row before any source reads it. Never for a saved side.
  virtual bool rootMissing(size_t row) {
    (void)row;
    return false;
  }
  // Reads row's trees on its sides, the source's first, into root->children through
  // mergeEntry; a side whose row has no root adds nothing, and a root that exists but cannot
  // be read whole sets that side's unlisted bit on root.
  virtual Rc readRow(size_t row, FileNode* root) = 0;
  // After the last row, and after a failure; harmless when not open.
  virtual void close() = 0;
};

struct CompareContext {
  Fs* fs = nullptr;
  NodePool* pool = nullptr;
  const char16_t* ignoreList = nullptr;
  const CancelFlag* cancel = nullptr;
  // Readers for sides that have a saved file, index 0 source, 1 target (the formats layer's
  // SavedSides); none where the build cannot read saved sides (a side with a saved file then
  // gives BadRequest). The folder sides are read by the comparison itself.
  SideSource* saved[2] = {nullptr, nullptr};
  // Leftover temporary files of an interrupted run met in the folders, when given: those last
  // written before leftoverBefore (FILETIME ticks), so that a running sync's are not among them.
  std::vector<std::u16string>* leftovers = nullptr;
  uint64_t leftoverBefore = 0;
  // Files of equal size whose times lie a whole number of hours apart, from 1 to this many
  // (within the 2-second tolerance), count as equal in time: a FAT or exFAT drive, or a copy
  // made across a daylight-saving change. 0 (the default): no such allowance. At most
  // kMaxTimeShiftHours.
  uint32_t timeShiftHours = 0;
  // Threads that list a row's folders (scanSides): the two sides and different folders side
  // by side. 1: one side after the other on the calling thread (scanFolder). An fs that does
  // not allow concurrentUse (one that counts or orders its calls) is always used so.
  int scanThreads = 2;
  // Where the folders that exist but could not be listed are kept with why, when given
  // (cleared by compareSides); unlistedFolders reads it.
  std::vector<ListingFailure>* listingFailures = nullptr;
  // When given, grows by one for every entry listed in the folders (not in a saved file), for
  // a progress display to read while the comparison runs.
  std::atomic<uint64_t>* entriesRead = nullptr;
};

// Compares source against target row by row into the chain of root nodes at *roots (chained
// through link[1]). Either side may be null, not both (BadRequest). Whenever the result is not
// Ok, and whenever the run was cancelled, *roots is null and the pool released. Rows beyond the
// end of the shorter list count as empty. After both sides are read, entries that differ only
// in letter case are paired (or marked Conflict where that is ambiguous), every entry below a
// folder that one side could not list and below a Conflict is Excluded (see SourceUnlisted),
// and in a row whose root on one side does not exist every entry is KeptForMissingRoot.
Rc compareSides(const SideInput* source, const SideInput* target, FileNode** roots,
                CompareContext& ctx);

// Classifies a file that the other side already put into the tree, for side k: stores its
// SideInfo and sets the time, size and case-or-attribute bits. The caller has cleared the
// node's flags to kKeptOnMerge.
void classifyEntry(FileNode* node, int k, const char16_t* name, uint64_t modified, uint64_t size,
                   uint8_t attrByte);

// One side's entry of a folder, as a kind of side reads it: from a listing, a saved record, or
// a node of the other side's spelling that the case pairing moves over.
enum class EntryKind : uint8_t {
  File,
  Folder,
  Special,  // a FIFO, a socket, a device, a dangling link: kept, unlisted, never classified
};
struct SideEntry {
  const char16_t* name;  // terminated
  size_t units;          // of name, without the terminator
  uint64_t modified;     // a folder's are 0 (where a file meets it, they are stored as given)
  uint64_t size;
  uint8_t attributes;  // AttrByte
  EntryKind kind;
  bool link = false;  // a file: a link to one, listed as what it leads to
};

// What mergeEntry made of an entry, for the side's reader to go on with.
enum class Merged : uint8_t {
  Done,      // nothing below it to read
  Enter,     // a folder: its entries on this side go into (*node)->children
  PassOver,  // a folder against a file of the other side (Conflict): its entries are not read
};

// Puts one side's entry into the folder's sibling tree at *tree, the one way every kind of
// side does it. found is the node of exactly the same name that the other side put there
// (null: none, looked up by the caller). Without one, a node is created for this side alone
// (OnlyInSource or OnlyInTarget, Folder for a folder, unlisted for a special entry). With one,
// its flags are cleared to kKeptOnMerge and: a special entry marks it unlisted on this side;
// a file against a folder marks it Conflict and stores this side's SideInfo; a folder gets its
// attributes; a file is classified (classifyEntry). out receives the entry's node and what
// to do with its entries. Returns Ok, or the pool's failure.
struct MergedEntry {
  FileNode* node = nullptr;
  Merged how = Merged::Done;
};
Rc mergeEntry(NodePool& pool, FileNode** tree, FileNode* found, int side, const SideEntry& entry,
              MergedEntry* out);

// Whether two last-write times (FILETIME ticks) lie 1 to shiftHours whole hours apart, within
// the 2-second tolerance of the comparison, boundaries included. Never for shiftHours 0; a
// shiftHours above kMaxTimeShiftHours counts as that.
bool withinTimeShift(uint64_t a, uint64_t b, uint32_t shiftHours);

// Clears the time bits of every file present on both sides whose sizes are equal and whose
// times are withinTimeShift of each other (compareSides does this when timeShiftHours is set).
void forgiveTimeShifts(FileNode* tree, uint32_t shiftHours);

// The side a node's action changes: 1 target, 0 source.
int syncDirection(uint32_t flags, uint32_t flagsSrc, uint32_t flagsTrg);

// The marking pass over a sibling tree: recomputes every node's counts (each file's as actionOf
// in entry_action.h decides) and the folders' HasAction and HasColor; adds into tallies when
// given. A file against a folder of the same name (Conflict) counts as an existing file, with
// its bytes, on the file's side alone. Returns the joined HasAction/HasColor bits of the tree.
uint32_t markTree(FileNode* tree, const MarkMasks& masks, SideCounts* tallies);

// Sets Excluded on every folder marked SourceUnlisted or TargetUnlisted and on everything below
// it.
void excludeBelowUnlisted(FileNode* roots);

// The entries of a comparison that one side could not read (SourceUnlisted, TargetUnlisted),
// as paths below their root in that side's spelling (the root's own path for a root), with
// the side. Listed side by side: the source's first, then the target's, per root.
struct UnlistedFolder {
  std::u16string path;
  int side;
  // Why its listing failed, where listingFailures has it; status Ok for the other causes (a
  // link to a folder, a special file, a path too long or too deep, a saved side's mark).
  FsFailure why;
};
// With the sides given, an unlisted root is named by that side's own root path; with
// listingFailures (as CompareContext::listingFailures left it), each folder gets its cause.
std::vector<UnlistedFolder> unlistedFolders(
    FileNode* roots, const SideInput* source = nullptr, const SideInput* target = nullptr,
    const std::vector<ListingFailure>* listingFailures = nullptr);

// The entries marked Conflict, as paths below their root in the source's spelling.
std::vector<std::u16string> conflictingEntries(FileNode* roots);

// Whether a root that a user named does not exist as spelled (never for "").
bool isMissingRoot(Fs& fs, const std::u16string& root);

// The roots of the folder sides (not saved ones) that do not exist.
struct MissingRoot {
  size_t row;
  int side;
  std::u16string path;
};
std::vector<MissingRoot> missingRoots(Fs& fs, const SideInput* source, const SideInput* target);

}  // namespace fw

#endif  // FERRYWICK_CORE_COMPARISON_H
