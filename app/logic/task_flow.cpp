#include "app/logic/task_flow.h"

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

}  // namespace fw
