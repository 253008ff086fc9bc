// The folder scanner: lists one side's folder on disk, recursively, and merges what it finds
// into the comparison tree. The first side to be scanned creates the nodes; the second looks
// every name up, adds what the first lacked and classifies files present on both.
#ifndef FERRYWICK_CORE_SCANNER_H
#define FERRYWICK_CORE_SCANNER_H

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
  // completely; the caller records it on the folder's node and clears it.
  bool listFailed = false;
};

// Lists the folder whose pattern (patternLength units, asterisk included) is in pathBuffer into
// the sibling tree at *tree as side 0 (source) or 1 (target). Returns Ok, or the first pool
// failure. A folder that does not exist contributes nothing; one that exists but cannot be
// listed contributes what was read before the failure and sets listFailed. Names are matched
// with the tree's exact spelling; pairs that differ only in letter case are made afterwards
// (pairCaseVariants). Special files and links to folders are kept as unlisted entries.
Rc scanFolder(ScanContext& ctx, size_t patternLength, FileNode** tree, int side);

// Creates the node for an entry that the tree does not hold yet and, for a folder, scans into
// it.
Rc addNewEntry(ScanContext& ctx, size_t patternLength, FileNode** tree, int side,
               const FindEntry& entry);

}  // namespace fw

#endif  // FERRYWICK_CORE_SCANNER_H
