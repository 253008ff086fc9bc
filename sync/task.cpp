#include "sync/task.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>

#include "formats/save_check.h"
#include "platform/file_time.h"
#include "platform/long_path.h"
#include "sync/discard.h"
#include "sync/file_ops.h"
#include "formats/state_file.h"
#include "sync/save_difference.h"
#include "sync/settings_table.h"
#include "sync/sync_all.h"
#include "sync/sync_log.h"

namespace fw {
namespace {

// A temporary file last written this long before a comparison belongs to no running sync.
constexpr uint64_t kLeftoverAge = 3600 * kTicksPerSecond;

uint64_t nowTicks() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return unixToFileTime(std::chrono::duration_cast<std::chrono::seconds>(since).count(), 0);
}

// Removes the leftover temporary files that the comparison met, and lists what went. One listed
// however young is removed only while its folder is ours or no other run changes it (a save
// into a folder inside a compared tree writes its volumes there).
void removeLeftovers(TaskState& s, const RootLocks& locks) {
  s.removedLeftovers.clear();
  for (const std::u16string& path : s.leftovers) {
    if (s.leftoversUnaged) {
      size_t cut = path.find_last_of(kPathSeparator);
      if (cut == std::u16string::npos || !locks.leftoversIn(path.substr(0, cut).c_str()))
        continue;
    }
    discardTemporary(*s.fs, path.c_str());
    uint32_t a;
    if (s.fs->getAttributes(path.c_str(), &a) == FsStatus::NotFound)
      s.removedLeftovers.push_back(fromLongPath(path.c_str()));
  }
  s.leftovers.clear();
}

// Removes the temporary files beside a save's output: all of them where its folder is locked
// (volumes of a save that was killed), else those older than an hour.
void removeSaveLeftovers(TaskState& s, const RootLocks& locks) {
  s.removedLeftovers.clear();
  std::u16string folder = folderOfFile(*s.fs, s.saveFileName);
  if (folder.empty()) return;
  uint64_t before = locks.leftoversIn(folder.c_str()) ? UINT64_MAX : nowTicks() - kLeftoverAge;
  removeTemporaryFiles(*s.fs, folder, before, &s.removedLeftovers);
}

Rc compare(TaskState& s, const RootLocks& locks) {
  s.leftovers.clear();
  CompareContext ctx;
  ctx.leftovers = &s.leftovers;
  // With every folder locked no other run writes in them: every temporary file is a leftover.
  s.leftoversUnaged = locks.complete();
  ctx.leftoverBefore = s.leftoversUnaged ? UINT64_MAX : nowTicks() - kLeftoverAge;
  ctx.fs = s.fs;
  ctx.pool = &s.pool;
  ctx.ignoreList = s.settings.ignore.c_str();
  ctx.cancel = &s.cancelRequested;
  ctx.timeShiftHours = s.settings.timeShiftHours;
  ctx.listingFailures = &s.listingFailures;
  s.entriesRead.store(0, std::memory_order_relaxed);
  ctx.entriesRead = &s.entriesRead;
  SavedSides saved(ctx);
  s.savedFileFault.clear();
  Rc rc = compareSides(&s.currentInput(0), &s.currentInput(1), &s.firstRoot, ctx);
  for (int side = 0; side < 2 && rc != Rc::Ok && s.savedFileFault.empty(); ++side)
    s.savedFileFault = saved.side[side].faultText();
  return rc;
}

// The request of a sync or save from source to target under the settings' masks.
SyncRequest requestOf(TaskState& s, const SideInput& target) {
  SyncRequest r;
  r.fs = s.fs;
  r.source = &s.currentInput(0);
  r.target = &target;
  r.firstRoot = s.firstRoot;
  r.masks = makeMarkMasks(s.settings.flagsSrc, s.settings.flagsTrg, s.settings.flagsColorize);
  r.cancel = &s.cancelRequested;
  r.rootsLocked = true;  // runTask holds them
  return r;
}

// Refuses a save of side whose tree cannot be saved whole, naming the entry.
bool savable(TaskState& s, int side) {
  SaveProblem problem;
  if (checkSavable(*s.fs, s.firstRoot, side, &s.currentInput(side), &problem) == Rc::Ok)
    return true;
  s.saveProblem = {problem.entry, problem.reason};
  return false;
}

// Creates the log a sync writes, if any (TaskState::logFile, logFolder). False when there is
// none: not asked for, or it cannot be created (logProblem says why).
bool startLog(TaskState& s, const SideInput& target, SyncLog* log) {
  if (!s.logFile.empty()) log->create(s.logFile, s.currentInput(0), target);
  else if (!s.logFolder.empty()) log->createIn(s.logFolder, s.currentInput(0), target);
  else return false;
  if (log->created()) s.logWritten = log->path();
  s.logProblem = log->problem();
  return log->good();
}

// Ends the log with the failures and totals (nothing more where a write failed before), and
// keeps the newest logs of its folder.
void endLog(TaskState& s, Rc rc, SyncLog* log) {
  if (!log->created()) return;
  log->finish(rc, isCancelled(&s.cancelRequested), s.okStats, s.failedStats, s.failures);
  s.logProblem = log->problem();
  if (s.logFile.empty()) pruneLogs(*s.fs, s.logFolder);
}

}  // namespace

int sideWithoutSavedFile(const TaskState& s) {
  for (int side = 0; side < 2; ++side)
    if (lacksSavedFile(s.kind[side], s.currentInput(side))) return side;
  return -1;
}

bool taskAllowed(TaskId id, SideKind source, SideKind target) {
  switch (id) {
    case TaskId::Sync:
      return source != SideKind::SavedState && target == SideKind::FileSystem;
    case TaskId::SaveSourceState: return source != SideKind::SavedState;
    case TaskId::SaveTargetState: return target != SideKind::SavedState;
    case TaskId::SaveDifference: return source == SideKind::FileSystem;
    case TaskId::Compare: return true;
  }
  return true;
}

std::vector<FolderUse> folderUses(TaskId id, const TaskState& s) {
  std::vector<FolderUse> uses;
  const SideInput& target = s.inputs[1][static_cast<int>(SideKind::FileSystem)];
  switch (id) {
    case TaskId::Compare:
      addRootUses(s.currentInput(0), 0, false, &uses);
      addRootUses(s.currentInput(1), 1, false, &uses);
      break;
    case TaskId::Sync: {
      MarkMasks masks = makeMarkMasks(s.settings.flagsSrc, s.settings.flagsTrg, 0);
      addRootUses(s.currentInput(0), 0, syncChangesSide(masks, 0), &uses);
      addRootUses(target, 1, syncChangesSide(masks, 1), &uses);
      break;
    }
    case TaskId::SaveSourceState:
    case TaskId::SaveTargetState:
    case TaskId::SaveDifference: {
      int side = id == TaskId::SaveTargetState ? 1 : 0;
      addRootUses(s.currentInput(side), side, false, &uses);
      addOutputUse(*s.fs, s.saveFileName, &uses);
      break;
    }
  }
  return uses;
}

Rc lockTask(TaskId id, TaskState& s, RootLocks* locks) {
  s.lockRefusal.clear();
  if (!s.fs) return Rc::BadRequest;
  Rc rc;
  try {
    rc = locks->take(*s.fs, folderUses(id, s));
    if (rc == Rc::BadRequest) s.lockRefusal = locks->refusal();
  } catch (const std::bad_alloc&) {
    rc = Rc::OutOfMemory;
  }
  return rc;
}

Rc runTask(TaskId id, TaskState& s) {
  s.failedEntry.clear();
  s.logWritten.clear();  // a log is only ever of the task just run
  s.logProblem.clear();
  if (!s.fs) return Rc::BadRequest;
  Fs& fs = *s.fs;
  s.saveProblem = EntryFailure{};
  s.lockRefusal.clear();
  if (sideWithoutSavedFile(s) >= 0) return Rc::BadRequest;  // no tree is not an empty one
  // The folders stay locked to the task's end, unless the caller holds them for longer.
  RootLocks own;
  const bool callerLocked = s.locks.held();
  if (!callerLocked) {
    if (Rc rc = lockTask(id, s, &own); rc != Rc::Ok) return rc;
  }
  const RootLocks& locks = callerLocked ? s.locks : own;
  switch (id) {
    case TaskId::SaveSourceState:
    case TaskId::SaveTargetState: {
      int side = id == TaskId::SaveSourceState ? 0 : 1;
      if (!savable(s, side)) return Rc::BadRequest;
      removeSaveLeftovers(s, locks);
      return saveSideState(fs, s.firstRoot, side, s.saveFileName.c_str(), &s.failedEntry);
    }
    case TaskId::SaveDifference: {
      s.okStats.reset();
      s.failedStats.reset();
      s.failures.clear();
      if (!taskAllowed(id, s.kind[0], s.kind[1])) return Rc::BadRequest;
      if (!savable(s, 0)) return Rc::BadRequest;
      removeSaveLeftovers(s, locks);
      const SettingEntry& size = *settingOf(&SyncSettings::splitSize);
      const int32_t splitLimit =
          s.settings.split
              ? static_cast<int32_t>(std::clamp(s.settings.splitSize, size.least, size.most))
              : kNoSplit;
      return saveDifference(requestOf(s, s.currentInput(1)), {s.okStats, s.failedStats},
                            s.saveFileName.c_str(), splitLimit, &s.failedEntry);
    }
    case TaskId::Sync:
      s.okStats.reset();
      s.failedStats.reset();
      s.failures.clear();
      s.syncRefusal.clear();
      if (!taskAllowed(id, s.kind[0], s.kind[1])) return Rc::BadRequest;
    {
      const SideInput& target = s.inputs[1][static_cast<int>(SideKind::FileSystem)];
      DiscardPolicy discard;
      if (!s.settings.backupDir.empty()) {
        Rc rc = prepareBackupFolder(fs, s.settings.backupDir, s.currentInput(0), target,
                                    &discard.backupRoot, &s.syncRefusal);
        if (rc != Rc::Ok) return rc;
      }
      discard.recycleBin = s.settings.recycleBin != 0;
      if (discard.active()) discard.stamp = discardStampNow();
      SyncRequest request = requestOf(s, target);
      request.failures = &s.failures;
      request.discard = discard.active() ? &discard : nullptr;
      SyncLog log(fs);
      if (startLog(s, target, &log)) request.observer = &log;
      Rc rc = syncAll(request, {s.okStats, s.failedStats});
      endLog(s, rc, &log);
      if (rc == Rc::Ok && !isCancelled(&s.cancelRequested)) removeLeftovers(s, locks);
      return rc;
    }
    case TaskId::Compare:
      return compare(s, locks);
  }
  return Rc::Ok;
}

const char* entryFaultText(Rc rc) {
  switch (rc) {
    case Rc::CannotOpen: return "cannot be opened";
    case Rc::BadRequest: return "its name or depth cannot be stored";
    default: return "cannot be read, or changed since the comparison or while it was read";
  }
}

}  // namespace fw
