#include "app/logic/task_flow.h"

#include <map>
#include <vector>

#include "core/entry_action.h"
#include "core/format_size.h"
#include "core/root_overlap.h"
#include "formats/compressed_writer.h"
#include "formats/volume_set.h"
#include "platform/long_path.h"
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
    case static_cast<int>(TaskId::SaveDifference): return TaskOutcome::DifferenceSaved;
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

std::u16string savedFileMissingText(int side, SideKind kind) {
  return std::u16string(side == 0 ? u"The source" : u"The target") + u" is set to \"" +
         sideKindLabel(kind) +
         u"\" but has no file: choose one with the \"...\" button beside it. Without its file "
         u"the side is not compared as empty.";
}

std::u16string failedTaskText(TaskId id, Rc rc, const TaskState& state) {
  std::u16string text = u"Operation failed!";
  const std::u16string cause = failedTaskCause(id, rc, state);
  if (!cause.empty()) text += u"\n\n" + cause;
  if (id == TaskId::Sync && !state.logWritten.empty())
    text += u"\n\nThe log of this sync: " + fromLongPath(state.logWritten.c_str());
  return text;
}

std::u16string failedTaskCause(TaskId id, Rc rc, const TaskState& state) {
  // Refused before anything else was looked at, so no other cause can be the real one.
  if (const int side = sideWithoutSavedFile(state); side >= 0)
    return savedFileMissingText(side, state.kind[side]) + u" Nothing was read or changed.";
  std::u16string cause;
  const bool save = id == TaskId::SaveSourceState || id == TaskId::SaveTargetState ||
                    id == TaskId::SaveDifference;
  if (!state.lockRefusal.empty()) {
    // Another run holds a folder: "Row 1: the target ... is in use by another run ...".
    cause = state.lockRefusal + u".\n\nNothing was read or changed; try again once it has "
                                u"finished.";
    if (cause[0] >= u'a' && cause[0] <= u'z') cause[0] = static_cast<char16_t>(cause[0] - 32);
  } else if (!state.saveProblem.path.empty()) {
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
  return cause;
}

std::u16string savedDifferenceText(Fs& fs, const std::u16string& file, char decimalPoint) {
  // The sizes of the files in the folder of the set, by name (one listing for every volume).
  const size_t cut = file.find_last_of(u"\\/");
  const std::u16string folder = cut == std::u16string::npos ? u"." : file.substr(0, cut);
  std::map<std::u16string, uint64_t> sizes;
  FindHandle find{};
  FindEntry entry{};
  const std::u16string pattern = folder + kPathSeparator + u"*";
  if (fs.findFirst(pattern.c_str(), &find, &entry) == FsStatus::Ok) {
    do {
      sizes[entry.name] = entry.size;
    } while (fs.findNext(find, &entry) == FsStatus::Ok);
    fs.findClose(find);
  }
  std::u16string lines;
  uint32_t volumes = 0;
  uint64_t total = 0;
  for (uint32_t n = 0; n < 1000; ++n) {
    const std::u16string name = volumeName(file, n);
    // A later volume counts only as part of this set (not a leftover of an older, longer one).
    VolumeCheck check;
    if (n > 0 && checkNamedVolume(fs, name, file, n, &check) != Rc::Ok) break;
    const auto size = sizes.find(name.substr(cut == std::u16string::npos ? 0 : cut + 1));
    if (size == sizes.end()) break;
    lines += u"    " + name + u"  (" + toUtf16(formatSize(size->second, decimalPoint)) + u")\n";
    total += size->second;
    ++volumes;
  }
  if (volumes == 0) return u"The difference was saved to " + file + u".";
  if (volumes == 1) return u"The difference was saved to one file:\n" + lines;
  return u"The difference was saved in " + toUtf16(std::to_string(volumes)) + u" volumes (" +
         toUtf16(formatSize(total, decimalPoint)) + u" in all); take every one of them:\n" + lines;
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
  // A root that spares nothing the sync would delete is no concern: what is copied into it
  // creates it (a new backup folder).
  const MarkMasks masks = makeMarkMasks(state.settings.flagsSrc, state.settings.flagsTrg, 0);
  std::vector<MissingRoot> missing =
      missingRoots(*state.fs, &state.currentInput(0), &state.currentInput(1));
  std::erase_if(missing, [&](const MissingRoot& m) {
    return !missingRootEffect(state.firstRoot, m, masks).keepsEntries;
  });
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
  std::u16string text = syncWarnings(state);
  if (!text.empty()) text += u"\nSynchronise anyway?";
  return text;
}

std::u16string syncWarnings(TaskState& state) {
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
  return text;
}

}  // namespace fw
