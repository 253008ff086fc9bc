#include "app/logic/task_flow.h"

#include "core/root_overlap.h"
#include "platform/text.h"

namespace fw {

std::optional<TaskId> taskFromCommand(int commandId) {
  switch (commandId) {
    case static_cast<int>(TaskId::SaveSourceState):
    case static_cast<int>(TaskId::SaveTargetState):
    case static_cast<int>(TaskId::SaveDifference):
    case static_cast<int>(TaskId::Sync):
    case static_cast<int>(TaskId::Compare):
      return static_cast<TaskId>(commandId);
    default:
      return std::nullopt;
  }
}

bool showsCounts(TaskId id) { return id == TaskId::Sync || id == TaskId::SaveDifference; }

int progressTemplateFor(TaskId id) { return showsCounts(id) ? 118 : 120; }

const char16_t* progressCaptionFor(TaskId id) {
  switch (id) {
    case TaskId::Sync: return u"Sync in progress";
    case TaskId::SaveDifference: return u"Saving difference";
    default: return nullptr;
  }
}

TaskOutcome outcomeOf(int commandId, int resultCode) {
  if (commandId == 1 || commandId == 2) return TaskOutcome::Nothing;
  if (resultCode != 0) return TaskOutcome::ErrorBox;
  switch (commandId) {
    case static_cast<int>(TaskId::Sync): return TaskOutcome::SyncFinished;
    case static_cast<int>(TaskId::Compare): return TaskOutcome::FileTree;
    default: return TaskOutcome::Nothing;
  }
}

bool TaskGate::request(TaskId id) {
  if (!running_) {
    running_ = true;
    return true;
  }
  pending_ = id;
  return false;
}

std::optional<TaskId> TaskGate::workerReturned() {
  running_ = false;
  std::optional<TaskId> next = pending_;
  pending_.reset();
  if (next) running_ = true;
  return next;
}

std::u16string failedTaskText(TaskId id, Rc rc, const TaskState& state) {
  std::u16string text = u"Operation failed!";
  std::u16string cause;
  const bool save = id == TaskId::SaveSourceState || id == TaskId::SaveTargetState ||
                    id == TaskId::SaveDifference;
  if (!state.saveProblem.path.empty()) {
    cause = u"Cannot save: " + state.saveProblem.path + u" " +
            toUtf16(state.saveProblem.reason) + u"; nothing was written.";
  } else if (save && !state.failedEntry.empty()) {
    cause = state.failedEntry + u": " + toUtf16(entryFaultText(rc)) + u"; " +
            state.saveFileName + u" was not written.";
  } else if (rc == Rc::OutOfMemory) {
    cause = u"There is not enough memory.";
  } else if (save) {
    cause = u"Cannot write " + state.saveFileName + u".";
  } else if (id == TaskId::Sync && !state.syncRefusal.empty()) {
    cause = toUtf16(state.syncRefusal) + u"; nothing was changed.";
  } else if (id == TaskId::Sync && !state.failures.empty()) {
    // A refused apply of a difference names the file and why nothing was changed.
    cause = state.failures.back().path + u": " + toUtf16(state.failures.back().reason) + u".";
  } else if (id == TaskId::Sync && rc == Rc::BadRequest) {
    cause = state.kind[0] == SideKind::SavedState
                ? u"A saved state holds no file data and cannot be the source of a sync."
                : u"The target of a sync must be folders on disk.";
  } else if (!state.savedFileFault.empty()) {
    cause = toUtf16(state.savedFileFault) + u".";
  } else {
    for (int side = 0; side < 2; ++side) {
      if (state.kind[side] == SideKind::FileSystem) continue;
      const std::u16string& file = state.currentInput(side).savedFile;
      if (file.empty()) continue;
      if (!cause.empty()) cause += u"\n";
      cause += u"Cannot read " + file + u", or it is damaged.";
    }
  }
  if (!cause.empty()) text += u"\n\n" + cause;
  return text;
}

std::u16string failureListText(const FailureLog& failures) {
  std::u16string text;
  for (const EntryFailure& f : failures) {
    text += f.path + u": " + toUtf16(f.reason) + u"\r\n";
  }
  return text;
}

std::u16string missingRootsText(TaskState& state) {
  std::u16string text;
  if (!state.fs) return text;
  static const char16_t* kSide[2] = {u"source", u"target"};
  const std::vector<MissingRoot> missing =
      missingRoots(*state.fs, &state.currentInput(0), &state.currentInput(1));
  for (size_t i = 0; i < missing.size() && i < kMissingRootsShown; ++i) {
    const MissingRoot& m = missing[i];
    text += u"The ";
    text += kSide[m.side];
    text += u" folder \"" + m.path + u"\" does not exist. Nothing on the ";
    text += kSide[1 - m.side];
    text += u" side of that row is deleted because of it.\n";
  }
  if (missing.size() > kMissingRootsShown)
    text += u"And " + toUtf16(std::to_string(missing.size() - kMissingRootsShown)) +
            u" more folders that do not exist.\n";
  return text;
}

std::u16string overlappingRootsText(Fs& fs, const SideInput& source, const SideInput& target) {
  std::vector<RootOverlap> overlaps;
  if (findOverlappingRoots(fs, &source, &target, &overlaps) != Rc::Ok)
    return u"There is not enough memory to check the folders. Nothing was compared.";
  std::u16string text;
  for (size_t i = 0; i < overlaps.size() && i < kMissingRootsShown; ++i) {
    std::u16string line = rootOverlapText(overlaps[i]);
    line[0] = u'R';  // "row ..."
    text += line + u".\n";
  }
  if (overlaps.size() > kMissingRootsShown)
    text += u"And " + toUtf16(std::to_string(overlaps.size() - kMissingRootsShown)) +
            u" more such pairs.\n";
  if (!text.empty())
    text += u"\nA sync would copy a folder into itself or act twice on one folder. Nothing was "
            u"compared.";
  return text;
}

std::u16string syncWarningText(TaskState& state) {
  std::u16string text = missingRootsText(state);
  if (!state.fs) return text;
  const SideInput* sides[2] = {&state.currentInput(0), &state.currentInput(1)};
  const std::vector<UnlistedFolder> unlisted =
      unlistedFolders(state.firstRoot, sides[0], sides[1], &state.listingFailures);
  size_t unread = unlisted.size();
  size_t conflicts = conflictingEntries(state.firstRoot).size();
  if (unread > 0) {
    text += u"Some entries could not be read (" + toUtf16(std::to_string(unread)) +
            u"): they and what lies below them are left alone.\n";
    // The folders whose listing failed, with why, as many as the missing roots.
    static const char16_t* kSide[2] = {u"source", u"target"};
    size_t named = 0, unnamed = 0;
    for (const UnlistedFolder& u : unlisted) {
      if (!u.why.failed()) continue;
      if (named == kMissingRootsShown) {
        ++unnamed;
        continue;
      }
      ++named;
      text += u"The ";
      text += kSide[u.side];
      text += u" folder \"" + u.path + u"\" could not be listed: " +
              toUtf16(fsFailureText(u.why)) + u".\n";
    }
    if (unnamed > 0)
      text += u"And " + toUtf16(std::to_string(unnamed)) + u" more such folders.\n";
  }
  if (conflicts > 0) {
    text += u"Some entries cannot be paired with the other side (" +
            toUtf16(std::to_string(conflicts)) +
            u": a file against a folder, or names that differ only in letter case): they are "
            u"left alone.\n";
  }
  if (!text.empty()) text += u"\nSynchronise anyway?";
  return text;
}

}  // namespace fw
