// The folder scanner: lists one side's folder on disk, recursively, and merges what it finds
// into the comparison tree. The first side to be scanned creates the nodes; the second looks
// every name up, adds what the first lacked and classifies files present on both.
#ifndef FERRYWICK_CORE_SCANNER_H
#define FERRYWICK_CORE_SCANNER_H

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

// A folder that exists but could not be listed (completely) on side, and why: the failure of
// its findFirst or findNext. Kept beside the tree, not in its nodes, which stay small: such
// folders are few.
struct ListingFailure {
  const FileNode* node;  // the folder's node; a row's root node for its root
  int side;
  FsFailure why;
};

// A folder whose entries are still to be listed, on the sides of the bits in sides.
struct Descent {
  FileNode* node;
  unsigned sides;
};

struct ScanContext {
  // The search pattern of the folder being listed: the root's long form, then a separator and
  // a name per level, then "*"; kPathBufferUnits units. None: the scanner does nothing.
  char16_t* pathBuffer = nullptr;
  const char16_t* ignoreList = nullptr;
  NodePool* pool = nullptr;
  const CancelFlag* cancel = nullptr;
  Fs* fs = nullptr;
  // Length of the root's long form in pathBuffer (without the separator and "*").
  size_t rootLength = 0;
  // Folder levels entered below the root so far.
  size_t depth = 0;
  // Where leftover temporary files of an interrupted run are listed (full paths), when given:
  // those last written before leftoverBefore (FILETIME ticks).
  std::vector<std::u16string>* leftovers = nullptr;
  uint64_t leftoverBefore = 0;
  // Set by scanFolder when the folder it was asked to list exists but could not be listed
  // completely, with why in listFailure; the caller records it on the folder's node (and in
  // listingFailures) and clears it.
  bool listFailed = false;
  FsFailure listFailure;
  // Where the folders below that could not be listed are recorded with why, when given.
  std::vector<ListingFailure>* listingFailures = nullptr;
  // When given, a folder that would be entered is recorded here instead (its node, and the
  // side as bit 1 << side), for the caller to enter later; links to folders and folders
  // nested too deep are still marked unlisted at once.
  std::vector<Descent>* deferred = nullptr;
  // When given, grows by one for every entry listed (for a progress display; relaxed).
  std::atomic<uint64_t>* entriesRead = nullptr;
};

// One row's roots for scanSides: the pattern buffer of each side to be listed (null for a
// side that is not), with its length and the length of the root's long form in it;
// listFailed is set for a root that exists but could not be listed completely, listFailure
// says why.
struct RowScan {
  char16_t* pattern[2] = {nullptr, nullptr};
  size_t length[2] = {0, 0};
  size_t rootLength[2] = {0, 0};
  bool listFailed[2] = {false, false};
  FsFailure listFailure[2];
};

// Lists the roots of row on its sides into *tree, with up to threads threads, and gives
// exactly the tree that scanFolder gives for the source's root and then the target's: per
// folder, both sides' entries go in in the same order (the source's listing, then the
// target's), and what one side's entry does to the node (merge, conflict, unlisted) does not
// depend on when the folders below it are listed. Folders are listed side by side, a folder's
// two sides by one thread, and different folders by different threads, each carving from a
// pool of its own that the context's pool takes over at the end. The fields pathBuffer,
// depth, listFailed, listFailure and deferred of shared are not used; the listing failures
// below the roots go to shared.listingFailures when given. Every Fs call may come from any of
// the threads. With one thread, or an fs that does not allow concurrentUse, the source's root
// and then the target's are listed by scanFolder on the calling thread, every Fs call in its
// order. Returns Ok or the first pool failure (OutOfMemory also when a thread or a buffer
// cannot be had).
Rc scanSides(const ScanContext& shared, RowScan& row, FileNode** tree, int threads);

// Lists the folder whose pattern (patternLength units, asterisk included) is in pathBuffer into
// the sibling tree at *tree as side 0 (source) or 1 (target). Returns Ok, or the first pool
// failure. A folder that does not exist contributes nothing; one that exists but cannot be
// listed contributes what was read before the failure and sets listFailed. Names are matched
// with the tree's exact spelling; pairs that differ only in letter case are made afterwards
// (pairCaseVariants). Special files and links to folders are kept as unlisted entries.
Rc scanFolder(ScanContext& ctx, size_t patternLength, FileNode** tree, int side);

// Adds node (a folder that could not be listed on side) with ctx.listFailure to
// ctx.listingFailures, when given.
void noteListingFailure(ScanContext& ctx, const FileNode* node, int side);

}  // namespace fw

#endif  // FERRYWICK_CORE_SCANNER_H
