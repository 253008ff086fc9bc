// The command line of ferrywick-cli, parsed into a plain record.
//
//   ferrywick-cli COMMAND [OPTIONS] [SOURCE TARGET]
#ifndef FERRYWICK_CLI_CLI_OPTIONS_H
#define FERRYWICK_CLI_CLI_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "sync/task.h"

namespace fw {

enum class CliCommand {
  None, Compare, Sync, SaveState, SaveDiff, SaveProject, Roots, Verify, Help, Version
};

struct CliOptions {
  CliCommand command = CliCommand::None;
  std::vector<std::string> sources;  // --source, or the first positional
  std::vector<std::string> targets;  // --target, or the second positional
  std::string project;               // --project FILE.fwp
  std::string file;                  // roots FILE, verify FILE.fwd
  std::string output;       // -o FILE
  std::string logFile;      // --log-file FILE: sync writes its log there
  int side = 0;             // --side source|target
  bool dryRun = false;
  bool json = false;
  bool quiet = false;
  bool verify = true;       // --no-verify turns the check of a difference source off
  bool allowMassDelete = false;  // --allow-mass-delete: sync even past the mass-delete limits
  // What the options of the setting table (sync/settings_table.h) set, from its defaults:
  // --flags-src, --ignore, --split, --backup-dir (as given, not yet made absolute) and others.
  SyncSettings settings;
};

// The texts of --help and --version. The usage lists the settings' options from the table.
const char* cliUsage();
const char* cliVersion();

// Parses argv[1..]. On a usage error returns false with a one-line message in *error (the
// tool then exits with 64). "--help" and "--version" anywhere give those commands.
bool parseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error);

}  // namespace fw

#endif  // FERRYWICK_CLI_CLI_OPTIONS_H
