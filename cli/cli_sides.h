// Turning the command line's paths into the two sides of a comparison.
#ifndef FERRYWICK_CLI_CLI_SIDES_H
#define FERRYWICK_CLI_CLI_SIDES_H

#include <string>

#include "cli/cli_options.h"
#include "core/result.h"
#include "platform/fs.h"
#include "sync/task.h"

namespace fw {

// The absolute form of a path given on the command line (UTF-8, or already converted), in this
// build's form.
std::u16string absolutePath(Fs& fs, const std::string& path);
std::u16string absolutePath(Fs& fs, std::u16string given);

// Fills each side's kind and input: the rows of --project, or per side the folders given, or
// one existing regular file, read as a saved state or else a saved difference whose stored
// root names are the side's rows. Both sides get the same number of rows (empty ones added).
// On failure *error says why, naming the file.
Rc setUpSides(const CliOptions& options, TaskState& state, std::string* error);

// Warns on stderr (unless quiet) about what a sync of the last comparison leaves out of step:
// every root that does not exist where that spares entries of the other side that the masks
// delete, every entry that could not be read and every conflict; returns how many there were.
// A root that does not exist and spares nothing gets a note, not counted: the sync creates it
// when it copies something there.
size_t warnAboutSides(const CliOptions& options, const TaskState& state);

}  // namespace fw

#endif  // FERRYWICK_CLI_CLI_SIDES_H
