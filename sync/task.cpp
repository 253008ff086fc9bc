#include "sync/task.h"

#include "formats/state_file.h"
#include "sync/save_difference.h"
#include "sync/sync_walk.h"

namespace fw {
namespace {

Rc compare(TaskState& s) {
  CompareContext ctx;
  ctx.fs = s.fs;
  ctx.pool = &s.pool;
  ctx.ignoreList = s.settings.ignore.c_str();
  ctx.cancel = &s.cancelRequested;
  SavedSides saved(ctx);
  return compareSides(&s.currentInput(0), &s.currentInput(1), &s.firstRoot, ctx);
}

}  // namespace

Rc runTask(TaskId id, TaskState& s) {
  s.cancelRequested.store(0, std::memory_order_relaxed);
  s.failedEntry.clear();
  if (!s.fs) return Rc::BadRequest;
  Fs& fs = *s.fs;
  switch (id) {
    case TaskId::SaveSourceState:
    case TaskId::SaveTargetState:
      return saveSideState(fs, s.firstRoot, id == TaskId::SaveSourceState ? 0 : 1,
                           s.saveFileName.c_str(), &s.failedEntry);
    case TaskId::SaveDifference: {
      s.okStats.reset();
      s.failedStats.reset();
      // The data section is read from the source folders: a saved source has none.
      if (s.kind[0] != SideKind::FileSystem) return Rc::BadRequest;
      int32_t splitLimit = s.settings.split ? static_cast<int32_t>(s.settings.splitSize) : kNoSplit;
      return saveDifference(fs, s.currentInput(0), s.currentInput(1), s.firstRoot,
                            s.saveFileName.c_str(), splitLimit, s.settings.flagsSrc, s.okStats,
                            s.failedStats, &s.cancelRequested, &s.failedEntry);
    }
    case TaskId::Sync:
      s.okStats.reset();
      s.failedStats.reset();
      if (s.kind[0] == SideKind::SavedState || s.kind[1] != SideKind::FileSystem)
        return Rc::BadRequest;
      return syncAll(fs, s.currentInput(0),
                     s.inputs[1][static_cast<int>(SideKind::FileSystem)], s.firstRoot,
                     s.settings.flagsSrc, s.settings.flagsTrg, s.okStats, s.failedStats,
                     &s.cancelRequested);
    case TaskId::Compare:
      return compare(s);
  }
  return Rc::Ok;
}

}  // namespace fw
