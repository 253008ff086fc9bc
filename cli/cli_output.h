// What ferrywick-cli prints: human-readable lines by default, one JSON object per line with
// --json. Errors go to stderr as one sentence with the result code's name.
#ifndef FERRYWICK_CLI_CLI_OUTPUT_H
#define FERRYWICK_CLI_CLI_OUTPUT_H

#include <string>

#include "cli/cli_options.h"
#include "core/file_node.h"
#include "core/result.h"
#include "formats/difference_check.h"
#include "formats/project_file.h"
#include "sync/sync_stats.h"

namespace fw {

// The error on stderr, and with --json {"result":...,"message":...} on stdout.
void reportFailure(const CliOptions& options, Rc rc, const std::string& message);
// With --json, {"result":"Ok"}; nothing otherwise.
void reportResult(const CliOptions& options);
// Every entry in a category and every Conflict, then the totals. Returns whether any entry
// has an action or is a Conflict (the trees are not in step).
bool reportEntries(const CliOptions& options, FileNode* roots);
// The Ok and Failed tallies of a sync or a difference save, after a line on stderr (and with
// --json an object) for each failed entry. The JSON result is "Incomplete" when anything failed
// or leftOut entries were left alone (unreadable, conflicts, missing roots).
void reportStats(const CliOptions& options, const SyncStats& ok, const SyncStats& failed,
                 const FailureLog* failures = nullptr, size_t leftOut = 0);
bool anyFailure(const SyncStats& failed);
// One failed entry as reportStats writes it: the line on stderr (without the line end), and
// the JSON object {"failed":path,"reason":words,"status":word,"osError":code} (fsStatusWord;
// "other" where no file-system call failed, osError 0 where the system gave none).
std::string failureLine(const EntryFailure& f);
std::string failureJson(const EntryFailure& f);
void printProjectRow(const CliOptions& options, size_t row, const FolderPair& pair);
void printRootName(const CliOptions& options, size_t row, const std::u16string& name);
void reportCheck(const CliOptions& options, const DifferenceCheck& check);

}  // namespace fw

#endif  // FERRYWICK_CLI_CLI_OUTPUT_H
