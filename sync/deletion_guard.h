// The guard against a sync that would delete much: how many files each side of each row would
// lose, against how many it has, read from the counts of a marked comparison tree (markTree),
// and the sentence that says so before the sync starts. Window-free: the Windows program asks
// with it, the command line refuses with it.
#ifndef FERRYWICK_SYNC_DELETION_GUARD_H
#define FERRYWICK_SYNC_DELETION_GUARD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/comparison.h"
#include "core/file_node.h"

namespace fw {

inline constexpr uint32_t kDefaultMassDeletePercent = 50;
inline constexpr uint32_t kDefaultMassDeleteFiles = 1000;
// A side of a row that loses fewer files than this is not asked about for its share: in a
// small folder every deletion is a large share.
inline constexpr uint32_t kDefaultMassDeleteShareFiles = 10;
// A share of 100% or more never asks: no side can lose more than all of its files.
inline constexpr uint32_t kMostMassDeletePercent = 100;

// A sync asks first when it would delete more than percent of the files of one side of a row,
// at least shareFiles of them (percent 100 or more: never for a share), or more than files
// files in all.
struct MassDeleteLimits {
  uint32_t percent = kDefaultMassDeletePercent;
  uint32_t files = kDefaultMassDeleteFiles;
  uint32_t shareFiles = kDefaultMassDeleteShareFiles;
};

// One side of one row that would lose files.
struct RowLoss {
  size_t row = 0;  // from 0
  int side = 1;    // 0 source, 1 target
  uint32_t deleting = 0;
  uint32_t existing = 0;
  std::u16string root;  // the root as the user gave it
  bool overShare = false;  // more than the share, and at least shareFiles files
};

struct DeletionCount {
  std::vector<RowLoss> losses;  // row by row, the source's before the target's
  uint64_t total = 0;           // files the sync would delete, all rows and sides
  bool overShare = false;       // some side of a row loses more than the share
  bool overTotal = false;       // more files in all than the limit
  bool needsConfirmation() const { return overShare || overTotal; }
};

// Counts the deletions of a sync of the tree whose root nodes start at firstRoot, as the last
// markTree left its counts, over the rows the sync walks (both roots given). A saved source
// is never deleted from: only its target's losses count.
DeletionCount countDeletions(FileNode* firstRoot, const SideInput& source, const SideInput& target,
                             const MassDeleteLimits& limits);

// "This sync would delete 1,234 of the 2,000 files on the target side of row 2 (D:\Backup):
// more than half of them." and, for the total, "... 1,234 files in all, more than 1,000 ...".
// Empty when the count needs no confirmation.
std::u16string massDeletionText(const DeletionCount& count, const MassDeleteLimits& limits);

// A number with a comma between groups of three digits: 1234567 -> "1,234,567".
std::u16string groupedNumber(uint64_t n);

}  // namespace fw

#endif  // FERRYWICK_SYNC_DELETION_GUARD_H
