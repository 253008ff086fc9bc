// The sync walk: carries out on disk the actions that the comparison attached to the entries of
// a compared tree, pair by pair, in both directions as the masks say, and tallies every
// operation in okStats or failedStats. The same pair loop writes the data section of a
// difference (save_difference.h).
#ifndef FERRYWICK_SYNC_SYNC_WALK_H
#define FERRYWICK_SYNC_SYNC_WALK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/file_node.h"
#include "core/result.h"
#include "platform/fs.h"
#include "sync/sync_stats.h"

namespace fw {

class CompressedWriter;
struct DiscardPolicy;

// One run's state, owned by the run.
struct WalkContext {
  CompressedWriter* writer = nullptr;  // a difference save's writer; none during a sync
  char16_t* sourcePath = nullptr;      // kPathBufferUnits units: the current source path
  char16_t* targetPath = nullptr;      // kPathBufferUnits units: the current target path
  SyncStats* okStats = nullptr;
  SyncStats* failedStats = nullptr;
  const CancelFlag* cancel = nullptr;
  size_t sourceRootLength = 0;  // source root's length plus one: where relative paths begin
  size_t targetRootLength = 0;  // the same for the target, in a sync
  uint32_t pairIndex = 0;       // index of the current folder pair, from 0
  uint32_t toTargetMask = 0;    // categories whose action is SourceWins (flagsSrc)
  uint32_t toSourceMask = 0;    // categories whose action is TargetWins (flagsTrg)
  Fs* fs = nullptr;
  // Files that a difference's data pass has tallied already, sorted by address; the folder
  // pass that follows it leaves them out of its own tallies. None in any other run.
  const std::vector<const FileNode*>* tallied = nullptr;
  // After a difference's data pass: the masks it applied, for naming files it did not write.
  uint32_t dataToTarget = 0;
  uint32_t dataToSource = 0;
  // Where every failed entry is named, or none.
  FailureLog* failures = nullptr;
  // Where a difference save's data pass names the source entry that ended it; none elsewhere.
  std::u16string* failedEntry = nullptr;
  // What becomes of the files a sync deletes or replaces (discard.h); none: they are gone.
  const DiscardPolicy* discard = nullptr;
};

// Adds an entry to ctx.failures, when there is a log: the path in the buffer and why.
void noteFailure(WalkContext& ctx, const char16_t* path, const std::string& reason);

enum class PairMode : int {
  Sync = 0,            // carry out the actions
  DifferenceData = 2,  // write the data section of a difference through the writer
};

// Synchronises every folder pair: runPairs with flagsSrc to the target, flagsTrg to the source,
// no writer, PairMode::Sync. With a source that has a saved file (a saved difference), the
// carried files are written from it first. Ok when every pair was walked, whatever failed on
// the way, and when cancelled; OutOfMemory; or the code of a difference that cannot be applied.
// Every entry that fails, and every Conflict, is also named in *failures when given. With an
// active discard policy, what is deleted or replaced is moved away as it says instead.
Rc syncAll(Fs& fs, const SideInput& source, const SideInput& target, FileNode* firstRoot,
           uint32_t flagsSrc, uint32_t flagsTrg, SyncStats& okStats, SyncStats& failedStats,
           const CancelFlag* cancel, FailureLog* failures = nullptr,
           const DiscardPolicy* discard = nullptr);

// The pair loop. Walks the rows of the source's roots together with the chain of root nodes
// (link[1]); a pair whose source root is empty is skipped, in PairMode::Sync also one whose
// target root is empty, and every pair keeps its own root node.
Rc runPairs(Fs& fs, uint32_t toTargetMask, const SideInput& source, const SideInput& target,
            FileNode* firstRoot, CompressedWriter* writer, uint32_t toSourceMask,
            SyncStats& okStats, SyncStats& failedStats, const CancelFlag* cancel,
            PairMode mode, FailureLog* failures = nullptr,
            std::u16string* failedEntry = nullptr, const DiscardPolicy* discard = nullptr);

// Applies the actions of one sibling tree. sourceLength and targetLength say where the parent
// folder's path ends in ctx.sourcePath and ctx.targetPath. Failed operations are tallied and
// the walk goes on: the result is Ok (cancelled or not).
Rc applyTree(WalkContext& ctx, size_t sourceLength, size_t targetLength, FileNode* tree);

// Puts the long form of a root into a PathBuffer, without a trailing separator (the walk
// appends separator and name), and its length into *length. False when it does not fit.
bool putRoot(char16_t* buffer, const std::u16string& root, size_t* length);

}  // namespace fw

#endif  // FERRYWICK_SYNC_SYNC_WALK_H
