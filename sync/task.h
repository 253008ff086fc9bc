// The background tasks without any window: the program-wide state a task reads, and the
// worker's entry that runs one task on it and returns its result code. The window layer starts
// runTask on a worker thread and posts the result; the command line calls it directly.
#ifndef FERRYWICK_SYNC_TASK_H
#define FERRYWICK_SYNC_TASK_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/cancel_flag.h"
#include "core/comparison.h"
#include "core/ignore_list.h"
#include "core/node_pool.h"
#include "core/scanner.h"
#include "core/result.h"
#include "formats/file_header.h"
#include "platform/fs.h"
#include "sync/deletion_guard.h"
#include "sync/root_locks.h"
#include "sync/sync_stats.h"

namespace fw {

// The command ids that double as task ids.
enum class TaskId : int {
  SaveSourceState = 1005,
  SaveTargetState = 1006,
  SaveDifference = 1007,
  Sync = 1008,
  Compare = 10005,
};

// The largest volume size in MiB: the writer takes a signed 32-bit size whose largest value
// means "no splitting".
inline constexpr uint32_t kMaxSplitSize = static_cast<uint32_t>(kNoSplit) - 1;
inline constexpr uint32_t kDefaultSplitSize = 2000;

// The settings values the tasks use. Their registry names, options, defaults and ranges are
// those of the table in sync/settings_table.h.
struct SyncSettings {
  uint32_t flagsSrc = kDefaultFlagsSrc;            // categories the source wins
  uint32_t flagsTrg = kDefaultFlagsTrg;            // categories the target wins
  uint32_t flagsColorize = kDefaultFlagsColorize;  // categories shown in colour
  uint32_t split = 0;                              // 1: split a saved difference into volumes
  uint32_t splitSize = kDefaultSplitSize;          // volume size in MiB, 1 to kMaxSplitSize
  std::u16string ignore = kDefaultIgnoreList;      // ignore list, patterns separated by ";"
  // The safety net. The guard asks before a sync that deletes more than massDeletePercent of
  // a side of a row (where that is at least massDeleteShareFiles files), or more than
  // massDeleteFiles in all (deletion_guard.h); the others are off unless set.
  uint32_t massDeletePercent = kDefaultMassDeletePercent;
  uint32_t massDeleteFiles = kDefaultMassDeleteFiles;
  uint32_t massDeleteShareFiles = kDefaultMassDeleteShareFiles;
  uint32_t timeShiftHours = 0;  // 1 to kMaxTimeShiftHours: whole-hour shifts are no change
  std::u16string backupDir;     // deleted and replaced files go there (discard.h); empty: gone
  uint32_t recycleBin = 0;      // 1: into the recycle bin instead, where there is no backupDir
};

inline constexpr size_t kSideKinds = 3;

// Shared by the window thread, which sets it up while no task runs, and the one worker of the
// running task. Only cancelRequested and the statistics are touched by both while a task runs.
struct TaskState {
  Fs* fs = nullptr;
  SideKind kind[2] = {SideKind::FileSystem, SideKind::FileSystem};  // 0 source, 1 target
  SideInput inputs[2][kSideKinds];  // per side, one input for each SideKind
  NodePool pool;
  FileNode* firstRoot = nullptr;  // the last comparison's chain of root nodes
  // The folders of that comparison that could not be listed, with why (for unlistedFolders).
  std::vector<ListingFailure> listingFailures;
  SyncSettings settings;
  SyncStats okStats;
  SyncStats failedStats;
  std::atomic<uint64_t> entriesRead{0};  // by a running comparison, in the folders so far
  CancelFlag cancelRequested{0};
  std::u16string saveFileName;  // chosen in a save dialog
  // Filled by the worker, read after it has ended: every entry a sync or difference apply
  // could not handle, and why a save was refused or failed (the entry and the reason).
  FailureLog failures;
  EntryFailure saveProblem;
  // Leftover temporary files of an interrupted run that the last comparison met (all of them
  // where it held the folders' locks, else those written more than an hour before it), and
  // those a sync or a save removed (as the user gave their roots).
  std::vector<std::u16string> leftovers;
  std::vector<std::u16string> removedLeftovers;
  // After a failed save: the path of the source entry that caused it, or empty when the cause
  // was not an entry (the output file, memory).
  std::u16string failedEntry;
  // Why the last sync was refused before it changed anything (its backup folder), or empty.
  std::string syncRefusal;
  // Where a sync writes its log (sync_log.h): logFile names the file; else, when logFolder is
  // set, a new file there, of which the newest kLogsKept are kept. Both empty: no log. After
  // the sync, logWritten is the file written (empty: none) and logProblem why it could not be
  // written whole (empty: it was); neither stops or fails the sync.
  std::u16string logFile;
  std::u16string logFolder;
  std::u16string logWritten;
  std::string logProblem;
  // The run's folder locks (root_locks.h) when its caller holds them over several tasks (the
  // command line: the comparison and the sync); not held, each task takes its own. Why the
  // last task was refused because another run held a folder (refusal()), or empty.
  RootLocks locks;
  std::u16string lockRefusal;
  // Whether the last comparison had every folder locked, so that leftovers lists every
  // temporary file it met, however young.
  bool leftoversUnaged = false;
  // After a failed comparison: why a side's saved file could not be read, in words that name
  // it (SavedSideReader::faultText), or empty when the failure was not the file's.
  std::string savedFileFault;

  const SideInput& currentInput(int side) const {
    return inputs[side][static_cast<int>(kind[side])];
  }
};

// A side set to a saved kind whose file was never chosen (its Open dialog was cancelled) has no
// tree at all, which is not an empty one: compared as empty it would have a sync copy all of
// the other side to it, or delete all of the other side. Every task refuses such a side.
inline bool lacksSavedFile(SideKind kind, const SideInput& input) {
  return kind != SideKind::FileSystem && !input.hasSavedFile();
}
// The first side (0 source, 1 target) whose current input lacksSavedFile, or -1.
int sideWithoutSavedFile(const TaskState& state);

// Whether the side kinds allow a task (the File Tree window's buttons follow this):
//   Sync: a source that is not a SavedState (folders, or a difference that carries the data)
//     and a FileSystem target;
//   SaveSourceState, SaveTargetState: that side is not a SavedState (its state is the file);
//   SaveDifference: a FileSystem source (a saved side has no file data);
//   Compare: always.
bool taskAllowed(TaskId id, SideKind source, SideKind target);

// The worker's entry: runs the task. The caller clears cancelRequested before it starts the
// worker, so that a cancel raised from then on is never lost:
//   SaveSourceState, SaveTargetState: the state of side 0 or 1 of the comparison to
//     saveFileName (also of a SavedState side, which the windows do not offer: a copy of the
//     file's tree);
//   SaveDifference: the difference to saveFileName (split as the settings say), refused with
//     BadRequest when taskAllowed does not allow it;
//   Sync: syncAll, refused with BadRequest when taskAllowed does not allow it, and with the
//     code of prepareBackupFolder (syncRefusal saying why) for a backupDir it refuses; deleted
//     and replaced files go to backupDir, else with recycleBin to the recycle bin; a sync that
//     runs is logged as logFile and logFolder say;
//   Compare: compareSides of both sides' current inputs into firstRoot, listing leftovers
//     (savedFileFault saying why when a saved file failed it);
//   a Sync that has run removes those leftovers (removedLeftovers);
//   any other id: nothing, Ok.
// Any task is refused with BadRequest, before it locks or reads anything, while a side is of a
// saved kind without its file (sideWithoutSavedFile).
// SaveDifference and Sync start with both statistics at zero and failures empty. A save is
// refused with BadRequest before it writes anything when its side cannot be saved whole
// (checkSavable), saveProblem then naming the entry. Without an Fs: BadRequest.
Rc runTask(TaskId id, TaskState& state);

// The folders a task uses (root_locks.h): Compare reads both sides; Sync changes the target and
// the source where the settings' masks may change them (syncChangesSide), reads the others;
// SaveSourceState and SaveTargetState read their side, SaveDifference the source, and the
// three change saveFileName's folder.
std::vector<FolderUse> folderUses(TaskId id, const TaskState& state);
// Takes into *locks the locks of a task (folderUses); a refusal is kept in lockRefusal.
Rc lockTask(TaskId id, TaskState& state, RootLocks* locks);

// Why a source entry stopped a save (failedEntry), by the save's result: a short phrase.
const char* entryFaultText(Rc rc);

}  // namespace fw

#endif  // FERRYWICK_SYNC_TASK_H
