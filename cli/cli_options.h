// The command line of ferrywick-cli, parsed into a plain record.
//
//   ferrywick-cli COMMAND [OPTIONS] [SOURCE TARGET]
#ifndef FERRYWICK_CLI_CLI_OPTIONS_H
#define FERRYWICK_CLI_CLI_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

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
  uint32_t flagsSrc = 0xD8;
  uint32_t flagsTrg = 0x24;
  std::string ignore = "thumbs.db";
  bool split = false;
  int32_t splitMiB = 2000;
  std::string output;       // -o FILE
  int side = 0;             // --side source|target
  bool dryRun = false;
  bool json = false;
  bool quiet = false;
  bool verify = true;       // --no-verify turns the check of a difference source off
  // The safety net.
  bool allowMassDelete = false;      // --allow-mass-delete: sync without asking
  uint32_t massDeletePercent = 50;   // --mass-delete-percent N
  uint32_t massDeleteFiles = 1000;   // --mass-delete-files N
  std::string backupDir;             // --backup-dir DIR
  uint32_t timeShiftHours = 0;       // --ignore-time-shift H
};

// The texts of --help and --version.
const char* cliUsage();
const char* cliVersion();

// Parses argv[1..]. On a usage error returns false with a one-line message in *error (the
// tool then exits with 64). "--help" and "--version" anywhere give those commands.
bool parseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error);

}  // namespace fw

#endif  // FERRYWICK_CLI_CLI_OPTIONS_H
