// The decisions around a background task that need no window: which progress window it gets,
// what the user sees when it ends, and the rule that only one worker runs at a time.
#ifndef FERRYWICK_APP_LOGIC_TASK_FLOW_H
#define FERRYWICK_APP_LOGIC_TASK_FLOW_H

#include <optional>
#include <string>

#include "sync/task.h"

namespace fw {

// A task id from a command id; none for ids that are not tasks.
std::optional<TaskId> taskFromCommand(int commandId);

// The progress window's template: the summary dialog (118) for a sync or a difference save,
// the small "Working..." window (120) for everything else; and the caption the summary dialog
// takes in that role (null: keep the template's).
int progressTemplateFor(TaskId id);
const char16_t* progressCaptionFor(TaskId id);
// Whether the progress window shows counts (and so runs its timer).
bool showsCounts(TaskId id);

enum class TaskOutcome {
  Nothing,       // a cancel, or a saved state
  ErrorBox,      // "Operation failed!"
  SyncFinished,  // the modal summary
  FileTree,      // the File Tree window over the new comparison
  DifferenceSaved,  // what was written, for the user to carry
};
// What follows a command that reached the progress window: its buttons (1, 2) are a cancel;
// a task id carries the worker's result code.
TaskOutcome outcomeOf(int commandId, int resultCode);

// One line for each root of a folder side that does not exist where that spares entries of the
// other side which a sync with the settings' masks would delete (a row of it is compared as if
// that folder were empty, missingRootEffect), at most kMissingRootsShown of them and a count of
// the rest; empty when there is none. A root that spares nothing is left unsaid: the sync
// creates it when it copies something there. Shown after a comparison, before its File Tree
// window.
inline constexpr size_t kMissingRootsShown = 12;
std::u16string missingRootsText(TaskState& state);

// The refusal shown instead of a comparison whose folder roots are one folder or lie one
// inside the other, within a row or across rows (findOverlappingRoots): a line for each pair,
// at most kMissingRootsShown of them and a count of the rest, then why nothing was compared.
// Empty when the roots are apart.
std::u16string overlappingRootsText(Fs& fs, const SideInput& source, const SideInput& target);

// The warning shown before a sync of the compared state: a root that does not exist where
// that spares entries (missingRootsText), entries that could not be read or
// paired (left alone). Empty when there is nothing to warn about.
std::u16string syncWarningText(TaskState& state);
// The same lines without the question, for a dialog that asks it itself.
std::u16string syncWarnings(TaskState& state);

// What is wrong with a side of a saved kind that has no file (lacksSavedFile): which side, and
// how to give it one.
std::u16string savedFileMissingText(int side, SideKind kind);

// The message of a task that ended with a result other than Ok: "Operation failed!" and,
// after an empty line, what caused it when that is known (the entry that stopped a save, the
// file that could not be written, the saved side that could not be read), and where a sync
// wrote a log before it failed, where that log is.
std::u16string failedTaskText(TaskId id, Rc rc, const TaskState& state);
// Only what caused it, as failedTaskText words it after the empty line; empty when unknown. A
// side without its saved file (sideWithoutSavedFile) is named before any other cause.
std::u16string failedTaskCause(TaskId id, Rc rc, const TaskState& state);

// After a difference save: the file and each further volume of its set that is there, each with
// its size, so that the user knows what to carry.
std::u16string savedDifferenceText(Fs& fs, const std::u16string& file, char decimalPoint = '.');

// The entries a sync or a difference apply could not handle, one per line ("path: reason",
// lines ended by CR LF for an edit control).
std::u16string failureListText(const FailureLog& failures);

// One worker at a time. A task asked for while an earlier worker still runs (one that was
// cancelled and has not reached its next check yet, or a state save) waits for it: it is kept
// as pending and handed out when the running worker returns. Window thread only.
class TaskGate {
 public:
  // True: start the worker now (it counts as running). False: it is pending.
  bool request(TaskId id);
  // The running worker has returned; the pending task, if any, is to start now (and runs).
  std::optional<TaskId> workerReturned();
  // Forgets the pending task (its progress window was cancelled before it started).
  void dropPending() { pending_.reset(); }
  bool running() const { return running_; }
  std::optional<TaskId> pending() const { return pending_; }

 private:
  bool running_ = false;
  std::optional<TaskId> pending_;
};

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_TASK_FLOW_H
