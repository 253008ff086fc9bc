#include "sync/task.h"

#include <algorithm>
#include <chrono>

#include "formats/save_check.h"
#include "platform/file_time.h"
#include "platform/long_path.h"
#include "sync/discard.h"
#include "sync/file_ops.h"
#include "formats/state_file.h"
#include "sync/save_difference.h"
#include "sync/settings_table.h"
#include "sync/sync_all.h"

namespace fw {
namespace {

// A temporary file last written this long before a comparison belongs to no running sync.
constexpr uint64_t kLeftoverAge = 3600 * kTicksPerSecond;

uint64_t nowTicks() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return unixToFileTime(std::chrono::duration_cast<std::chrono::seconds>(since).count(), 0);
}

// Removes the leftover temporary files that the comparison met, and lists what went.
void removeLeftovers(TaskState& s) {
  s.removedLeftovers.clear();
  for (const std::u16string& path : s.leftovers) {
    discardTemporary(*s.fs, path.c_str());
    uint32_t a;
    if (s.fs->getAttributes(path.c_str(), &a) == FsStatus::NotFound)
      s.removedLeftovers.push_back(fromLongPath(path.c_str()));
  }
  s.leftovers.clear();
}

Rc compare(TaskState& s) {
  s.leftovers.clear();
  CompareContext ctx;
  ctx.leftovers = &s.leftovers;
  ctx.leftoverBefore = nowTicks() - kLeftoverAge;
  ctx.fs = s.fs;
  ctx.pool = &s.pool;
  ctx.ignoreList = s.settings.ignore.c_str();
  ctx.cancel = &s.cancelRequested;
  ctx.timeShiftHours = s.settings.timeShiftHours;
  ctx.listingFailures = &s.listingFailures;
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

}  // namespace

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

Rc runTask(TaskId id, TaskState& s) {
  s.failedEntry.clear();
  if (!s.fs) return Rc::BadRequest;
  Fs& fs = *s.fs;
  s.saveProblem = EntryFailure{};
  switch (id) {
    case TaskId::SaveSourceState:
    case TaskId::SaveTargetState: {
      int side = id == TaskId::SaveSourceState ? 0 : 1;
      if (!savable(s, side)) return Rc::BadRequest;
      return saveSideState(fs, s.firstRoot, side, s.saveFileName.c_str(), &s.failedEntry);
    }
    case TaskId::SaveDifference: {
      s.okStats.reset();
      s.failedStats.reset();
      s.failures.clear();
      if (!taskAllowed(id, s.kind[0], s.kind[1])) return Rc::BadRequest;
      if (!savable(s, 0)) return Rc::BadRequest;
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
      Rc rc = syncAll(request, {s.okStats, s.failedStats});
      if (rc == Rc::Ok && !isCancelled(&s.cancelRequested)) removeLeftovers(s);
      return rc;
    }
    case TaskId::Compare:
      return compare(s);
  }
  return Rc::Ok;
}

const char* entryFaultText(Rc rc) {
  switch (rc) {
    case Rc::CannotOpen: return "cannot be opened";
    case Rc::BadRequest: return "its name or depth cannot be stored";
    default: return "cannot be read, or changed since the comparison";
  }
}

}  // namespace fw
