// The check a save makes before it writes anything: a state or difference file stands for a
// side's folders on another machine, where whatever it lacks reads as absent and may be deleted
// there. So a side that was not read completely, or holds an entry the file cannot carry, is not
// saved at all.
#ifndef FERRYWICK_FORMATS_SAVE_CHECK_H
#define FERRYWICK_FORMATS_SAVE_CHECK_H

#include <string>

#include "core/comparison.h"
#include "core/file_node.h"
#include "core/result.h"
#include "platform/fs.h"

namespace fw {

// Why a side cannot be saved: the first such entry (its root's path, a separator and the path
// below it in that side's spelling) and the reason in a few words.
struct SaveProblem {
  std::u16string entry;
  std::string reason;
};

// Checks side 0 or 1 of the compared tree at roots, whose rows come from input (used for the
// roots of a side of kind FileSystem: a root that does not exist). Ok when the side can be
// saved; BadRequest with *problem filled for the first of: a root that does not exist, an entry
// that could not be read (a folder not listed completely, a link to a folder, a special file),
// a Conflict, a name the file format cannot hold (too long, or not valid UTF-8 or UTF-16 text,
// also a root's), a file time the format cannot hold.
Rc checkSavable(Fs& fs, FileNode* roots, int side, const SideInput* input, SaveProblem* problem);

}  // namespace fw

#endif  // FERRYWICK_FORMATS_SAVE_CHECK_H
