// What the File Tree window hands the shell for an entry, and what it makes of the entry when
// it looks at the disk again: which side's copy is opened, the form of a long path the shell
// can take, and whether the entry is still what the comparison saw. Window-free.
#ifndef FERRYWICK_APP_LOGIC_SHELL_ENTRY_H
#define FERRYWICK_APP_LOGIC_SHELL_ENTRY_H

#include <functional>
#include <string>
#include <vector>

#include "core/file_node.h"
#include "platform/fs.h"

namespace fw {

// Whether the comparison saw the entry on side (0 source, 1 target).
bool comparedOnSide(const FileNode* node, int side);

// An entry's path on each side. chain: the nodes from the pair root down to the entry. roots:
// the row's root folder per side, empty where the side has none. path[s] is the root of side s
// followed by the entry's names below it in that side's spelling; empty where the side has no
// root (or the chain is empty).
struct SidePaths {
  std::u16string path[2];
};
SidePaths sidePaths(const std::vector<const FileNode*>& chain, const std::u16string roots[2]);

// The entry's copies the shell can be handed: sidePaths kept where the side is a folder on disk
// (onDisk: a saved state or difference holds no files to open) and the comparison saw the
// entry there, empty elsewhere.
SidePaths copiesOnDisk(const std::vector<const FileNode*>& chain, const std::u16string roots[2],
                       const bool onDisk[2]);

// The side a double click opens: the target's copy when there is one, else the source's; -1
// when neither side has one on disk.
int sideToOpen(const SidePaths& copies);

// The longest path the shell's calls take (MAX_PATH less its terminator). They do not take the
// "\\?\" form that lifts that limit for the file functions.
inline constexpr size_t kShellPathLimit = 259;

// The form of path to hand the shell: the path itself when it is short enough, else its short
// (8.3) form, which shortForm gives for the path's "\\?\" form (the only form in which a longer
// path can be looked up; empty when the system has none). Empty when neither fits: the shell
// cannot be given this entry.
std::u16string shellFormOf(const std::u16string& path,
                           const std::function<std::u16string(const std::u16string&)>& shortForm);

// One side of an entry looked at again on disk.
enum class DiskState {
  NotLooked,   // the side is not on disk, or was not examined
  AsCompared,  // what the comparison saw: the same file version, a folder still a folder, or
               // still nothing where there was nothing
  Gone,        // the comparison saw it, nothing is there now
  Changed,     // another version, another kind of entry, or something where there was nothing
  Unknown,     // it cannot be examined now
};

// Side s of node at fsPath (in the form the file functions take). Not looked at for an entry
// marked Conflict, nor on a side marked unlisted.
DiskState recheckSide(Fs& fs, const std::u16string& fsPath, const FileNode* node, int side);

// Whether the sides' states call for the entry to be marked: something gone or changed.
bool changedOnDisk(const DiskState states[2]);

// The text a marked entry shows: its name and what became of it, "(changed since the
// comparison)" when a side changed, otherwise which side it is gone from.
std::u16string changedLabel(const char16_t* name, const DiskState states[2]);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_SHELL_ENTRY_H
