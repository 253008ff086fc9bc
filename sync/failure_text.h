// The reason a run gives for an entry it could not handle, in words a person reads:
// "cannot copy: the disk is full", "cannot delete: another program has it open". The words for
// the file system's part come from the one table of them, fsFailureText (platform/fs.h).
#ifndef FERRYWICK_SYNC_FAILURE_TEXT_H
#define FERRYWICK_SYNC_FAILURE_TEXT_H

#include <string>

#include "core/result.h"
#include "platform/fs.h"
#include "sync/sync_stats.h"

namespace fw {

// action ("cannot copy") with why it failed: the file-system call's failure where there was
// one; "out of memory" for OutOfMemory; otherwise the engine refused on its own, said in words
// by the result code ("cannot copy: a link to a folder lies on its path, ..."), never by its
// name.
std::string failureText(const char* action, Rc rc, const FsFailure& why);

// Names the entry at path (an engine path; kept without its long-path prefix) in log, when
// there is one. Out of memory, its name is lost; the tallies still count it.
void logFailure(FailureLog* log, const char16_t* path, const std::string& reason,
                const FsFailure& why = {});

// An entry left alone because it is not the version the comparison saw (as_compared.h), and a
// copy thrown away because its source was written while it was read.
inline constexpr const char* kChangedSinceComparison = "left alone: changed since the comparison";
inline constexpr const char* kChangedWhileCopied = "not copied: changed while it was copied";

}  // namespace fw

#endif  // FERRYWICK_SYNC_FAILURE_TEXT_H
