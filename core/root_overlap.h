// Where folders lie in relation to one another, whatever path leads to them: the rule that the
// folder roots of a comparison stay apart, so that no sync acts twice on one folder or copies a
// tree into itself.
#ifndef FERRYWICK_CORE_ROOT_OVERLAP_H
#define FERRYWICK_CORE_ROOT_OVERLAP_H

#include <cstddef>
#include <string>
#include <vector>

#include "core/comparison.h"
#include "core/result.h"
#include "platform/fs.h"

namespace fw {

// The identities of the folder a path leads to (or, where it does not exist yet, of the nearest
// folder above it that does) and of every folder that really holds that one, innermost first:
// walked up from where it lies after links (Fs::resolvedPath), so that "..", links and other
// spellings of one folder agree. For callers that catch std::bad_alloc around their work: it may
// throw that.
std::vector<FileIdentity> identitiesUp(Fs& fs, const std::u16string& path);

// Two folder roots that are one folder or lie one inside the other: within a row (a sync would
// copy the tree into itself or delete what it copies from) or in two rows (it would act twice
// on one folder).
struct RootOverlap {
  struct Root {
    size_t row = 0;  // from 0
    int side = 0;    // 0 source, 1 target
    std::u16string path;  // as given
  };
  Root inner;  // lies inside outer, or is the same folder
  Root outer;
  bool same = false;
};

// Every pair of folder roots of the sides given (either may be null) that overlap, in the order
// of their rows, source before target. The roots of a saved side are not folders and are not
// looked at, nor are empty ones; a root that does not exist yet is judged by its nearest
// existing folder and the names below it. OutOfMemory is the only failure.
Rc findOverlappingRoots(Fs& fs, const SideInput* source, const SideInput* target,
                        std::vector<RootOverlap>* out);

// One sentence, rows counted from 1: "row 1: the target /x/A/sub lies inside the source /x/A",
// "row 2's target /b/Documents lies inside row 1's target /b", "row 1: the source /x and the
// target /y/.. are the same folder".
std::u16string rootOverlapText(const RootOverlap& overlap);

// A folder path a user gave, in the form the file functions take (fullPath, then toLongPath),
// without a trailing separator (but "/" and "C:\" keep theirs); empty when it does not fit.
std::u16string longForm(Fs& fs, const std::u16string& path);

}  // namespace fw

#endif  // FERRYWICK_CORE_ROOT_OVERLAP_H
