// ferrywick-cli: compare, sync, save and apply from scripts, with the engine the windows use.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/cli_sides.h"
#include "cli/progress.h"
#include "core/comparison.h"
#include "core/root_overlap.h"
#include "formats/difference_check.h"
#include "formats/project_file.h"
#include "formats/volume_set.h"
#include "platform/text.h"
#include "sync/deletion_guard.h"
#include "sync/discard.h"
#include "sync/task.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace fw {
namespace {

constexpr int kExitActions = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

// The running task's cancel flag, for the interrupt handler.
CancelFlag* gCancel = nullptr;

extern "C" void onInterrupt(int) {
  if (gCancel) gCancel->store(1, std::memory_order_relaxed);
}

struct Run {
  CliOptions options;
  TaskState state;
  bool interrupted() const {
    return state.cancelRequested.load(std::memory_order_relaxed) != 0;
  }
};

// Whether a progress line may be shown: standard error is a terminal, and not --quiet.
bool liveProgress(const Run& run) { return !run.options.quiet && isatty(fileno(stderr)); }

// Runs a task with live progress on a terminal; Ctrl+C cancels it.
Rc runWithProgress(Run& run, TaskId id, bool showProgress) {
  bool live = showProgress && liveProgress(run);
  Progress progress(live ? &run.state.okStats : nullptr, &run.state.failedStats,
                    taskTotals(id, run.state), id == TaskId::SaveDifference ? "saved" : "written");
  Rc rc = runTask(id, run.state);
  progress.stop();
  return rc;
}

Rc compare(Run& run) {
  Progress progress(liveProgress(run) ? &run.state.entriesRead : nullptr);
  Rc rc = runTask(TaskId::Compare, run.state);
  progress.stop();
  if (rc == Rc::Ok && !run.interrupted()) {
    // The sync walk and the difference save read the counts and marks of this pass.
    FileNode top{};
    top.flags = Folder;
    top.children = run.state.firstRoot;
    const SyncSettings& s = run.state.settings;
    markTree(&top, makeMarkMasks(s.flagsSrc, s.flagsTrg, 0), nullptr);
  }
  return rc;
}

void reportRemovedLeftovers(const Run& run) {
  if (run.options.quiet) return;
  for (const std::u16string& path : run.state.removedLeftovers)
    std::fprintf(stderr, "ferrywick-cli: removed a leftover temporary file of an interrupted "
                         "run: %s\n", toUtf8Escaped(path).c_str());
}

// Why a comparison failed: the saved file that failed it, named, or nothing more.
std::string comparisonFailure(const Run& run) {
  return run.state.savedFileFault.empty() ? "the comparison failed" : run.state.savedFileFault;
}

int interrupted(const Run& run) {
  reportFailure(run.options, Rc::Ok, "interrupted; nothing more was done");
  return kExitInterrupted;
}

int compareCommand(Run& run) {
  Rc rc = compare(run);
  if (run.interrupted()) return interrupted(run);
  if (rc != Rc::Ok) return reportFailure(run.options, rc, comparisonFailure(run)), kExitFailed;
  warnAboutSides(run.options, run.state);
  return reportEntries(run.options, run.state.firstRoot) ? kExitActions : 0;
}

// The guard before a sync: with --dry-run the count is shown; otherwise a sync that deletes
// more than the limits is refused unless --allow-mass-delete was given. False: refused.
bool passesDeletionGuard(Run& run) {
  const CliOptions& o = run.options;
  MassDeleteLimits limits{o.settings.massDeletePercent, o.settings.massDeleteFiles,
                          o.settings.massDeleteShareFiles};
  DeletionCount count =
      countDeletions(run.state.firstRoot, run.state.currentInput(0),
                     run.state.inputs[1][static_cast<int>(SideKind::FileSystem)], limits);
  std::string text = toUtf8Escaped(massDeletionText(count, limits));
  if (o.dryRun) {
    if (o.json)
      std::printf("{\"deletes\":%llu,\"needsAllowMassDelete\":%s}\n",
                  static_cast<unsigned long long>(count.total),
                  count.needsConfirmation() ? "true" : "false");
    if (!o.quiet)
      std::fprintf(stderr, "ferrywick-cli: this sync would delete %s file%s%s%s\n",
                   toUtf8(groupedNumber(count.total)).c_str(), count.total == 1 ? "" : "s",
                   text.empty() ? "" : "; ", text.empty() ? "" : text.c_str());
    return true;
  }
  if (!count.needsConfirmation() || o.allowMassDelete) return true;
  reportFailure(o, Rc::BadRequest,
                text + " Nothing was changed; give --allow-mass-delete to sync anyway");
  return false;
}

// Refuses a backup folder inside a synced root (or holding one) before anything is compared.
bool backupFolderUsable(Run& run) {
  if (run.options.settings.backupDir.empty()) return true;
  std::u16string longForm;
  std::string why;
  Rc rc = prepareBackupFolder(*run.state.fs, run.state.settings.backupDir,
                              run.state.currentInput(0),
                              run.state.inputs[1][static_cast<int>(SideKind::FileSystem)],
                              &longForm, &why);
  if (rc == Rc::Ok) return true;
  reportFailure(run.options, rc, why + "; nothing was changed");
  return false;
}

// Refuses folder roots that are one folder or lie one inside the other, before anything is
// compared: a sync would copy a tree into itself, delete what it copies from, or act twice on
// one folder. The first pair is named, with a count of the others.
bool rootsApart(Run& run) {
  std::vector<RootOverlap> overlaps;
  Rc rc = findOverlappingRoots(*run.state.fs, &run.state.currentInput(0),
                               &run.state.currentInput(1), &overlaps);
  if (rc != Rc::Ok) {
    reportFailure(run.options, rc, "the folders could not be checked; nothing was compared");
    return false;
  }
  if (overlaps.empty()) return true;
  std::string text = toUtf8Escaped(rootOverlapText(overlaps.front()));
  if (size_t more = overlaps.size() - 1; more > 0)
    text += " (and " + std::to_string(more) + " more such pair" + (more == 1 ? "" : "s") + ")";
  reportFailure(run.options, Rc::BadRequest, text + "; nothing was compared");
  return false;
}

// Locks the folders the whole run uses (root_locks.h), from the comparison to the end of the
// sync or save: another run of this program holding one is waited for briefly, then refused
// with the folder named. A dry run only reads.
bool folderLocksTaken(Run& run) {
  TaskId id = TaskId::Compare;
  switch (run.options.command) {
    case CliCommand::Sync: id = run.options.dryRun ? TaskId::Compare : TaskId::Sync; break;
    case CliCommand::SaveState:
      id = run.options.side == 0 ? TaskId::SaveSourceState : TaskId::SaveTargetState;
      break;
    case CliCommand::SaveDiff: id = TaskId::SaveDifference; break;
    default: break;
  }
  Rc rc = lockTask(id, run.state, &run.state.locks);
  if (rc == Rc::Ok) return true;
  std::string why = run.state.lockRefusal.empty() ? "the folders could not be locked"
                                                  : toUtf8Escaped(run.state.lockRefusal);
  reportFailure(run.options, rc, why + "; nothing was compared or changed");
  return false;
}

int syncCommand(Run& run) {
  if (!taskAllowed(TaskId::Sync, run.state.kind[0], run.state.kind[1])) {
    reportFailure(run.options, Rc::BadRequest,
                  "a sync needs folders or a saved difference as source and folders as target");
    return kExitFailed;
  }
  if (!run.options.dryRun && !backupFolderUsable(run)) return kExitFailed;
  Rc rc = compare(run);
  if (run.interrupted()) return interrupted(run);
  if (rc != Rc::Ok) return reportFailure(run.options, rc, comparisonFailure(run)), kExitFailed;
  size_t leftOut = warnAboutSides(run.options, run.state);
  if (run.options.dryRun) {
    reportEntries(run.options, run.state.firstRoot);
    passesDeletionGuard(run);
    return 0;
  }
  if (!passesDeletionGuard(run)) return kExitFailed;
  // From a difference the apply checks the set as it goes, in one pass: a damaged or
  // incomplete set changes nothing, and the failure log says why.
  rc = runWithProgress(run, TaskId::Sync, true);
  // Asked for by name, so told even with --quiet; the sync's own outcome stands.
  if (!run.state.logProblem.empty())
    std::fprintf(stderr, "ferrywick-cli: warning: %s; the sync went on without it\n",
                 run.state.logProblem.c_str());
  if (run.interrupted()) return interrupted(run);
  if (rc != Rc::Ok && !run.state.syncRefusal.empty())
    return reportFailure(run.options, rc, run.state.syncRefusal + "; nothing was changed"),
           kExitFailed;
  if (rc != Rc::Ok) {
    std::string why = "the sync failed";
    if (!run.state.failures.empty())
      why += ": " + toUtf8Escaped(run.state.failures.back().path) + ": " +
             run.state.failures.back().reason;
    return reportFailure(run.options, rc, why), kExitFailed;
  }
  reportStats(run.options, run.state.okStats, run.state.failedStats, &run.state.failures,
              leftOut);
  reportRemovedLeftovers(run);
  // Whatever was left alone is not in step either: say so in the status too.
  return anyFailure(run.state.failedStats) || leftOut > 0 ? kExitActions : 0;
}

int saveCommand(Run& run, TaskId id) {
  Rc rc = compare(run);
  if (run.interrupted()) return interrupted(run);
  if (rc != Rc::Ok) return reportFailure(run.options, rc, comparisonFailure(run)), kExitFailed;
  warnAboutSides(run.options, run.state);
  rc = runWithProgress(run, id, id == TaskId::SaveDifference);
  if (run.interrupted()) return interrupted(run);
  const EntryFailure& problem = run.state.saveProblem;
  if (rc != Rc::Ok && !problem.path.empty()) {
    reportFailure(run.options, rc,
                  "cannot save: " + toUtf8Escaped(problem.path) + " " + problem.reason +
                      "; nothing was written");
    return kExitFailed;
  }
  if (rc != Rc::Ok) {
    const std::u16string& entry = run.state.failedEntry;
    reportFailure(run.options, rc,
                  entry.empty() ? "cannot write " + run.options.output
                                : toUtf8Escaped(entry) + ": " + entryFaultText(rc) + "; " +
                                      run.options.output + " was not written");
    return kExitFailed;
  }
  if (id == TaskId::SaveDifference) reportStats(run.options, run.state.okStats,
                                                run.state.failedStats);
  else reportResult(run.options);
  reportRemovedLeftovers(run);
  return 0;
}

int rootsCommand(Run& run) {
  Fs& fs = *run.state.fs;
  std::u16string path = toUtf16Escaped(run.options.file);
  Project project;
  if (loadProject(fs, path.c_str(), &project) == Rc::Ok) {
    for (size_t i = 0; i < project.rows(); ++i) printProjectRow(run.options, i, project.row(i));
    return 0;
  }
  std::vector<std::u16string> names;
  SideKind kind;
  if (readSavedRoots(fs, path.c_str(), &names, &kind) == Rc::Ok) {
    for (size_t i = 0; i < names.size(); ++i) printRootName(run.options, i, names[i]);
    return 0;
  }
  reportFailure(run.options, Rc::Failed, refusedFileText(fs, path));
  return kExitFailed;
}

// The rows as given, without comparing: for scripts that prepare a project for the windows.
int saveProjectCommand(Run& run) {
  Fs& fs = *run.state.fs;
  std::vector<std::u16string> columns[2];
  for (const std::string& s : run.options.sources) columns[0].push_back(absolutePath(fs, s));
  for (const std::string& t : run.options.targets) columns[1].push_back(absolutePath(fs, t));
  Rc rc = saveProject(fs, columns[0], columns[1], absolutePath(fs, run.options.output).c_str());
  if (rc != Rc::Ok) {
    reportFailure(run.options, rc, "cannot write " + run.options.output);
    return kExitFailed;
  }
  reportResult(run.options);
  return 0;
}

int verifyCommand(Run& run) {
  DifferenceCheck check;
  Rc rc = verifyDifference(*run.state.fs, toUtf16Escaped(run.options.file).c_str(), &check);
  if (rc != Rc::Ok) {
    reportFailure(run.options, rc, run.options.file + ": " + check.fault);
    return kExitFailed;
  }
  reportCheck(run.options, check);
  return 0;
}

int runCommand(Run& run) {
  switch (run.options.command) {
    case CliCommand::Roots: return rootsCommand(run);
    case CliCommand::Verify: return verifyCommand(run);
    case CliCommand::SaveProject: return saveProjectCommand(run);
    default: break;
  }
  std::string error;
  Rc rc = setUpSides(run.options, run.state, &error);
  if (rc != Rc::Ok) return reportFailure(run.options, rc, error), kExitFailed;
  if (!rootsApart(run)) return kExitFailed;
  if (run.options.command == CliCommand::SaveState || run.options.command == CliCommand::SaveDiff)
    run.state.saveFileName = absolutePath(*run.state.fs, run.options.output);
  if (!folderLocksTaken(run)) return kExitFailed;
  switch (run.options.command) {
    case CliCommand::Compare: return compareCommand(run);
    case CliCommand::Sync: return syncCommand(run);
    case CliCommand::SaveState:
      return saveCommand(run, run.options.side == 0 ? TaskId::SaveSourceState
                                                    : TaskId::SaveTargetState);
    case CliCommand::SaveDiff: return saveCommand(run, TaskId::SaveDifference);
    default: return kExitUsage;
  }
}

int cliMain(int argc, const char* const* argv) {
  Run run;
  std::string error;
  if (!parseCliOptions(argc, argv, &run.options, &error)) {
    std::fprintf(stderr, "ferrywick-cli: %s\nTry 'ferrywick-cli --help'.\n", error.c_str());
    return kExitUsage;
  }
  if (run.options.command == CliCommand::Help) {
    std::fputs(cliUsage(), stdout);
    return 0;
  }
  if (run.options.command == CliCommand::Version) {
    std::puts(cliVersion());
    return 0;
  }
  run.state.fs = &systemFs();
  run.state.settings = run.options.settings;
  if (!run.state.settings.backupDir.empty())
    run.state.settings.backupDir = absolutePath(*run.state.fs, run.state.settings.backupDir);
  if (!run.options.logFile.empty())
    run.state.logFile = absolutePath(*run.state.fs, run.options.logFile);
  gCancel = &run.state.cancelRequested;
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  int status = runCommand(run);
  std::fflush(stdout);
  return status;
}

}  // namespace
}  // namespace fw

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; the rest of the tool works in UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i)
    args.push_back(fw::toUtf8Escaped(reinterpret_cast<const char16_t*>(argv[i])));
  std::vector<const char*> pointers;
  for (const std::string& a : args) pointers.push_back(a.c_str());
  return fw::cliMain(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return fw::cliMain(argc, argv); }
#endif
